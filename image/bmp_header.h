// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

namespace dotloom::bmp {

// The checks a BMP file passes before any decoder sees it. The decoder we hand it to
// trusts the header: it allocates whatever size the header declares, and leaves pixels it
// cannot read uninitialised instead of failing. So a file is accepted here only when
//
//   - its header is one of the layouts we know (12-, 40-, 64-, 108- or 124-byte info
//     header; 1, 4, 8, 16, 24 or 32 bits; uncompressed, RLE4, RLE8 or BITFIELDS with
//     masks of at most 8 bits each, as the decoder scales wider ones to 0);
//   - its pixel data starts after the header, masks and palette, and the file holds every
//     row the header declares (an RLE stream must paint every pixel of the image);
//   - the decoded image is small next to the file: at most 2 x file size + 12 MiB. With the
//     file's own bytes held in memory while it decodes, loading a file of n bytes never
//     needs more than MemoryBound(n) = 4 x n + 16 MiB.
//
// Every valid uncompressed BMP passes the size rule, since its pixel rows take at least
// half the bytes of the decoded rows. Only RLE files, which can describe many pixels in a
// few bytes, are held to it in practice.

class BmpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Compression { kNone = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3 };

// How the decoder will lay out the image in memory.
enum class DecodedFormat { kMono, kIndexed8, kRgb32 };

struct Layout {
  int width = 0;
  int height = 0;  // rows, always positive
  bool top_down = false;
  int bits_per_pixel = 0;
  Compression compression = Compression::kNone;
  std::uint32_t info_size = 0;
  int palette_entries = 0;  // 0 for 16, 24 and 32 bits
  std::uint64_t pixel_offset = 0;
  std::uint64_t row_bytes = 0;     // bytes of one stored row of an uncompressed image
  std::uint64_t bytes_needed = 0;  // length of the file prefix the decoder reads
  DecodedFormat decoded_format = DecodedFormat::kRgb32;
  std::uint64_t decoded_row_bytes = 0;
  std::uint64_t decoded_bytes = 0;  // what the decoder allocates for the image
};

inline constexpr std::uint64_t kMiB = std::uint64_t{1} << 20U;
// Enough for the largest header, the bit masks and a 256-entry palette.
inline constexpr std::size_t kHeadBytes = 14 + 124 + 16 + 256 * 4;
// Qt's BMP decoder refuses more pixels than this; we refuse them first.
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{16384} * 16384;

constexpr std::uint64_t MemoryBound(std::uint64_t file_size) { return 4 * file_size + 16 * kMiB; }

// Checks the start of a file of file_size bytes; head holds its first bytes (at least
// min(file_size, kHeadBytes) of them). Throws BmpError when the file must not be decoded.
// For RLE images the stream itself is checked later, by CheckRleStream.
Layout CheckHeader(std::span<const std::uint8_t> head, std::uint64_t file_size);

// Walks an RLE4 or RLE8 stream the way the decoder does and throws BmpError unless the
// stream is complete and paints every pixel. file is the whole file.
void CheckRleStream(const Layout& layout, std::span<const std::uint8_t> file);

// The pixels of an RLE4 or RLE8 file, exactly as the decoder above writes them: one palette
// index a byte, rows from the top, layout.decoded_row_bytes apart. Checks the stream as
// CheckRleStream does. For a window system whose own decoder would read the stream its own
// way, so that both builds show the same pixels. file is the whole file.
std::vector<std::uint8_t> ExpandRle(const Layout& layout, std::span<const std::uint8_t> file);

// Rewrites the height in head, the start of a file whose header gave layout, to `rows`
// rows in the same direction: for a BMP made of the same header and only the `rows` top rows
// of an uncompressed image.
void SetStoredHeight(std::span<std::uint8_t> head, const Layout& layout, int rows);

// Both checks on a whole file held in memory.
Layout Check(std::span<const std::uint8_t> file);

}  // namespace dotloom::bmp
