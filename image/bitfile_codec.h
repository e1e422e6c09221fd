// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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
// The codec keeps no image of its own and touches no file: Decode paints bytes onto the
// canvas, Encode reads the canvas back into bytes.
namespace BitfileCodec {

inline constexpr int kColumns = 96;
inline constexpr int kRows = 48;
inline constexpr int kRowsPerBand = 8;
inline constexpr int kBands = kRows / kRowsPerBand;
inline constexpr std::size_t BitfileSize = std::size_t{kBands} * kColumns;

using Bytes = std::array<std::uint8_t, BitfileSize>;

// Paints every 1 bit of bytes black on the canvas; it does not clear it first. Any length is
// taken: what lies past the end of a short input reads as 0, bytes from 576 on are never read.
void Decode(std::span<const std::uint8_t> bytes, Canvas& canvas);

// The 96 x 48 area of the canvas as 576 bytes: a 1 bit for every pixel that is exactly black.
Bytes Encode(const Canvas& canvas);

}  // namespace BitfileCodec
}  // namespace dotloom
