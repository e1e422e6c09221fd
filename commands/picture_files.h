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

// Reads the BMP file at path. Only the top-left clip_width x clip_height pixels are kept,
// since that is all a caller can show. Throws when the file is missing, is not a regular
// file or is not a loadable BMP. The file is checked (see image/bmp_header.h) before it is
// decoded, so no file makes this allocate more than bmp::MemoryBound(its size), and no
// pixel of the result is left undefined: a file cut short is refused.
Picture LoadPicture(const std::filesystem::path& path, int clip_width, int clip_height);

// The same on a whole file already in memory.
Picture LoadPictureFromBytes(std::span<const std::uint8_t> bytes, int clip_width, int clip_height);

// Writes image to path as a 24-bit BMP file, replacing any file of that name only once the
// whole file is written (see ReplaceFileContents). Throws on any failure.
void SavePicture(const Picture& image, const std::filesystem::path& path);

}  // namespace dotloom
