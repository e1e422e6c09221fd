// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "image/picture.h"

#include <algorithm>

namespace dotloom {

Picture::Picture(int width, int height, Colour fill)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      pixels_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_), fill) {
  if (pixels_.empty()) width_ = height_ = 0;
}

Picture Picture::TopLeft(int width, int height) const {
  Picture part(std::min(width, width_), std::min(height, height_));
  for (int y = 0; y < part.height_; ++y) {
    const auto row = pixels_.begin() + static_cast<std::ptrdiff_t>(Index(0, y));
    std::copy(row, row + part.width_,
              part.pixels_.begin() + static_cast<std::ptrdiff_t>(part.Index(0, y)));
  }
  return part;
}

}  // namespace dotloom
