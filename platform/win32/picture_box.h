// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <windows.h>

#include "image/canvas.h"
#include "platform/win32/handles.h"

namespace dotloom {

// The picture control: a child window whose sunken client edge surrounds the canvas, as the
// window's description sizes them, drawn at a whole-number scale so that each canvas pixel
// is a square block. At scale 1 the edge is as wide as the system's client edge at 96 dpi.
class PictureBox {
 public:
  // The child window is created at (0, 0) of parent and destroyed with it.
  PictureBox(HWND parent, int id);
  PictureBox(const PictureBox&) = delete;
  PictureBox& operator=(const PictureBox&) = delete;
  ~PictureBox() = default;

  HWND hwnd() const { return window_.get(); }
  Canvas& canvas() { return canvas_; }
  const Canvas& canvas() const { return canvas_; }
  int scale() const { return scale_; }

  // Sizes the control so that its interior holds the canvas at scale, inside an edge of
  // window::kBorder * scale pixels: window::PictureSize(scale) in all.
  void Place(int scale);
  // Redraws the interior from the canvas now, not at some later idle moment.
  void Refresh() const;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  void Paint(HDC dc) const;
  void PaintEdge() const;

  // Normally destroyed with its parent, which leaves this empty.
  win32::UniqueWindow window_;
  Canvas canvas_;
  int scale_ = 1;
};

}  // namespace dotloom
