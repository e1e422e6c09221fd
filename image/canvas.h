#pragma once

#include <array>
#include <cstddef>

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

  // Replaces the background picture. Only the part the interior can show is kept: the
  // control never resizes, so the rest could never be shown, read or saved.
  void SetPicture(const Picture& picture);
  const Picture& picture() const { return picture_; }

  // The composite of all three layers over the whole interior.
  Picture Image() const;

 private:
  // Marks a drawing pixel that PSet has not touched; no colour has its top byte set.
  static constexpr Colour kUnpainted = 0xFF000000;
  static constexpr std::size_t kPixels = std::size_t{kWidth} * kHeight;

  Colour Shown(int x, int y) const;

  Colour back_colour_;
  Picture picture_;
  std::array<Colour, kPixels> drawing_;
};

}  // namespace dotloom
