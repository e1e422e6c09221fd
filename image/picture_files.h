// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "image/bmp_rle.h"
#include "image/picture.h"

namespace dotloom {

// The picture services: BMP files in and out, the same bytes and pixels in every build.

// Reads the top-left clip_width x clip_height pixels of the BMP file at path (see
// bmp::Read). Throws when the file is missing, is not a regular file or is not a BMP that
// bmp::ReadLayout accepts.
Picture LoadPicture(const std::filesystem::path& path, int clip_width, int clip_height);

// Writes image to path as a 24-bit BMP file (bmp::Write). A file of that name stays the same
// file, with its owner, mode, links and attributes, and is replaced whole wherever that keeps
// them (see SaveRule::kReplaceWhole). Throws on any failure.
void SavePicture(const Picture& image, const std::filesystem::path& path);

namespace bmp {

// The most a load of a canvas-sized corner holds at once, whatever the file: the stream
// buffer, the header and palette, one row and the picture, with room to spare.
inline constexpr std::uint64_t kReadMemoryBound = 256 * 1024;

// The reader over a file of file_size bytes. Only what the top-left clip_width x clip_height
// corner needs is read and held: the header, the palette and the shown part of each shown
// row, where they lie; a compressed stream is walked in chunks up to its end of bitmap. So
// time follows the shown part and the stream, never the file, and for a corner of the
// canvas's size memory stays under kReadMemoryBound. Pixels a compressed stream skips are
// kTransparent. Throws BmpError.
Picture Read(const ReadAtFunction& read, std::uint64_t file_size, int clip_width, int clip_height);

// The same over a whole file in memory.
Picture Read(std::span<const std::uint8_t> file, int clip_width, int clip_height);

}  // namespace bmp
}  // namespace dotloom
