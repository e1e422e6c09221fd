// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "platform/qt/picture_box.h"

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QPointF>
#include <QRect>
#include <QTransform>
#include <QtMath>
#include <cstdint>

#include "image/pixel_scale.h"
#include "platform/qt/image_conversion.h"
#include "window/window_description.h"

namespace dotloom {
namespace {

Colour ToColour(const QColor& colour) {
  return Rgb(static_cast<std::uint8_t>(colour.red()), static_cast<std::uint8_t>(colour.green()),
             static_cast<std::uint8_t>(colour.blue()));
}

// The canvas's background (window_description.h).
Colour CanvasBackground() {
  return ToColour(QApplication::palette().color(QPalette::Active, QPalette::HighlightedText));
}

// The border and the canvas, in device pixels, at scale.
QSize OuterSize(int scale) {
  const window::Size size = window::PictureSize(scale);
  return {size.width, size.height};
}

// Each pixel of image as a scale x scale block.
QImage Enlarged(const QImage& image, int scale) {
  if (scale == 1) return image;
  QImage enlarged(image.size() * scale, QImage::Format_RGB32);
  for (int y = 0; y < enlarged.height(); ++y) {
    const auto* from = reinterpret_cast<const QRgb*>(image.constScanLine(y / scale));
    auto* to = reinterpret_cast<QRgb*>(enlarged.scanLine(y));
    for (int x = 0; x < enlarged.width(); ++x) to[x] = from[x / scale];
  }
  return enlarged;
}

// The classic sunken edge, two lines each scale device pixels wide: the outer one dark at the
// top and left and light at the bottom and right, the inner one shadow and midlight.
void DrawSunkenEdge(QPainter& painter, const QSize& size, int scale, const QPalette& palette) {
  static_assert(window::kBorder == 2, "one colour pair per line of the edge");
  const QColor lines[2][2] = {{palette.color(QPalette::Dark), palette.color(QPalette::Light)},
                              {palette.color(QPalette::Shadow), palette.color(QPalette::Midlight)}};
  for (int i = 0; i < window::kBorder * scale; ++i) {
    const QColor& top_left = lines[i / scale][0];
    const QColor& bottom_right = lines[i / scale][1];
    const int left = i;
    const int top = i;
    const int right = size.width() - 1 - i;
    const int bottom = size.height() - 1 - i;
    painter.fillRect(QRect(left, top, right - left, 1), top_left);
    painter.fillRect(QRect(left, top, 1, bottom - top), top_left);
    painter.fillRect(QRect(left, bottom, right - left + 1, 1), bottom_right);
    painter.fillRect(QRect(right, top, 1, bottom - top + 1), bottom_right);
  }
}

}  // namespace

PictureBox::PictureBox(QWidget* parent) : QWidget(parent), canvas_(CanvasBackground()) {
  FitToScreen();
}

QSize PictureBox::DeviceSize() const { return OuterSize(scale_); }

void PictureBox::FitToScreen() {
  const qreal ratio = devicePixelRatioF();
  scale_ = PixelScale(ratio);
  const QSize device = DeviceSize();
  // A fractional ratio may put the control's top-left corner inside a device pixel: one more
  // device pixel then holds the drawing, which starts at the next whole one.
  const int room = ratio == qFloor(ratio) ? 0 : 1;
  const auto logical = [&](int device_pixels) {
    return qCeil((device_pixels + room) / ratio - 1e-9);
  };
  setFixedSize(logical(device.width()), logical(device.height()));
  // Whole logical pixels cannot hold a fractional border; at a whole ratio this is exact.
  const int border = qRound(window::kBorder * scale_ / ratio);
  setContentsMargins(border, border, border, border);
  update();
}

void PictureBox::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  const QTransform to_device = painter.deviceTransform();
  const int scale = PixelScale(painter.device()->devicePixelRatioF());
  // From here on in device pixels, from the first whole one inside the control. The small
  // tolerance keeps a corner that lies on a device pixel, give or take rounding, in place.
  const QPointF corner = to_device.map(QPointF(0, 0));
  const QPointF origin(qCeil(corner.x() - 1e-6), qCeil(corner.y() - 1e-6));
  painter.setWorldTransform(QTransform::fromTranslate(origin.x(), origin.y()) *
                            to_device.inverted());
  DrawSunkenEdge(painter, OuterSize(scale), scale, palette());
  painter.drawImage(QPoint(window::kBorder * scale, window::kBorder * scale),
                    Enlarged(ToQImage(canvas_.Image()), scale));
}

}  // namespace dotloom
