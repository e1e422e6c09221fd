// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "image/bmp_write.h"

#include <cstddef>

namespace dotloom::bmp {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
// About 100 dots per inch, the resolution the program has always written.
constexpr std::uint32_t kPixelsPerMetre = 3937;

void Put(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) {
    out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

}  // namespace

std::vector<std::uint8_t> Write(const Picture& image) {
  const auto width = static_cast<std::size_t>(image.width());
  const auto height = static_cast<std::size_t>(image.height());
  const std::size_t row_bytes = (3 * width + 3) / 4 * 4;
  const std::size_t offset = kFileHeaderSize + kInfoHeaderSize;
  std::vector<std::uint8_t> out(offset + row_bytes * height, 0);
  out[0] = 'B';
  out[1] = 'M';
  Put(out, 2, static_cast<std::uint32_t>(out.size()), 4);
  Put(out, 10, static_cast<std::uint32_t>(offset), 4);
  Put(out, 14, kInfoHeaderSize, 4);
  Put(out, 18, static_cast<std::uint32_t>(width), 4);
  Put(out, 22, static_cast<std::uint32_t>(height), 4);
  Put(out, 26, 1, 2);   // planes
  Put(out, 28, 24, 2);  // bits a pixel; compression 0, no palette
  Put(out, 34, static_cast<std::uint32_t>(row_bytes * height), 4);
  Put(out, 38, kPixelsPerMetre, 4);
  Put(out, 42, kPixelsPerMetre, 4);
  for (std::size_t y = 0; y < height; ++y) {
    std::uint8_t* row = out.data() + offset + (height - 1 - y) * row_bytes;
    for (std::size_t x = 0; x < width; ++x) {
      const Colour colour = image.At(static_cast<int>(x), static_cast<int>(y));
      row[3 * x] = Blue(colour);
      row[3 * x + 1] = Green(colour);
      row[3 * x + 2] = Red(colour);
    }
  }
  return out;
}

}  // namespace dotloom::bmp
