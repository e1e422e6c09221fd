// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "image/colour.h"

namespace dotloom::testing {

// Writes BMP files byte by byte in every layout the loader accepts, so that tests and fuzz
// seeds do not depend on what Qt's writer happens to produce.
struct BmpForm {
  // Each the header's compression field. kRle24 is OS/2's, for a 64-byte header;
  // kAlphaBitfields writes four masks after a 40-byte header.
  enum class Coding : std::uint32_t {
    kRgb = 0,
    kRle8 = 1,
    kRle4 = 2,
    kBitfields = 3,
    kRle24 = 4,
    kAlphaBitfields = 6
  };

  int width = 0;
  int height = 0;
  bool top_down = false;
  int bits = 24;  // 1, 2, 4, 8, 16, 24, 32 or 64
  Coding coding = Coding::kRgb;
  int info_size = 40;              // 12, 16 to 64, 108 or 124
  std::vector<Colour> palette;     // for 8 bits or fewer; written as given
  std::uint32_t colours_used = 0;  // the header field, 0 for "all of them"
  std::array<std::uint32_t, 4> masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0};  // r, g, b, a
  // How many of the masks follow a 40-byte header; -1 for as many as the coding names, fewer
  // for a file whose pixels begin where a mask should be.
  int trailing_masks = -1;
};

// pixel(x, y) gives a palette index for 8 bits or fewer, else a colour (0x00BBGGRR) that is
// packed into the pixel format: 5-5-5 for plain 16 bits, the masks for BITFIELDS, 16-bit fixed
// point (1.0 = 0x2000) for 64 bits.
std::vector<std::uint8_t> WriteBmp(const BmpForm& form,
                                   const std::function<std::uint32_t(int, int)>& pixel);

// The file header and everything up to the pixels (info header, masks, palette) for a file
// whose pixel array holds pixel_bytes, so that a large file can be streamed row by row.
std::vector<std::uint8_t> BmpHeader(const BmpForm& form, std::uint32_t pixel_bytes);

// Overwrites the little-endian field of size bytes at at, to patch a header.
void PutField(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value, int size = 4);

// Writes a bottom-up 24-bit BMP of width x height pixels, streamed row by row so that even an
// 8000 x 8000 file costs no memory: mid grey (0x808080) with a black pixel at (1, 1), which tells
// whether the top-left corner arrived. Returns the file's size; throws std::runtime_error when
// the file cannot be written.
std::uint64_t WriteGreyBmp(const std::filesystem::path& path, int width, int height);

// A hostile RLE4 or RLE8 stream: runs of 255 pixels of colour, count times, that never end
// their row.
std::vector<std::uint8_t> RunsPastTheRowEnd(std::uint8_t colour, std::size_t count);

// A 4 x 4 black PNG: a real picture file that is not a BMP, the same bytes on every system.
std::vector<std::uint8_t> BlackPng();

}  // namespace dotloom::testing
