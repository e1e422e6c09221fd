// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "platform/qt/picture_box.h"

#include <QApplication>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>

#include "platform/qt/image_conversion.h"

namespace dotloom {
namespace {

Colour ToColour(const QColor& colour) {
  return Rgb(static_cast<std::uint8_t>(colour.red()), static_cast<std::uint8_t>(colour.green()),
             static_cast<std::uint8_t>(colour.blue()));
}

}  // namespace

PictureBox::PictureBox(QWidget* parent)
    : QFrame(parent),
      canvas_(
          ToColour(QApplication::palette().color(QPalette::Active, QPalette::HighlightedText))) {
  // The classic two-tone sunken edge, always two pixels wide.
  setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
  setFixedSize(Canvas::kWidth + 2 * kBorder, Canvas::kHeight + 2 * kBorder);
}

void PictureBox::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  // Whole pixels only: at a device-pixel ratio above 1 each canvas pixel stays a sharp block.
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter.drawImage(contentsRect().topLeft(), ToQImage(canvas_.Image()));
}

}  // namespace dotloom
