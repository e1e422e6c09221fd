// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <filesystem>

namespace dotloom {

// What the file commands need of a file dialog. A dialog that is cancelled leaves FileName
// empty; a dialog that cannot be shown throws.
class FileDialog {
 public:
  virtual ~FileDialog() = default;

  virtual void ShowOpen() = 0;
  virtual void ShowSave() = 0;
  // The path chosen in the dialog last shown, exactly as the user gave it.
  virtual std::filesystem::path FileName() const = 0;

 protected:
  FileDialog() = default;
  FileDialog(const FileDialog&) = default;
  FileDialog& operator=(const FileDialog&) = default;
};

}  // namespace dotloom
