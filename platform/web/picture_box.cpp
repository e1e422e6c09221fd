// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "platform/web/picture_box.h"

#include <algorithm>
#include <cstddef>

#include "window/window_description.h"

namespace dotloom {

PictureBox::PictureBox(const Colours& colours) : colours_(colours), canvas_(colours[kBackground]) {}

std::span<const std::uint8_t> PictureBox::Draw(int scale) {
  const window::Size size = window::PictureSize(scale);
  const Picture image = canvas_.Image();
  const int edge = window::kBorder * scale;
  rgba_.resize(static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height) * 4);
  std::size_t at = 0;
  for (int y = 0; y < size.height; ++y) {
    for (int x = 0; x < size.width; ++x) {
      // The classic sunken edge: two lines, each a canvas pixel wide, dark at the top and
      // left and light at the bottom and right; the corners go to the bottom-right colour
      // where the lines meet on the diagonal, as a desktop draws them.
      const int from_edge =
          std::min(std::min(x, y), std::min(size.width - 1 - x, size.height - 1 - y));
      Colour colour = 0;
      if (from_edge < edge) {
        const bool inner = from_edge >= scale;
        const bool top_left = (x == from_edge || y == from_edge) &&
                              x < size.width - 1 - from_edge && y < size.height - 1 - from_edge;
        colour = colours_[inner ? (top_left ? kInnerTopLeft : kInnerBottomRight)
                                : (top_left ? kOuterTopLeft : kOuterBottomRight)];
      } else {
        colour = image.At((x - edge) / scale, (y - edge) / scale);
      }
      rgba_[at++] = Red(colour);
      rgba_[at++] = Green(colour);
      rgba_[at++] = Blue(colour);
      rgba_[at++] = 0xFF;
    }
  }
  return rgba_;
}

}  // namespace dotloom
