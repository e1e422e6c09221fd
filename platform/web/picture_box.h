// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "image/canvas.h"
#include "image/colour.h"

namespace dotloom {

// The picture control of the page: the canvas in its sunken edge, drawn as the RGBA pixels
// the page's <canvas> shows one to one in device pixels, each canvas pixel a block of scale x
// scale of them.
class PictureBox {
 public:
  // The colours the control takes from the browser, each a CSS system colour the page reads
  // out: the canvas's background (as the window's description names it) and the edge's outer
  // and inner lines, top-left and bottom-right. The edge's are current CSS system colours:
  // browsers draw the deprecated 3-D ones (ButtonShadow, ThreeDLight...) flat or black.
  enum Role { kBackground, kOuterTopLeft, kOuterBottomRight, kInnerTopLeft, kInnerBottomRight };
  static constexpr std::array<std::string_view, 5> kCssColours = {
      "HighlightText", "GrayText", "Canvas", "CanvasText", "ButtonFace"};
  using Colours = std::array<Colour, kCssColours.size()>;

  explicit PictureBox(const Colours& colours);

  Canvas& canvas() { return canvas_; }

  // The control at scale, row by row from the top-left, 4 bytes a pixel.
  std::span<const std::uint8_t> Draw(int scale);

 private:
  Colours colours_;
  Canvas canvas_;
  std::vector<std::uint8_t> rgba_;
};

}  // namespace dotloom
