// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

#include "image/canvas.h"

namespace dotloom {

// A Bitfile is a headerless 96 x 48 one-bit image of exactly 576 bytes, laid out the way
// small monochrome display controllers take it:
//
//   - 6 bands of 8 pixel rows, band 0 (rows 0..7) first;
//   - each band is 96 bytes, one per column, column 0 first;
//   - in a byte, bit k (weight 2^k) is the pixel of row 8 * band + k: the least significant
//     bit is the top pixel of the column's strip of eight.
//
// So pixel (x, y) lives at offset 96 * (y / 8) + x, bit y % 8. A 1 bit is black; any 576
// bytes form a valid image.
//
// The codec keeps no image of its own: Decode paints onto the canvas, Encode reads it back.
namespace BitfileCodec {

inline constexpr int kColumns = 96;
inline constexpr int kRows = 48;
inline constexpr int kRowsPerBand = 8;
inline constexpr int kBands = kRows / kRowsPerBand;
inline constexpr std::size_t BitfileSize = std::size_t{kBands} * kColumns;

using Bytes = std::array<std::uint8_t, BitfileSize>;

// Paints every 1 bit of the file at path black on the canvas; it does not clear it first.
// A file shorter than 576 bytes reads as 0 past its end; bytes from 576 on are never read.
// Throws std::system_error when the file cannot be opened or read.
void Decode(const std::filesystem::path& path, Canvas& canvas);

// Writes the 96 x 48 area of the canvas to path as 576 bytes: a 1 bit for every pixel that
// is exactly black. A missing file is created; an existing one is overwritten in place from
// offset 0 and never truncated, so bytes of a longer file from 576 on stay as they were.
// Throws std::system_error; bytes already written stay written.
void Encode(const Canvas& canvas, const std::filesystem::path& path);

// The same two conversions without a file. DecodeBytes takes any length, as Decode does.
void DecodeBytes(std::span<const std::uint8_t> bytes, Canvas& canvas);
Bytes EncodeBytes(const Canvas& canvas);

}  // namespace BitfileCodec
}  // namespace dotloom
