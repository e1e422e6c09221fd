// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <QFrame>

#include "image/canvas.h"

namespace dotloom {

// The picture control: a sunken two-pixel border around the canvas, shown 1:1.
class PictureBox : public QFrame {
  Q_OBJECT

 public:
  static constexpr int kBorder = 2;

  explicit PictureBox(QWidget* parent = nullptr);

  Canvas& canvas() { return canvas_; }
  const Canvas& canvas() const { return canvas_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Canvas canvas_;
};

}  // namespace dotloom
