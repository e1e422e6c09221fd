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
// Characters are UTF-8 sequences; a byte that is not valid UTF-8 counts as one character.
// This is deliberately not the text after the last dot: "drawing.abit" and a file named
// "bit" are both Bitfiles.
std::string FileKind(const std::filesystem::path& path);

}  // namespace dotloom
