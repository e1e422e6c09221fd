// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "commands/file_dialog.h"

namespace dotloom {

// The file dialog object of the main window, over the system's Explorer-style open and save
// dialogs.
//
// Filter keeps the classic "label|pattern|label|pattern" text; it is turned into the form the
// dialogs take when one is shown. Properties outlive each dialog, like the object itself.
class CommonDialog : public FileDialog {
 public:
  // Room for the longest path the system takes, so that no name is ever cut short.
  static constexpr DWORD kBufferSize = 32768;

  explicit CommonDialog(HWND owner = nullptr) : owner_(owner) {}

  void SetOwner(HWND owner) { owner_ = owner; }
  const std::wstring& Filter() const { return filter_; }
  void SetFilter(std::wstring_view filter) { filter_ = filter; }

  std::filesystem::path FileName() const override { return file_name_; }

  // Both leave FileName empty when the dialog is cancelled, and throw when it fails.
  void ShowOpen() override;
  void ShowSave() override;

  // "Bitfile (*.bit)|*.bit|..." as the dialogs take it: every '|' a NUL, and a second NUL at
  // the end (the one c_str() adds). Empty stays empty: no filter at all.
  static std::wstring ToDialogFilter(std::wstring_view filter);

 private:
  void Show(bool save);

  HWND owner_;
  std::wstring filter_;
  std::filesystem::path file_name_;
};

}  // namespace dotloom
