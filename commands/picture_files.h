// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "image/picture.h"

namespace dotloom {

// The picture services the commands need of the window system. Each window system's folder
// under platform/ defines them; the commands link none, so whoever links the commands
// brings one.

// Reads the BMP file at path. Only the top-left clip_width x clip_height pixels are read
// and kept, since that is all a caller can show (see bmp::ShownPart), so memory and time do
// not follow the file's size. Throws when the file is missing, is not a regular file or is
// not a loadable BMP. The file is checked (see image/bmp_header.h) before it is decoded, so
// no pixel of the result is left undefined: a file cut short is refused.
Picture LoadPicture(const std::filesystem::path& path, int clip_width, int clip_height);

// The same on a whole file already in memory.
Picture LoadPictureFromBytes(std::span<const std::uint8_t> bytes, int clip_width, int clip_height);

// Writes image to path as a 24-bit BMP file. A file of that name stays the same file, with
// its owner, mode, links and attributes, and is replaced whole wherever that keeps them
// (see ReplaceFileContents). Throws on any failure.
void SavePicture(const Picture& image, const std::filesystem::path& path);

}  // namespace dotloom
