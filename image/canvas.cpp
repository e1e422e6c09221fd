// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "image/canvas.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace dotloom {
namespace {

constexpr Colour kColourMask = 0xFFFFFF;

// The pixel that contains (x, y), or nothing when that is outside the interior.
std::optional<std::pair<int, int>> PixelAt(double x, double y) {
  if (!(x >= 0.0 && y >= 0.0 && x < Canvas::kWidth && y < Canvas::kHeight)) return std::nullopt;
  return std::pair{static_cast<int>(std::floor(x)), static_cast<int>(std::floor(y))};
}

std::size_t Index(int x, int y) {
  return static_cast<std::size_t>(y) * Canvas::kWidth + static_cast<std::size_t>(x);
}

// Where pixel (x, y) lives in a plane: the byte, and the bit in it.
std::size_t StripIndex(int x, int y) {
  return static_cast<std::size_t>(y / Canvas::kStripHeight) * Canvas::kWidth +
         static_cast<std::size_t>(x);
}
std::uint8_t StripBit(int y) {
  return static_cast<std::uint8_t>(1U << static_cast<unsigned>(y % Canvas::kStripHeight));
}

// The bits of a strip's bytes that lie inside the interior: all but in the last strip.
std::uint8_t RowsInside(int strip) {
  const int rows = std::min(Canvas::kStripHeight, Canvas::kHeight - strip * Canvas::kStripHeight);
  return static_cast<std::uint8_t>((1U << static_cast<unsigned>(rows)) - 1U);
}

}  // namespace

Canvas::Canvas(Colour back_colour) : back_colour_(back_colour & kColourMask) {
  if (back_colour_ == kBlack) back_colour_ = kWhite;
  Cls();
}

void Canvas::Cls() {
  painted_ = {};
  black_ = {};
}

void Canvas::PSet(double x, double y, Colour colour) {
  const auto pixel = PixelAt(x, y);
  if (!pixel) return;
  const auto [px, py] = *pixel;
  const std::size_t at = StripIndex(px, py);
  const std::uint8_t bit = StripBit(py);
  colour &= kColourMask;
  painted_[at] |= bit;
  if (colour == kBlack) {
    black_[at] |= bit;
  } else {
    black_[at] &= static_cast<std::uint8_t>(~bit);
    colour_[Index(px, py)] = colour;
  }
}

Colour Canvas::Point(double x, double y) const {
  const auto pixel = PixelAt(x, y);
  return pixel ? Shown(pixel->first, pixel->second) : back_colour_;
}

void Canvas::PSetBlackStrip(int strip, std::span<const std::uint8_t> columns) {
  if (strip < 0 || strip >= kStrips) return;
  const std::size_t count = std::min(columns.size(), std::size_t{kWidth});
  const std::uint8_t inside = RowsInside(strip);
  const std::size_t start = StripIndex(0, strip * kStripHeight);
  for (std::size_t x = 0; x < count; ++x) {
    const auto bits = static_cast<std::uint8_t>(columns[x] & inside);
    painted_[start + x] |= bits;
    black_[start + x] |= bits;
  }
}

void Canvas::BlackStrip(int strip, std::span<std::uint8_t> columns) const {
  const std::size_t count = std::min(columns.size(), std::size_t{kWidth});
  std::fill(columns.begin() + static_cast<std::ptrdiff_t>(count), columns.end(), std::uint8_t{0});
  if (strip < 0 || strip >= kStrips) {
    std::fill_n(columns.begin(), count, std::uint8_t{0});
    return;
  }
  const std::uint8_t inside = RowsInside(strip);
  const std::size_t start = StripIndex(0, strip * kStripHeight);
  // The background colour is never black: a pixel shows black when it was painted black, or
  // when it was not painted and the picture is black there.
  for (std::size_t x = 0; x < count; ++x) {
    const std::size_t at = start + x;
    columns[x] =
        static_cast<std::uint8_t>((black_[at] | (~painted_[at] & picture_black_[at])) & inside);
  }
}

void Canvas::SetPicture(const Picture& picture) {
  picture_ = picture.TopLeft(kWidth, kHeight);
  picture_black_ = {};
  for (int y = 0; y < picture_.height(); ++y) {
    for (int x = 0; x < picture_.width(); ++x) {
      if (picture_.At(x, y) == kBlack) picture_black_[StripIndex(x, y)] |= StripBit(y);
    }
  }
}

Picture Canvas::Image() const {
  Picture image(kWidth, kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) image.Set(x, y, Shown(x, y));
  }
  return image;
}

Colour Canvas::Shown(int x, int y) const {
  const std::size_t at = StripIndex(x, y);
  const std::uint8_t bit = StripBit(y);
  if ((black_[at] & bit) != 0) return kBlack;
  if ((painted_[at] & bit) != 0) return colour_[Index(x, y)];
  if (picture_.Contains(x, y) && picture_.At(x, y) != kTransparent) return picture_.At(x, y);
  return back_colour_;
}

}  // namespace dotloom
