// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "tests/support/bmp_writer.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <fstream>
#include <stdexcept>
#include <string>

namespace dotloom::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8U));
}

void Put32(Bytes& out, std::uint32_t value) {
  Put16(out, value & 0xFFFFU);
  Put16(out, value >> 16U);
}

// Fits an 8-bit component into the bits of mask.
std::uint32_t Pack(std::uint8_t component, std::uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask);
  const int width = std::popcount(mask);
  const std::uint32_t value = width >= 8 ? std::uint32_t{component} << (width - 8)
                                         : std::uint32_t{component} >> (8 - width);
  return (value << shift) & mask;
}

std::uint32_t PackColour(Colour colour, const std::array<std::uint32_t, 4>& masks) {
  return Pack(Red(colour), masks[0]) | Pack(Green(colour), masks[1]) |
         Pack(Blue(colour), masks[2]) | Pack(0xFF, masks[3]);
}

Bytes Row(const BmpForm& form, int y, const std::function<std::uint32_t(int, int)>& pixel) {
  const std::array<std::uint32_t, 4> plain16 = {0x7C00, 0x03E0, 0x001F, 0};
  const bool packed =
      form.coding == BmpForm::Coding::kBitfields || form.coding == BmpForm::Coding::kAlphaBitfields;
  Bytes row;
  std::uint32_t accumulator = 0;
  int filled = 0;
  for (int x = 0; x < form.width; ++x) {
    const std::uint32_t value = pixel(x, y);
    if (form.bits <= 8) {
      accumulator = (accumulator << static_cast<unsigned>(form.bits)) | value;
      filled += form.bits;
      if (filled == 8) {
        row.push_back(static_cast<std::uint8_t>(accumulator));
        accumulator = 0;
        filled = 0;
      }
    } else if (form.bits == 16) {
      Put16(row, PackColour(value, packed ? form.masks : plain16));
    } else if (form.bits == 24) {
      row.insert(row.end(), {Blue(value), Green(value), Red(value)});
    } else if (form.bits == 64) {
      for (const std::uint8_t component :
           {Blue(value), Green(value), Red(value), std::uint8_t{255}}) {
        Put16(row, (std::uint32_t{component} * 0x2000 + 127) / 255);
      }
    } else {
      Put32(row, packed ? PackColour(value, form.masks)
                        : (std::uint32_t{Red(value)} << 16U) | (std::uint32_t{Green(value)} << 8U) |
                              std::uint32_t{Blue(value)});
    }
  }
  if (filled > 0) row.push_back(static_cast<std::uint8_t>(accumulator << (8 - filled)));
  while (row.size() % 4 != 0) row.push_back(0);
  return row;
}

// Each row alternates absolute runs of up to 8 pixels and repeated runs, then ends its line:
// RLE8, RLE4 (whose repeated runs alternate two colours) and OS/2's RLE24 (blue, green and red
// for each pixel) alike.
Bytes RleRow(const BmpForm& form, int y, const std::function<std::uint32_t(int, int)>& pixel) {
  const bool four = form.coding == BmpForm::Coding::kRle4;
  const auto put = [&form](Bytes& out, std::uint32_t value) {
    if (form.coding == BmpForm::Coding::kRle24) {
      out.insert(out.end(), {Blue(value), Green(value), Red(value)});
    } else {
      out.push_back(static_cast<std::uint8_t>(value));
    }
  };
  Bytes out;
  int x = 0;
  bool absolute = true;
  while (x < form.width) {
    const int count = std::min(8, form.width - x);
    if (absolute && count >= 3) {
      out.insert(out.end(), {0, static_cast<std::uint8_t>(count)});
      Bytes data;
      for (int i = 0; i < count; ++i) {
        const std::uint32_t value = pixel(x + i, y);
        if (!four) {
          put(data, value);
        } else if (i % 2 == 0) {
          data.push_back(static_cast<std::uint8_t>(value << 4U));
        } else {
          data.back() = static_cast<std::uint8_t>(data.back() | value);
        }
      }
      if (data.size() % 2 != 0) data.push_back(0);
      out.insert(out.end(), data.begin(), data.end());
      x += count;
    } else {
      // A repeated run of one pixel (or two alternating ones for 4 bits), as long as it lasts.
      const std::uint32_t first = pixel(x, y);
      const std::uint32_t second = four && x + 1 < form.width ? pixel(x + 1, y) : 0;
      int run = 1;
      while (x + run < form.width && run < 255 &&
             pixel(x + run, y) == ((run % 2 == 0 || !four) ? first : second)) {
        ++run;
      }
      out.push_back(static_cast<std::uint8_t>(run));
      if (four) {
        out.push_back(static_cast<std::uint8_t>((first << 4U) | second));
      } else {
        put(out, first);
      }
      x += run;
    }
    absolute = !absolute;
  }
  out.insert(out.end(), {0, 0});
  return out;
}

}  // namespace

