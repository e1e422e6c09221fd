// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "image/bmp_layout.h"

#include <algorithm>
#include <climits>
#include <string>

namespace dotloom::bmp {
namespace {

constexpr std::size_t kFileHeaderSize = 14;

// Which family an info header belongs to: they number their compressions differently and
// OS/2 2.x headers may end after any field.
enum class Family { kOs2Core, kOs2, kWindows };

[[noreturn]] void Refuse(const std::string& why) { throw BmpError("BMP refused: " + why); }

std::uint32_t U16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} | (std::uint32_t{bytes[at + 1]} << 8U);
}

std::uint32_t U32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return U16(bytes, at) | (U16(bytes, at + 2) << 16U);
}

Family FamilyOf(std::uint32_t info_size) {
  if (info_size == 12) return Family::kOs2Core;
  if (info_size == 40 || info_size == 52 || info_size == 56 || info_size == 108 ||
      info_size == 124) {
    return Family::kWindows;
  }
  if (info_size >= 16 && info_size <= 64) return Family::kOs2;
  Refuse("unknown info header size");
}

// A 32-bit field of the info header at offset at; fields a short OS/2 2.x header leaves out
// are 0.
std::uint32_t Field(std::span<const std::uint8_t> head, std::uint32_t info_size, std::size_t at) {
  return at + 4 <= info_size ? U32(head, kFileHeaderSize + at) : 0;
}

bool PlainDepth(int bits) {
  return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 ||
         bits == 32 || bits == 64;
}

// The compression a header names for its depth; how many bit masks follow a 40-byte header.
Compression CompressionOf(Family family, std::uint32_t info_size, std::uint32_t code, int bits,
                          int& trailing_masks) {
  trailing_masks = 0;
  if (code == 0 && PlainDepth(bits)) return Compression::kNone;
  if (code == 1 && bits == 8) return Compression::kRle8;
  if (code == 2 && bits == 4) return Compression::kRle4;
  if (family == Family::kOs2) {
    // 3 is Huffman coding of 1-bit pictures, which we do not read.
    if (code == 4 && bits == 24) return Compression::kRle24;
  } else if (family == Family::kWindows && (code == 3 || code == 6) &&
             (bits == 16 || bits == 32 || (bits == 24 && info_size >= 108))) {
    // 24-bit pixels with masks are defined for the two largest headers alone.
    trailing_masks = code == 3 ? 3 : 4;  // with an alpha mask
    return Compression::kBitfields;
  }
  // Among the rest: 4 and 5 in a Windows header, a JPEG or PNG file inside.
  Refuse("unknown compression for " + std::to_string(bits) + " bits");
}

std::array<std::uint32_t, 3> DefaultMasks(int bits) {
  if (bits == 16) return {0x7C00, 0x03E0, 0x001F};
  return {0x00FF0000, 0x0000FF00, 0x000000FF};
}

bool IsRle(Compression compression) {
  return compression == Compression::kRle4 || compression == Compression::kRle8 ||
         compression == Compression::kRle24;
}

// What a later phase needs of the info header beyond the layout itself.
struct InfoRest {
  Family family = Family::kWindows;
  std::uint32_t colours_used = 0;
  int trailing_masks = 0;  // after a 40-byte header
};

// The file header and the info header's size, which tells its family; and where the pixels
// start, as the file header says.
Family ReadHeaderFamily(std::span<const std::uint8_t> head, Layout& layout) {
  if (head.size() < kFileHeaderSize + 4) Refuse("too short for a header");
  if (head[0] != 'B' || head[1] != 'M') Refuse("no BM signature");
  layout.info_size = U32(head, kFileHeaderSize);
  const Family family = FamilyOf(layout.info_size);
  if (head.size() < kFileHeaderSize + layout.info_size) Refuse("header cut short");
  layout.pixel_offset = U32(head, 10);
  return family;
}

