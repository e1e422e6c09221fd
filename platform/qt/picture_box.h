// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <QSize>
#include <QWidget>

#include "image/canvas.h"

namespace dotloom {

// The picture control: the canvas in its sunken edge, as the window's description sizes them.
// Both are drawn in whole device pixels, each canvas pixel a PixelScale x PixelScale block,
// also where the screen's device-pixel ratio is fractional and logical pixels cannot say
// where a device pixel lies.
class PictureBox : public QWidget {
  Q_OBJECT

 public:
  explicit PictureBox(QWidget* parent = nullptr);

  Canvas& canvas() { return canvas_; }
  const Canvas& canvas() const { return canvas_; }

  // Device pixels per canvas pixel on the screen the control was last fitted to.
  int scale() const { return scale_; }
  // The border and the canvas at scale(), in device pixels.
  QSize DeviceSize() const;
  // Sizes the control for the device-pixel ratio it is shown at now. At a fractional ratio
  // it is a little larger than DeviceSize(), so that the drawing fits wherever the control's
  // first whole device pixel falls; what it does not cover shows the window behind it.
  void FitToScreen();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Canvas canvas_;
  int scale_ = 1;
};

}  // namespace dotloom
