// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "platform/qt/image_conversion.h"

#include <algorithm>
#include <cstdint>

namespace dotloom {

QImage ToQImage(const Picture& picture) {
  QImage image(picture.width(), picture.height(), QImage::Format_RGB32);
  for (int y = 0; y < picture.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < picture.width(); ++x) {
      const Colour colour = picture.At(x, y);
      line[x] = qRgb(Red(colour), Green(colour), Blue(colour));
    }
  }
  return image;
}

Picture ToPicture(const QImage& image, int clip_width, int clip_height) {
  // Only the clipped part is converted; a large picture is never copied whole.
  const QImage part =
      image.copy(0, 0, std::min(clip_width, image.width()), std::min(clip_height, image.height()))
          .convertToFormat(QImage::Format_RGB32);
  Picture picture(part.width(), part.height());
  for (int y = 0; y < picture.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(part.constScanLine(y));
    for (int x = 0; x < picture.width(); ++x) {
      const QRgb pixel = line[x];
      picture.Set(
          x, y,
          Rgb(static_cast<std::uint8_t>(qRed(pixel)), static_cast<std::uint8_t>(qGreen(pixel)),
              static_cast<std::uint8_t>(qBlue(pixel))));
    }
  }
  return picture;
}

}  // namespace dotloom
