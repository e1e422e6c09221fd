#include "image/canvas.h"

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

}  // namespace

Canvas::Canvas(Colour back_colour) : back_colour_(back_colour & kColourMask) {
  if (back_colour_ == kBlack) back_colour_ = kWhite;
  Cls();
}

void Canvas::Cls() { drawing_.fill(kUnpainted); }

void Canvas::PSet(double x, double y, Colour colour) {
  if (const auto pixel = PixelAt(x, y)) {
    drawing_[Index(pixel->first, pixel->second)] = colour & kColourMask;
  }
}

Colour Canvas::Point(double x, double y) const {
  const auto pixel = PixelAt(x, y);
  return pixel ? Shown(pixel->first, pixel->second) : back_colour_;
}

void Canvas::SetPicture(const Picture& picture) { picture_ = picture.TopLeft(kWidth, kHeight); }

Picture Canvas::Image() const {
  Picture image(kWidth, kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) image.Set(x, y, Shown(x, y));
  }
  return image;
}

Colour Canvas::Shown(int x, int y) const {
  const Colour drawn = drawing_[Index(x, y)];
  if (drawn != kUnpainted) return drawn;
  if (picture_.Contains(x, y)) return picture_.At(x, y);
  return back_colour_;
}

}  // namespace dotloom
