// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "platform/qt/image_conversion.h"

#include "window/window_description.h"

namespace dotloom {

QImage ToQImage(const Picture& picture) {
  QImage image(picture.width(), picture.height(), QImage::Format_RGB32);
  for (int y = 0; y < picture.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < picture.width(); ++x) {
      // Opaque, as the format wants.
      line[x] = 0xFF000000U | window::ToScreenPixel(picture.At(x, y));
    }
  }
  return image;
}

}  // namespace dotloom
