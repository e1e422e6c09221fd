// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <windows.h>

#include <optional>
#include <string_view>

#include "platform/win32/common_dialog.h"
#include "platform/win32/picture_box.h"
#include "platform/win32/win32_support.h"

namespace dotloom {

// The program's only window: the canvas, the file dialog object and the File menu.
class frmDotloom {  // NOLINT(readability-identifier-naming): designer name
 public:
  static constexpr std::wstring_view kFilter =
      L"Bitfile (*.bit)|*.bit|Bitmap (*.bmp)|*.bmp|All files (*.*)|*.*";
  // Command ids of the two menu items, and the control id of the picture control.
  static constexpr UINT kMnuFileOpenId = 101;
  static constexpr UINT kMnuSaveAsId = 102;
  static constexpr int kPicture1Id = 1;

  explicit frmDotloom(HINSTANCE instance);
  frmDotloom(const frmDotloom&) = delete;
  frmDotloom& operator=(const frmDotloom&) = delete;
  ~frmDotloom() = default;

  void Show(int show_command) const;

  HWND hwnd() const { return window_.get(); }
  PictureBox& Picture1() { return *picture1_; }
  CommonDialog& CommonDialog1() { return common_dialog1_; }
  HMENU mnuFile() const { return mnu_file_; }
  UINT mnuFileOpen() const { return kMnuFileOpenId; }
  UINT mnuSaveAs() const { return kMnuSaveAsId; }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  // Sizes the window and the canvas for dpi; at suggested's top-left when given.
  void FitTo(UINT dpi, const RECT* suggested);

  void mnuFileOpen_Click();
  void mnuSaveAs_Click();

  // Empty once the window is destroyed, by the user closing it or otherwise.
  win32::UniqueWindow window_;
  std::optional<PictureBox> picture1_;
  CommonDialog common_dialog1_;
  HMENU mnu_file_ = nullptr;
  SIZE frame_{};  // the window's outer size at the current scale
};

}  // namespace dotloom
