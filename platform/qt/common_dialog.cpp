// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "platform/qt/common_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QStringList>
#include <QWidget>
#include <string_view>

#include "commands/file_kind.h"
#include "platform/qt/path_conversion.h"

namespace dotloom {
namespace {

// The file kinds as Qt's name filters, e.g. "Bitfile (*.bit)". "*.*" means every file, as on
// the desktop it comes from, so it becomes "*": on its own "*.*" would hide names without a
// dot, a Bitfile named "bit" among them.
QStringList NameFilters() {
  const auto text = [](std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
  };
  QStringList name_filters;
  for (const FileKindRow& row : FileKindRows()) {
    const QString pattern = row.pattern == "*.*" ? QStringLiteral("*") : text(row.pattern);
    name_filters.append(QStringLiteral("%1 (%2)").arg(text(row.label), pattern));
  }
  return name_filters;
}

}  // namespace

std::optional<std::filesystem::path> CommonDialog::Ask(Purpose purpose,
                                                       const std::filesystem::path& folder) {
  const bool save = purpose == Purpose::kSave;
  QFileDialog dialog(parent_);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setNameFilters(NameFilters());
  if (!folder.empty()) dialog.setDirectory(ToQString(folder));

  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return ToPath(chosen.constFirst());
}

}  // namespace dotloom
