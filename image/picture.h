// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "image/colour.h"

namespace dotloom {

// A small raster of colours, row by row from the top-left pixel.
class Picture {
 public:
  Picture() = default;
  // Negative sizes count as 0.
  Picture(int width, int height, Colour fill = kWhite);

  int width() const { return width_; }
  int height() const { return height_; }
  bool empty() const { return pixels_.empty(); }

  bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
  // x and y must lie inside (see Contains).
  Colour At(int x, int y) const { return pixels_[Index(x, y)]; }
  void Set(int x, int y, Colour colour) { pixels_[Index(x, y)] = colour; }

  std::span<const Colour> pixels() const { return pixels_; }

  // The top-left part of at most width x height pixels.
  Picture TopLeft(int width, int height) const;

  bool operator==(const Picture&) const = default;

 private:
  std::size_t Index(int x, int y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
           static_cast<std::size_t>(x);
  }

  int width_ = 0;
  int height_ = 0;
  std::vector<Colour> pixels_;
};

}  // namespace dotloom
