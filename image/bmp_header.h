// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
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
//     file's own bytes held in memory while it decodes, a decoder handed a whole file of n
//     bytes never needs more than MemoryBound(n) = 4 x n + 16 MiB. (The program hands the
//     decoder only ShownPart, below, which is far smaller.)
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

// Fills as much of buffer as the file holds from offset on and returns the count: how
// ShownPart reaches a file, whatever holds it.
using ReadAtFunction = std::function<std::size_t(std::span<std::uint8_t>, std::uint64_t)>;

// The most ShownPart reads at once while it walks an RLE stream.
inline constexpr std::size_t kStreamChunk = 64 * 1024;

// The part of a file that passed CheckHeader that a canvas of clip_width x clip_height
// pixels can show, as a small uncompressed BMP of its own for the decoder: the same header
// and palette with the size rewritten, then only the top-left pixels. head holds the
// file's first bytes, as given to CheckHeader; read reaches the rest.
//
// Of an uncompressed file only the rows and columns shown are read, where they lie, so a
// gap before the pixels or a huge picture costs nothing. An RLE stream is read in chunks of
// kStreamChunk up to its end of bitmap and checked as CheckRleStream does, holding only the
// pixels shown and the ranges not yet painted (at most 16,384 at once). Memory stays under
// about 1.1 MiB whatever the file. Throws BmpError.
std::vector<std::uint8_t> ShownPart(const Layout& layout, std::span<const std::uint8_t> head,
                                    std::uint64_t file_size, const ReadAtFunction& read,
                                    int clip_width, int clip_height);

// ShownPart of the BMP file at path, read as a regular file (see files/regular_file.h), and
// of a whole file held in memory: what either build hands its decoder. Throw BmpError, or
// std::system_error when the file cannot be read.
std::vector<std::uint8_t> ReadShownPart(const std::filesystem::path& path, int clip_width,
                                        int clip_height);
std::vector<std::uint8_t> ShownPartOf(std::span<const std::uint8_t> file, int clip_width,
                                      int clip_height);

// Both checks on a whole file held in memory.
Layout Check(std::span<const std::uint8_t> file);

}  // namespace dotloom::bmp
