// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <QString>
#include <QStringList>
#include <filesystem>

#include "commands/file_dialog.h"

class QWidget;

namespace dotloom {

// The file dialog object of the main window, over QFileDialog.
//
// Filter keeps the classic "label|pattern|label|pattern" text; it is turned into Qt's name
// filters when a dialog is shown. Properties outlive each dialog, like the object itself.
class CommonDialog : public FileDialog {
 public:
  explicit CommonDialog(QWidget* parent = nullptr) : parent_(parent) {}

  const QString& Filter() const { return filter_; }
  void SetFilter(const QString& filter) { filter_ = filter; }

  std::filesystem::path FileName() const override { return file_name_; }

  // Both leave FileName empty when the dialog is cancelled.
  void ShowOpen() override;
  void ShowSave() override;

  // "Bitfile (*.bit)|*.bit|..." as Qt's name filters, e.g. "Bitfile (*.bit)". "*.*" means
  // every file, as on the desktop it comes from, so it becomes "*"; on its own "*.*" would
  // hide names without a dot, a Bitfile named "bit" among them.
  static QStringList ToNameFilters(const QString& filter);

 private:
  void Show(bool save);

  QWidget* parent_;
  QString filter_;
  std::filesystem::path file_name_;
};

}  // namespace dotloom
