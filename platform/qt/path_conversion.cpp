// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "platform/qt/path_conversion.h"

#include <QByteArray>
#include <QFile>
#include <string>

namespace dotloom {

std::filesystem::path ToPath(const QString& name) {
  const QByteArray encoded = QFile::encodeName(name);
  return {std::string(encoded.constData(), static_cast<std::size_t>(encoded.size()))};
}

QString ToQString(const std::filesystem::path& path) {
  const std::string& native = path.native();
  return QFile::decodeName(QByteArray(native.data(), static_cast<qsizetype>(native.size())));
}

}  // namespace dotloom
