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

// The smallest length of at least logical logical pixels that is a whole number of device
// pixels at display_scale. A Wayland compositor maps a window's buffer onto its logical size
// times the scale: at 1.5 a window 139 wide covers 208.5 device pixels, its 209-pixel buffer
// gets resampled and every canvas pixel's edge blurs. Wayland's scales are 120ths, so one of
// the next 120 lengths fits; at any other scale logical is returned as it is.
constexpr int WholeDeviceLength(int logical, double display_scale) {
  constexpr int kSteps = 120;
  constexpr double kTolerance = 1e-6;
  if (!(display_scale > 0 && display_scale <= 64)) return logical;  // also not a number
  for (int length = logical; length < logical + kSteps; ++length) {
    const double device = length * display_scale;
    const auto nearest = static_cast<double>(static_cast<long long>(device + 0.5));
    if (device - nearest < kTolerance && nearest - device < kTolerance) return length;
  }
  return logical;
}

}  // namespace dotloom
