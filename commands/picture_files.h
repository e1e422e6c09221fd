// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <filesystem>

#include "image/canvas.h"
#include "image/picture.h"

namespace dotloom {

// The file kinds' open and save: the codecs' bytes to and from files. Files are read and
// written only through files/, so only regular files are ever touched and nothing blocks.
// Each throws on any failure.

// Paints every 1 bit of the Bitfile at path black on the canvas, without clearing it. One
// read of offsets 0..575: a shorter file reads as 0 past its end, bytes from 576 on are
// never read.
void OpenBitfile(const std::filesystem::path& path, Canvas& canvas);

// Writes the canvas's 96 x 48 area to path as 576 bytes. A missing file is created; an
// existing one is overwritten in place from offset 0 and never truncated, so bytes of a
// longer file from 576 on stay as they were. Bytes already written stay written.
void SaveBitfile(const Canvas& canvas, const std::filesystem::path& path);

// The top-left clip_width x clip_height pixels of the BMP file at path (see bmp::Read).
Picture LoadPicture(const std::filesystem::path& path, int clip_width, int clip_height);

// Writes image to path as a 24-bit BMP file (bmp::Write), replaced whole wherever that keeps
// the file what it was.
void SavePicture(const Picture& image, const std::filesystem::path& path);

}  // namespace dotloom
