// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "image/colour.h"
#include "image/picture.h"

namespace dotloom {

// The program's only image store: the drawable interior of the picture control.
//
// Three layers, bottom to top: the background colour over the whole interior, an optional
// background picture drawn 1:1 from (0, 0) and clipped, and the drawing (pixels set by PSet).
// Coordinates are whole pixels from the top-left, y downward.
class Canvas {
 public:
  static constexpr int kWidth = 99;
  static constexpr int kHeight = 52;

  // The interior in strips of 8 rows, the last one half used: the layout of small monochrome
  // display controllers, and so of Bitfiles.
  static constexpr int kStripHeight = 8;
  static constexpr int kStrips = (kHeight + kStripHeight - 1) / kStripHeight;

  // A black background would make every cleared pixel encode as a 1 bit, so black is
  // replaced by white.
  explicit Canvas(Colour back_colour = kWhite);

  Colour BackColor() const { return back_colour_; }

  // Discards the drawing; the background picture stays.
  void Cls();
  // Paints one pixel. Points outside the interior, or not numbers at all, are ignored.
  void PSet(double x, double y, Colour colour = kBlack);
  // The colour shown at (x, y). Outside the interior this is the background colour, so
  // it never reads as black.
  Colour Point(double x, double y) const;

  // Strip-at-a-time forms of PSet and Point for callers that touch thousands of pixels, such
  // as the Bitfile codec. A strip is one byte per column from x = 0, and bit k of a byte is
  // the pixel of row kStripHeight * strip + k. PSetBlackStrip is PSet(x, y, kBlack) for every
  // set bit; BlackStrip sets the bit of every pixel for which Point(x, y) == kBlack and clears
  // the others. Bytes and bits past the interior are ignored or read as 0, as are strips
  // outside it.
  void PSetBlackStrip(int strip, std::span<const std::uint8_t> columns);
  void BlackStrip(int strip, std::span<std::uint8_t> columns) const;

  // Replaces the background picture. Only the part the interior can show is kept: the
  // control never resizes, so the rest could never be shown, read or saved. Its kTransparent
  // pixels show the background colour.
  void SetPicture(const Picture& picture);
  const Picture& picture() const { return picture_; }

  // The composite of all three layers over the whole interior.
  Picture Image() const;

 private:
  static constexpr std::size_t kPixels = std::size_t{kWidth} * kHeight;

  // One bit per pixel, laid out in strips as above.
  using Plane = std::array<std::uint8_t, std::size_t{kStrips} * kWidth>;

  Colour Shown(int x, int y) const;

  Colour back_colour_;
  Picture picture_;
  // The drawing as bit planes in the Bitfile's own layout, so that Cls and a whole Bitfile
  // cost a few dozen vector operations rather than one store per pixel: painted_ marks every
  // pixel PSet has touched since Cls, black_ those of them painted black, and colour_ holds
  // the colour of the others. picture_black_ marks the picture's black pixels.
  Plane painted_{};
  Plane black_{};
  Plane picture_black_{};
  std::array<Colour, kPixels> colour_{};
};

}  // namespace dotloom
