// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "image/bmp_pixels.h"

#include <algorithm>
#include <bit>
#include <cstddef>

namespace dotloom::bmp {
namespace {

std::uint32_t Little(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t size) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value |= std::uint32_t{bytes[at + i]} << (8 * i);
  return value;
}

// A channel of a 64-bit pixel: signed fixed point with 13 fraction bits, 1.0 at 0x2000;
// what lies outside 0 to 1 is clipped.
std::uint8_t FixedPoint(std::span<const std::uint8_t> bytes, std::size_t at) {
  constexpr std::int32_t kOne = 1 << 13;
  const auto value = static_cast<std::int16_t>(Little(bytes, at, 2));
  return ScaleChannel(static_cast<std::uint64_t>(std::clamp<std::int32_t>(value, 0, kOne)), kOne);
}

}  // namespace

std::uint8_t ScaleChannel(std::uint64_t value, std::uint64_t max) {
  if (max == 0) return 0;
  value = std::min(value, max);
  return static_cast<std::uint8_t>((2 * 255 * value + max) / (2 * max));
}

Channel::Channel(std::uint32_t mask)
    : mask_(mask), shift_(mask == 0 ? 0U : static_cast<unsigned>(std::countr_zero(mask))) {}

std::uint8_t Channel::Of(std::uint32_t pixel) const {
  return ScaleChannel((pixel & mask_) >> shift_, mask_ >> shift_);
}

Colour PaletteColour(const std::vector<Colour>& palette, std::uint32_t index) {
  return index < palette.size() ? palette[index] : kWhite;
}

RowDecoder::RowDecoder(const Layout& layout)
    : layout_(layout),
      channels_{Channel(layout.masks[0]), Channel(layout.masks[1]), Channel(layout.masks[2])} {}

std::uint64_t RowDecoder::BytesFor(int count) const {
  return (static_cast<std::uint64_t>(count) * static_cast<std::uint64_t>(layout_.bits_per_pixel) +
          7) /
         8;
}

void RowDecoder::Decode(std::span<const std::uint8_t> row, std::span<Colour> out) const {
  const auto bits = static_cast<unsigned>(layout_.bits_per_pixel);
  for (std::size_t x = 0; x < out.size(); ++x) {
    Colour& colour = out[x];
    if (bits <= 8) {
      // Packed from the most significant bit of each byte.
      const std::size_t bit = x * bits;
      const unsigned shift = 8 - bits - static_cast<unsigned>(bit % 8);
      const auto index = static_cast<std::uint32_t>(row[bit / 8] >> shift) & ((1U << bits) - 1U);
      colour = PaletteColour(layout_.palette, index);
    } else if (bits == 24 && layout_.compression != Compression::kBitfields) {
      colour = Rgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
    } else if (bits == 64) {
      colour = Rgb(FixedPoint(row, 8 * x + 4), FixedPoint(row, 8 * x + 2), FixedPoint(row, 8 * x));
    } else {
      const std::size_t size = bits / 8;
      const std::uint32_t pixel = Little(row, size * x, size);
      colour = Rgb(channels_[0].Of(pixel), channels_[1].Of(pixel), channels_[2].Of(pixel));
    }
  }
}

}  // namespace dotloom::bmp
