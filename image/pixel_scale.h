// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

namespace dotloom {

// How many device pixels wide and high each canvas pixel is drawn on a display whose scale
// (device pixels per logical pixel: 1.5 at 144 dpi) is display_scale: the scale rounded to
// the nearest whole number, halves up, and never below 1. A whole number keeps each canvas
// pixel a square block of one colour; a fractional one would draw some pixels one device
// pixel wide and their neighbours two. Both window systems follow this one rule.
constexpr int PixelScale(double display_scale) {
  // Far beyond any display, and far from making the window's size overflow.
  constexpr int kLargest = 64;
  if (!(display_scale >= 1.5)) return 1;  // also a scale that is not a number
  if (display_scale >= kLargest) return kLargest;
  return static_cast<int>(display_scale + 0.5);
}

}  // namespace dotloom
