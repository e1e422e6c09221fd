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

void CommonDialog::ShowOpen() { Show(false); }

void CommonDialog::ShowSave() { Show(true); }

void CommonDialog::Show(bool save) {
  QFileDialog dialog(parent_);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  const QStringList name_filters = ToNameFilters(filter_);
  if (!name_filters.isEmpty()) dialog.setNameFilters(name_filters);
  // Start in the folder of the last file, as the object remembers it.
  if (!file_name_.empty()) dialog.setDirectory(ToQString(file_name_.parent_path()));

  file_name_.clear();
  if (dialog.exec() != QDialog::Accepted) return;
  const QStringList chosen = dialog.selectedFiles();
  if (!chosen.isEmpty()) file_name_ = ToPath(chosen.constFirst());
}

}  // namespace dotloom
