// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace dotloom {

inline constexpr std::string_view kBitfileKind = "bit";
inline constexpr std::string_view kBitmapKind = "bmp";

// The last three characters of path (all of it when shorter), with ASCII letters lower-cased.
// The result is UTF-8. On POSIX, characters are UTF-8 sequences and a byte that is not valid
// UTF-8 counts as one character; on Windows, characters are UTF-16 ones (a surrogate pair is
// one, and a lone surrogate counts as one and comes back as U+FFFD).
// This is deliberately not the text after the last dot: "drawing.abit" and a file named
// "bit" are both Bitfiles.
std::string FileKind(const std::filesystem::path& path);

}  // namespace dotloom
