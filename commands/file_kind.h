// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "image/canvas.h"

namespace dotloom {

// The last three characters of path (all of it when shorter), with ASCII letters lower-cased.
// The result is UTF-8. On POSIX, characters are UTF-8 sequences and a byte that is not valid
// UTF-8 counts as one character; on Windows, characters are UTF-16 ones (a surrogate pair is
// one, and a lone surrogate counts as one and comes back as U+FFFD).
// This is deliberately not the text after the last dot: "drawing.abit" and a file named
// "bit" are both Bitfiles.
std::string FileKind(const std::filesystem::path& path);

// A kind of file the commands know, with how the dialogs offer it and how Open and Save As
// handle it. The kinds are listed once, in the order the dialogs show them; a row with an
// empty kind only filters the dialogs' lists.
struct FileKindRow {
  std::string_view kind;     // as FileKind gives it
  std::string_view label;    // what the dialog shows, before the pattern in parentheses
  std::string_view pattern;  // the names the dialog lists, "*.*" for every name
  // Draws the file onto the canvas, which Open has just cleared.
  void (*open)(const std::filesystem::path& path, Canvas& canvas) = nullptr;
  void (*save)(const Canvas& canvas, const std::filesystem::path& path) = nullptr;
};
std::span<const FileKindRow> FileKindRows();

// The row of the kind FileKind gives for path; null for a kind the commands do not handle.
const FileKindRow* FindFileKind(const std::filesystem::path& path);

// The dialogs' filter made from the rows: "label (pattern)|pattern" for each, joined by '|'.
std::string DialogFilter();

}  // namespace dotloom