// Width, height, depth and compression, refused unless they describe a picture we read.
InfoRest ReadSizes(std::span<const std::uint8_t> head, Family family, Layout& layout) {
  InfoRest rest{.family = family};
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint32_t planes = 0;
  std::uint32_t code = 0;
  if (family == Family::kOs2Core) {
    // Unsigned: this header has no top-down form.
    width = static_cast<std::int32_t>(U16(head, 18));
    height = static_cast<std::int32_t>(U16(head, 20));
    planes = U16(head, 22);
    layout.bits_per_pixel = static_cast<int>(U16(head, 24));
  } else {
    width = static_cast<std::int32_t>(U32(head, 18));
    height = static_cast<std::int32_t>(U32(head, 22));
    planes = U16(head, 26);
    layout.bits_per_pixel = static_cast<int>(U16(head, 28));
    code = Field(head, layout.info_size, 16);
    rest.colours_used = Field(head, layout.info_size, 32);
  }
  if (planes != 1) Refuse("planes must be 1");
  layout.compression =
      CompressionOf(family, layout.info_size, code, layout.bits_per_pixel, rest.trailing_masks);

  if (width <= 0) Refuse("width must be positive");
  if (height == 0 || height == INT_MIN) Refuse("height out of range");
  layout.width = width;
  layout.top_down = height < 0;
  layout.height = height < 0 ? -height : height;
  if (static_cast<std::uint64_t>(layout.width) * static_cast<std::uint64_t>(layout.height) >
      kMaxPixels) {
    Refuse("too many pixels");
  }
  // Compressed rows run bottom-up by definition.
  if (layout.top_down && IsRle(layout.compression)) Refuse("top-down RLE");
  return rest;
}

// The bit masks, inside the larger headers or after a 40-byte one; returns where the palette
// starts.
std::size_t ReadMasks(std::span<const std::uint8_t> head, const InfoRest& rest, Layout& layout) {
  std::size_t palette_start = kFileHeaderSize + layout.info_size;
  layout.masks = DefaultMasks(layout.bits_per_pixel);
  if (layout.compression != Compression::kBitfields) return palette_start;
  std::size_t at = palette_start;  // after a 40-byte header
  if (layout.info_size == 40) {
    palette_start += 4 * static_cast<std::size_t>(rest.trailing_masks);
    if (head.size() < palette_start) Refuse("bit masks cut short");
  } else {
    at = kFileHeaderSize + 40;  // inside the larger headers
  }
  for (std::size_t i = 0; i < 3; ++i) layout.masks[i] = U32(head, at + 4 * i);
  return palette_start;
}

// The colours of a picture of 8 bits or fewer; returns where the palette ends.
std::size_t ReadPalette(std::span<const std::uint8_t> head, const InfoRest& rest,
                        std::size_t palette_start, Layout& layout) {
  if (layout.bits_per_pixel > 8) return palette_start;
  const std::uint32_t nameable = 1U << static_cast<unsigned>(layout.bits_per_pixel);
  // A longer palette is read only as far as the pixels can name.
  std::uint32_t entries = rest.colours_used == 0 ? nameable : std::min(rest.colours_used, nameable);
  const std::size_t entry_size = rest.family == Family::kOs2Core ? 3 : 4;
  // OS/2 1.x has no count of colours: a shorter palette shows in where the pixels start.
  if (rest.family == Family::kOs2Core && layout.pixel_offset >= palette_start &&
      layout.pixel_offset < palette_start + entry_size * entries) {
    entries = static_cast<std::uint32_t>((layout.pixel_offset - palette_start) / entry_size);
  }
  const std::size_t palette_end = palette_start + entry_size * entries;
  if (head.size() < palette_end) Refuse("palette cut short");
  for (std::size_t at = palette_start; at < palette_end; at += entry_size) {
    layout.palette.push_back(Rgb(head[at + 2], head[at + 1], head[at]));
  }
  return palette_end;
}

// The pixels lie after the headers and palette, and an uncompressed picture's rows all fit
// in the file.
void CheckPixelsFit(std::size_t header_end, std::uint64_t file_size, Layout& layout) {
  if (layout.pixel_offset < header_end) Refuse("pixel data overlaps the header or palette");
  if (layout.pixel_offset >= file_size) Refuse("pixel data past the end of the file");
  const auto width = static_cast<std::uint64_t>(layout.width);
  const auto height = static_cast<std::uint64_t>(layout.height);
  layout.row_bytes = (width * static_cast<std::uint64_t>(layout.bits_per_pixel) + 31) / 32 * 4;
  if (!IsRle(layout.compression) && layout.pixel_offset + layout.row_bytes * height > file_size) {
    Refuse("pixel rows cut short");
  }
}

}  // namespace

Layout ReadLayout(std::span<const std::uint8_t> head, std::uint64_t file_size) {
  if (head.size() > file_size) head = head.first(static_cast<std::size_t>(file_size));
  Layout layout;
  const Family family = ReadHeaderFamily(head, layout);
  const InfoRest rest = ReadSizes(head, family, layout);
  const std::size_t palette_start = ReadMasks(head, rest, layout);
  const std::size_t header_end = ReadPalette(head, rest, palette_start, layout);
  CheckPixelsFit(header_end, file_size, layout);
  return layout;
}

}  // namespace dotloom::bmp
