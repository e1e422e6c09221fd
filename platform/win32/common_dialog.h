// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "commands/file_dialog.h"

namespace dotloom {

// The file dialog object of the main window, shown as the system's Explorer-style open and
// save dialogs.
class CommonDialog : public FileDialog {
 public:
  // Room for the longest path the system takes, so that no name is ever cut short.
  static constexpr DWORD kBufferSize = 32768;

  explicit CommonDialog(HWND owner = nullptr) : owner_(owner) {}

  void SetOwner(HWND owner) { owner_ = owner; }

  // The UTF-8 "Bitfile (*.bit)|*.bit|..." as the dialogs take it: UTF-16, every '|' a NUL,
  // and a second NUL at the end (the one c_str() adds). Empty stays empty: no filter at all.
  static std::wstring ToDialogFilter(std::string_view filter);

 protected:
  std::optional<std::filesystem::path> Ask(Purpose purpose,
                                           const std::filesystem::path& folder) override;

 private:
  HWND owner_;
};

}  // namespace dotloom
