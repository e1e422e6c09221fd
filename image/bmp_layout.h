// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include "image/colour.h"

namespace dotloom::bmp {

// What a BMP file's headers say: where its palette and pixels lie and how the pixels are
// coded. Read from the first bytes of the file and its size alone, and refused (BmpError)
// unless every pixel the header declares can be found in the file:
//
//   - headers of 12 bytes (OS/2 1.x), 16 to 64 bytes (OS/2 2.x, with that system's
//     compression numbers) and 40, 52, 56, 108 and 124 bytes, rows bottom-up or top-down;
//   - 1, 2, 4 or 8 bits a pixel with a palette, 16, 24, 32 or 64 bits without;
//   - uncompressed, RLE4, RLE8, OS/2's RLE24, and bit fields with or without an alpha mask
//     (16 and 32 bits; 24 bits too in the 108- and 124-byte headers).
//
// OS/2 1.x sizes are unsigned and its palette may be shorter than the depth can name: it
// then ends where the pixels start.
//
// Compressed streams are checked while they are decoded (bmp_rle.h).

class BmpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Compression { kNone, kRle4, kRle8, kRle24, kBitfields };

struct Layout {
  int width = 0;
  int height = 0;  // rows, always positive
  bool top_down = false;
  int bits_per_pixel = 0;
  Compression compression = Compression::kNone;
  std::uint32_t info_size = 0;
  // The colours the pixels can name: at most 2^bits, none above 8 bits.
  std::vector<Colour> palette;
  // Red, green and blue of pixels over 8 bits; the defaults unless the file has bit fields.
  std::array<std::uint32_t, 3> masks = {};
  std::uint64_t pixel_offset = 0;
  std::uint64_t row_bytes = 0;  // one stored row of an uncompressed picture, padding included
};

// Enough for the largest header, four bit masks and a palette of 256 colours.
inline constexpr std::size_t kHeadBytes = 14 + 124 + 16 + 256 * 4;
// Larger pictures are refused, whatever the file holds.
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{16384} * 16384;

// head holds the file's first min(file_size, kHeadBytes) bytes.
Layout ReadLayout(std::span<const std::uint8_t> head, std::uint64_t file_size);

}  // namespace dotloom::bmp
