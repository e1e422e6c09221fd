// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <QString>
#include <QStringList>
#include <filesystem>
#include <optional>

#include "commands/file_dialog.h"

class QWidget;

namespace dotloom {

// The file dialog object of the main window, shown as a QFileDialog.
class CommonDialog : public FileDialog {
 public:
  explicit CommonDialog(QWidget* parent = nullptr) : parent_(parent) {}

  // "Bitfile (*.bit)|*.bit|..." as Qt's name filters, e.g. "Bitfile (*.bit)". "*.*" means
  // every file, as on the desktop it comes from, so it becomes "*"; on its own "*.*" would
  // hide names without a dot, a Bitfile named "bit" among them.
  static QStringList ToNameFilters(const QString& filter);

 protected:
  std::optional<std::filesystem::path> Ask(Purpose purpose,
                                           const std::filesystem::path& folder) override;

 private:
  QWidget* parent_;
};

}  // namespace dotloom
