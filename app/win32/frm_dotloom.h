// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <windows.h>

#include <optional>

#include "platform/win32/common_dialog.h"
#include "platform/win32/handles.h"
#include "platform/win32/picture_box.h"
#include "window/window_description.h"

namespace dotloom {

// The program's only window: the canvas, the file dialog object and the File menu.
class frmDotloom {  // NOLINT(readability-identifier-naming): designer name
 public:
  explicit frmDotloom(HINSTANCE instance);
  frmDotloom(const frmDotloom&) = delete;
  frmDotloom& operator=(const frmDotloom&) = delete;
  ~frmDotloom() = default;

  void Show(int show_command) const;

  HWND hwnd() const { return window_.get(); }
  PictureBox& Picture1() { return *picture1_; }
  CommonDialog& CommonDialog1() { return common_dialog1_; }
  HMENU mnuFile() const { return mnu_file_; }
  UINT mnuFileOpen() const { return window::FileMenuItem(window::Command::kOpen).id; }
  UINT mnuSaveAs() const { return window::FileMenuItem(window::Command::kSaveAs).id; }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  // Sizes the window and the canvas for dpi; at suggested's top-left when given.
  void FitTo(UINT dpi, const RECT* suggested);

  void Click(window::Command command);

  // Empty once the window is destroyed, by the user closing it or otherwise.
  win32::UniqueWindow window_;
  std::optional<PictureBox> picture1_;
  CommonDialog common_dialog1_;
  HMENU mnu_file_ = nullptr;
  SIZE frame_{};  // the window's outer size at the current scale
};

}  // namespace dotloom
