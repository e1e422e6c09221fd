// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <QString>
#include <filesystem>

namespace dotloom {

// The one place where file names cross between Qt and the rest of the program. Both ways go
// through the local 8-bit encoding, so names that are not valid UTF-8 survive the trip.
std::filesystem::path ToPath(const QString& name);
QString ToQString(const std::filesystem::path& path);

}  // namespace dotloom
