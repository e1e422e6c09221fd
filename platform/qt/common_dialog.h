// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <filesystem>
#include <optional>

#include "commands/file_dialog.h"

class QWidget;

namespace dotloom {

// The file dialog object of the main window, shown as a QFileDialog.
class CommonDialog : public FileDialog {
 public:
  explicit CommonDialog(QWidget* parent = nullptr) : parent_(parent) {}

 protected:
  std::optional<std::filesystem::path> Ask(Purpose purpose,
                                           const std::filesystem::path& folder) override;

 private:
  QWidget* parent_;
};

}  // namespace dotloom
