// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "platform/qt/path_conversion.h"

#include <QByteArray>
#include <QFile>
#include <cstddef>
#include <string>

namespace dotloom {

// Windows paths are UTF-16 like QString; POSIX ones are bytes in the locale's encoding.
#ifdef _WIN32

std::filesystem::path ToPath(const QString& name) { return {name.toStdWString()}; }

QString ToQString(const std::filesystem::path& path) {
  return QString::fromStdWString(path.native());
}

#else

std::filesystem::path ToPath(const QString& name) {
  const QByteArray encoded = QFile::encodeName(name);
  return {std::string(encoded.constData(), static_cast<std::size_t>(encoded.size()))};
}

QString ToQString(const std::filesystem::path& path) {
  const std::string& native = path.native();
  return QFile::decodeName(QByteArray(native.data(), static_cast<qsizetype>(native.size())));
}

#endif

}  // namespace dotloom
