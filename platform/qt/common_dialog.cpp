// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "platform/qt/common_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QRegularExpression>
#include <QStringList>
#include <QWidget>

#include "platform/qt/path_conversion.h"

namespace dotloom {

QStringList CommonDialog::ToNameFilters(const QString& filter) {
  static const QRegularExpression kTrailingPatterns(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList name_filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString label = parts[i];
    label.remove(kTrailingPatterns);
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& pattern : patterns) {
      pattern = pattern.trimmed();
      if (pattern == QStringLiteral("*.*")) pattern = QStringLiteral("*");
    }
    name_filters.append(QStringLiteral("%1 (%2)").arg(label.trimmed(), patterns.join(u' ')));
  }
  return name_filters;
}

std::optional<std::filesystem::path> CommonDialog::Ask(Purpose purpose,
                                                       const std::filesystem::path& folder) {
  const bool save = purpose == Purpose::kSave;
  QFileDialog dialog(parent_);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  const QStringList name_filters = ToNameFilters(QString::fromStdString(Filter()));
  if (!name_filters.isEmpty()) dialog.setNameFilters(name_filters);
  if (!folder.empty()) dialog.setDirectory(ToQString(folder));

  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return ToPath(chosen.constFirst());
}

}  // namespace dotloom