std::vector<std::uint8_t> WriteBmp(const BmpForm& form,
                                   const std::function<std::uint32_t(int, int)>& pixel) {
  const bool rle = form.coding == BmpForm::Coding::kRle4 || form.coding == BmpForm::Coding::kRle8 ||
                   form.coding == BmpForm::Coding::kRle24;
  Bytes pixels;
  for (int i = 0; i < form.height; ++i) {
    // Rows are stored bottom-up unless the image is top-down.
    const int y = form.top_down ? i : form.height - 1 - i;
    const Bytes row = rle ? RleRow(form, y, pixel) : Row(form, y, pixel);
    pixels.insert(pixels.end(), row.begin(), row.end());
  }
  if (rle) pixels.insert(pixels.end(), {0, 1});

  Bytes file = BmpHeader(form, static_cast<std::uint32_t>(pixels.size()));
  file.insert(file.end(), pixels.begin(), pixels.end());
  return file;
}

std::vector<std::uint8_t> BmpHeader(const BmpForm& form, std::uint32_t pixel_bytes) {
  Bytes info;
  Put32(info, static_cast<std::uint32_t>(form.info_size));
  // The 12-byte OS/2 header stores the size in 16 bits, and ends with the depth.
  const auto put_size = form.info_size == 12 ? Put16 : Put32;
  put_size(info, static_cast<std::uint32_t>(form.width));
  put_size(info, static_cast<std::uint32_t>(form.top_down ? -form.height : form.height));
  Put16(info, 1);
  Put16(info, static_cast<std::uint32_t>(form.bits));
  if (form.info_size != 12) {
    for (const std::uint32_t value : {static_cast<std::uint32_t>(form.coding), pixel_bytes, 2835U,
                                      2835U, form.colours_used, 0U}) {
      Put32(info, value);
    }
    // The masks inside the header: red, green and blue from 52 bytes on, alpha from 56.
    if (form.info_size >= 52) {
      for (std::size_t i = 0; i < (form.info_size >= 56 ? 4U : 3U); ++i) Put32(info, form.masks[i]);
    }
    if (form.info_size >= 108) Put32(info, 0x73524742);  // 'sRGB'
    info.resize(static_cast<std::size_t>(form.info_size), 0);
  }
  // After a 40-byte header: red, green and blue masks, and alpha with kAlphaBitfields.
  const bool alpha = form.coding == BmpForm::Coding::kAlphaBitfields;
  const int named = alpha ? 4 : form.coding == BmpForm::Coding::kBitfields ? 3 : 0;
  if (form.info_size == 40) {
    for (int i = 0; i < (form.trailing_masks >= 0 ? form.trailing_masks : named); ++i) {
      Put32(info, form.masks[static_cast<std::size_t>(i)]);
    }
  }
  for (const Colour colour : form.palette) {
    info.insert(info.end(), {Blue(colour), Green(colour), Red(colour)});
    if (form.info_size != 12) info.push_back(0);
  }

  Bytes file = {'B', 'M'};
  const auto offset = static_cast<std::uint32_t>(14 + info.size());
  Put32(file, offset + pixel_bytes);
  Put32(file, 0);
  Put32(file, offset);
  file.insert(file.end(), info.begin(), info.end());
  return file;
}

void PutField(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) {
    bytes.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

std::vector<std::uint8_t> RunsPastTheRowEnd(std::uint8_t colour, std::size_t count) {
  Bytes stream;
  for (std::size_t i = 0; i < count; ++i) stream.insert(stream.end(), {255, colour});
  return stream;
}

std::uint64_t WriteGreyBmp(const std::filesystem::path& path, int width, int height) {
  const auto row_size = (static_cast<std::uint64_t>(width) * 3 + 3) / 4 * 4;
  const std::uint64_t pixel_bytes = row_size * static_cast<std::uint64_t>(height);
  BmpForm form;
  form.width = width;
  form.height = height;
  const Bytes header = BmpHeader(form, static_cast<std::uint32_t>(pixel_bytes));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(header.data()),
            static_cast<std::streamsize>(header.size()));
  const std::vector<char> grey_row(static_cast<std::size_t>(row_size), static_cast<char>(0x80));
  std::vector<char> marked_row = grey_row;
  for (int i = 0; i < 3; ++i) marked_row[3 + static_cast<std::size_t>(i)] = 0;  // pixel x = 1
  for (int y = height - 1; y >= 0; --y) {
    const std::vector<char>& row = y == 1 ? marked_row : grey_row;
    out.write(row.data(), static_cast<std::streamsize>(row.size()));
  }
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
  return header.size() + pixel_bytes;
}

std::vector<std::uint8_t> BlackPng() {
  return {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
          0x44, 0x52, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0x08, 0x02, 0x00, 0x00,
          0x00, 0x26, 0x93, 0x09, 0x29, 0x00, 0x00, 0x00, 0x0C, 0x49, 0x44, 0x41, 0x54, 0x78,
          0xDA, 0x63, 0x60, 0x20, 0x1D, 0x00, 0x00, 0x00, 0x34, 0x00, 0x01, 0x48, 0xA3, 0x7D,
          0x6F, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
}

}  // namespace dotloom::testing
