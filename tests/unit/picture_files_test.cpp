// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "commands/picture_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "image/bmp_read.h"
#include "image/canvas.h"
#include "tests/support/bmp_writer.h"
#include "tests/support/test_support.h"

namespace dotloom {
namespace {
namespace fs = std::filesystem;
using namespace testing;

// One BMP of the table below, header and all: pixels holds the stored rows (padded) or the
// compressed stream, as the file would.
struct Form {
  std::string name;
  int info_size;
  int bits;
  std::uint32_t compression;
  std::vector<std::uint32_t> masks;  // after a 40-byte header, or inside a larger one
  std::vector<Colour> palette;       // its length is the header's colours-used count
  int width;
  int height;  // negative for top-down
  ByteVector pixels;
  std::vector<Colour> expected;  // from the top-left, row by row; none when refused
};

ByteVector FileOf(const Form& form) {
  BmpForm bmp_form{.width = form.width,
                   .height = std::abs(form.height),
                   .top_down = form.height < 0,
                   .bits = form.bits,
                   .coding = static_cast<BmpForm::Coding>(form.compression),
                   .info_size = form.info_size,
                   .palette = form.palette,
                   .colours_used = static_cast<std::uint32_t>(form.palette.size()),
                   .masks = {},
                   .trailing_masks = static_cast<int>(form.masks.size())};
  std::copy(form.masks.begin(), form.masks.end(), bmp_form.masks.begin());
  ByteVector file = BmpHeader(bmp_form, static_cast<std::uint32_t>(form.pixels.size()));
  file.insert(file.end(), form.pixels.begin(), form.pixels.end());
  return file;
}

// A 1-bit picture stored bottom-up whose only pixel of colour 1 is its top-left one, and the
// first count colours it shows with the palette {white, black}.
ByteVector TopLeftSet(int width, int height) {
  const std::size_t row = (static_cast<std::size_t>(width) + 31) / 32 * 4;
  ByteVector pixels(row * static_cast<std::size_t>(height), 0);
  pixels[row * static_cast<std::size_t>(height - 1)] = 0x80;
  return pixels;
}

std::vector<Colour> TopLeftBlack(std::size_t count) {
  std::vector<Colour> colours(count, kWhite);
  colours[0] = kBlack;
  return colours;
}

// RLE streams by hand, each as RLE8 and as RLE4, for a 4 x 2 picture whose colour 1 is black.
// Pixels a stream skips on purpose show the background; a stream cut short before its last
// pixel is refused.
std::vector<Form> RleStreams() {
  std::vector<Form> forms;
  for (const bool four : {false, true}) {
    const std::uint8_t black = four ? 0x11 : 0x01;
    // shown: the rows from the top, X for black; none when refused.
    const auto add = [&](const char* name, const ByteVector& stream, const char* shown) {
      // clang-format off
      Form& form = forms.emplace_back(Form{std::string(four ? "RLE4, " : "RLE8, ") + name, 40,
          four ? 4 : 8, four ? 2U : 1U, {}, {kWhite, kBlack}, 4, 2, stream, {}});
      // clang-format on
      for (; shown != nullptr && *shown != 0; ++shown) {
        form.expected.push_back(*shown == 'X' ? kBlack : kTransparent);
      }
    };
    add("whole", {4, black, 0, 0, 4, black, 0, 1}, "XXXXXXXX");
    add("no end marker", {4, black, 0, 0, 4, black}, "XXXXXXXX");
    add("run past the row end", {255, black, 0, 0, 4, black, 0, 1}, "XXXXXXXX");
    add("row ended early", {2, black, 0, 0, 4, black, 0, 1}, "XXXXXX..");
    add("bitmap ended early", {4, black, 0, 1}, "....XXXX");
    add("delta over pixels", {2, black, 0, 2, 1, 0, 1, black, 0, 0, 4, black, 0, 1}, "XXXXXX.X");
    add("delta past the top", {4, black, 0, 2, 0, 9, 4, black}, "....XXXX");
    // More codes than the picture could use: what follows them is never read.
    add("runs past the row end, on and on", RunsPastTheRowEnd(black, 1000), "....XXXX");
    add("run cut short", {4, black, 0, 0, 4}, nullptr);
    add("absolute run cut short", {4, black, 0, 0, 0, 4, black}, nullptr);
    add("delta cut short", {4, black, 0, 2, 1}, nullptr);
    add("empty", {}, nullptr);
  }
  return forms;
}

// The colours worked out by hand from the format: a channel of full value v_max is scaled as
// v x 255 / v_max, rounded; a mask's field is (pixel & mask) >> (its lowest bit).
TEST(PictureFilesTest, EveryFormGivesTheColoursItDefines) {
  constexpr Colour T = kTransparent;
  constexpr Colour W = kWhite;
  constexpr Colour B = kBlack;
  constexpr Colour red = Rgb(255, 0, 0);
  constexpr Colour green = Rgb(0, 255, 0);
  constexpr Colour blue = Rgb(0, 0, 255);
  // One row a form, header fields first, then the stored pixels and the colours they give.
  // clang-format off
  std::vector<Form> forms = {
      {"1 bit", 40, 1, 0, {}, {Rgb(10, 20, 30), W}, 3, 1,
       {0x40, 0, 0, 0}, {Rgb(10, 20, 30), W, Rgb(10, 20, 30)}},
      {"2 bits", 40, 2, 0, {}, {B, red, green, blue}, 4, 1,
       {0x1B, 0, 0, 0}, {B, red, green, blue}},
      {"4 bits, index past the palette", 40, 4, 0, {}, {B, red}, 2, 1,
       {0x15, 0, 0, 0}, {red, W}},
      {"1 bit, palette longer than the depth names", 40, 1, 0, {}, {B, W, red}, 2, 1,
       {0x40, 0, 0, 0}, {B, W}},
      {"OS/2 1.x", 12, 1, 0, {}, {red, B}, 2, 1,
       {0x80, 0, 0, 0}, {B, red}},
      {"OS/2 1.x, 40000 rows, still bottom-up", 12, 1, 0, {}, {W, B}, 1, 40000,
       TopLeftSet(1, 40000), TopLeftBlack(52)},
      {"OS/2 1.x, 40000 columns", 12, 1, 0, {}, {W, B}, 40000, 1,
       TopLeftSet(40000, 1), TopLeftBlack(99)},
      {"OS/2 1.x, palette ending where the pixels start", 12, 8, 0, {}, {red, B}, 3, 1,
       {1, 0, 2, 0}, {B, red, W}},
      {"OS/2 2.x, 16 bytes", 16, 1, 0, {}, {red, B}, 2, 1,
       {0x40, 0, 0, 0}, {red, B}},
      {"OS/2 2.x, RLE24", 64, 24, 4, {}, {}, 3, 2,
       {0, 3, 3, 2, 1, 6, 5, 4, 9, 8, 7, 0, 0, 0, 2, 3, 2, 1, 0, 1},
       {Rgb(1, 2, 3), Rgb(1, 2, 3), T, Rgb(1, 2, 3), Rgb(4, 5, 6), Rgb(7, 8, 9)}},
      {"16 bits, 5-5-5", 40, 16, 0, {}, {}, 3, 1,
       {0xFF, 0x7F, 0x01, 0x00, 0x00, 0x7C, 0, 0}, {W, Rgb(0, 0, 8), red}},
      {"bit fields 5-6-5", 40, 16, 3, {0xF800, 0x07E0, 0x001F}, {}, 2, 1,
       {0xE0, 0x07, 0x21, 0x08}, {green, Rgb(8, 4, 8)}},
      {"bit fields, red mask 0", 40, 16, 3, {0, 0x03E0, 0x001F}, {}, 1, 1,
       {0xFF, 0x7F, 0, 0}, {Rgb(0, 255, 255)}},
      {"bit fields 3-10-3", 40, 16, 3, {0xE000, 0x1FF8, 0x0007}, {}, 2, 1,
       {0x07, 0xE0, 0x18, 0x00}, {Rgb(255, 0, 255), Rgb(0, 1, 0)}},
      {"mask with a hole", 40, 16, 3, {0x0005, 0x0005, 0x0005}, {}, 2, 1,
       {0x04, 0, 0x01, 0}, {Rgb(204, 204, 204), Rgb(51, 51, 51)}},
      {"mask reaching bit 31, 11-11-10", 40, 32, 3, {0xFFE00000, 0x001FFC00, 0x000003FF}, {}, 2, 1,
       {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80}, {W, Rgb(128, 0, 0)}},
      {"alpha bit fields 10-10-10-2", 40, 32, 6,
       {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000}, {}, 2, 1,
       {0x00, 0x02, 0x00, 0xC0, 0xFF, 0xFF, 0xFF, 0x3F}, {Rgb(0, 0, 128), W}},
      {"alpha bit fields, pixels over the fourth mask", 40, 32, 6,
       {0x00FF0000, 0x0000FF00, 0x000000FF}, {}, 1, 1, {1, 2, 3, 0}, {}},
      {"24 bits, bit fields in a 108-byte header", 108, 24, 3, {0xFF, 0xFF00, 0xFF0000}, {}, 2, 1,
       {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0, 0}, {Rgb(0x11, 0x22, 0x33), Rgb(0x44, 0x55, 0x66)}},
      {"24 bits, 7-8-9 alpha bit fields in a 124-byte header", 124, 24, 6,
       {0x00007F, 0x007F80, 0xFF8000, 0}, {}, 1, 1, {0x7F, 0x00, 0x80, 0}, {Rgb(255, 0, 128)}},
      {"24 bits, bit fields in a 40-byte header", 40, 24, 3, {0xFF, 0xFF00, 0xFF0000}, {}, 1, 1,
       {1, 2, 3, 0}, {}},
      {"52-byte header", 52, 16, 3, {0xF800, 0x07E0, 0x001F}, {}, 1, 1,
       {0xFF, 0xFF, 0, 0}, {W}},
      {"56-byte header, red low", 56, 32, 3, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, {}, 1, 1,
       {0x11, 0x22, 0x33, 0x44}, {Rgb(0x11, 0x22, 0x33)}},
      {"64 bits, fixed point", 40, 64, 0, {}, {}, 2, 1,
       {0x00, 0x20, 0x00, 0x10, 0x00, 0x00, 0x00, 0x20,    // blue 1.0, green 0.5, red 0
        0x01, 0x00, 0xFF, 0x3F, 0x00, 0xE0, 0x00, 0x20},  // blue ~0, green ~2, red < 0
       {Rgb(0, 128, 255), green}},
      {"24 bits, top-down", 124, 24, 0, {}, {}, 1, -2,
       {3, 2, 1, 0, 6, 5, 4, 0}, {Rgb(1, 2, 3), Rgb(4, 5, 6)}},
      {"RLE8, delta", 40, 8, 1, {}, {W, B}, 4, 2,
       {1, 1, 0, 2, 1, 1, 1, 1, 0, 1}, {T, T, B, T, B, T, T, T}},
      {"RLE4, early end of bitmap", 40, 4, 2, {}, {W, B}, 4, 2,
       {4, 0x10, 0, 1}, {T, T, T, T, B, W, B, W}},
      {"RLE4, odd absolute run", 40, 4, 2, {}, {W, B}, 4, 1,
       {0, 3, 0x10, 0x10, 1, 0x11, 0, 1}, {B, W, B, B}},
      {"RLE8 cut short", 40, 8, 1, {}, {W, B}, 4, 2, {4, 1}, {}},
      {"RLE8, top-down", 40, 8, 1, {}, {W, B}, 4, -1, {4, 1, 0, 1}, {}},
      {"RLE4 at 2 bits", 40, 2, 2, {}, {W, B}, 4, 1, {4, 0x11, 0, 1}, {}},
      {"RLE4 at 1 bit", 40, 1, 2, {}, {W, B}, 4, 1, {4, 0x11, 0, 1}, {}},
      {"RLE8 of 16384 x 16384, ended at once", 40, 8, 1, {}, {W, B}, 16384, 16384, {0, 1},
       std::vector<Colour>(99 * 52, T)},
      {"RLE8 of 16384 x 16385", 40, 8, 1, {}, {W, B}, 16384, 16385, {0, 1}, {}},
      {"OS/2 Huffman", 64, 1, 3, {}, {W, B}, 8, 1, {0, 0, 0, 0}, {}},
      {"JPEG inside", 40, 24, 4, {}, {}, 1, 1, {0, 0, 0, 0}, {}},
  };
  // clang-format on
  for (Form& stream : RleStreams()) forms.push_back(std::move(stream));
  for (const Form& form : forms) {
    SCOPED_TRACE(form.name);
    const ByteVector file = FileOf(form);
    if (form.expected.empty()) {
      EXPECT_THROW(bmp::Read(file, 99, 52), bmp::BmpError);
      continue;
    }
    const Picture picture = bmp::Read(file, 99, 52);
    ASSERT_EQ(picture.width(), std::min(form.width, 99));
    ASSERT_EQ(picture.height(), std::min(std::abs(form.height), 52));
    EXPECT_EQ(std::vector<Colour>(picture.pixels().begin(), picture.pixels().end()), form.expected);
    // Skipped pixels show the background colour, never black.
    Canvas canvas(Rgb(7, 7, 7));
    canvas.SetPicture(picture);
    for (int y = 0; y < picture.height(); ++y) {
      for (int x = 0; x < picture.width(); ++x) {
        const Colour expected = picture.At(x, y);
        EXPECT_EQ(canvas.Point(x, y), expected == T ? Rgb(7, 7, 7) : expected);
      }
    }
  }
}

TEST(PictureFilesTest, SavedPictureLoadsBackExactly) {
  TempDir dir;
  Picture picture(99, 52, kWhite);
  picture.Set(0, 0, kBlack);
  picture.Set(98, 51, kBlack);
  picture.Set(5, 5, Rgb(1, 1, 1));
  picture.Set(6, 5, Rgb(0x12, 0x34, 0x56));
  SavePicture(picture, dir / "p.bmp");
  // Both builds write the same file: a 24-bit bottom-up BMP with a 40-byte header.
  const ByteVector header = {0x42, 0x4D, 0x26, 0x3D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x36,
                             0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00, 0x63, 0x00, 0x00, 0x00,
                             0x34, 0x00, 0x00, 0x00, 0x01, 0x00, 0x18, 0x00, 0x00, 0x00, 0x00,
                             0x00, 0xF0, 0x3C, 0x00, 0x00, 0x61, 0x0F, 0x00, 0x00, 0x61, 0x0F,
                             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  const ByteVector saved = ReadFile(dir / "p.bmp");
  ASSERT_EQ(saved.size(), 15654U);
  EXPECT_EQ(ByteVector(saved.begin(), saved.begin() + 54), header);
  // The bottom row comes first: (0, 51) white, then (98, 51) black.
  EXPECT_EQ(ByteVector(saved.begin() + 54, saved.begin() + 57), ByteVector(3, 0xFF));
  EXPECT_EQ(ByteVector(saved.begin() + 54 + 3 * 98, saved.begin() + 54 + 3 * 99), ByteVector(3, 0));
  EXPECT_EQ(LoadPicture(dir / "p.bmp", 99, 52), picture);
  EXPECT_EQ(LoadPicture(dir / "p.bmp", 10, 100), picture.TopLeft(10, 52)) << "clipped on load";
}

TEST(PictureFilesTest, NamesThatAreNotAsciiWork) {
  TempDir dir;
  const fs::path name = dir.path() / fs::path(u8"Grüße aus Köln.bmp");
  SavePicture(Picture(3, 3, kBlack), name);
  EXPECT_EQ(LoadPicture(name, 99, 52), Picture(3, 3, kBlack));
}

}  // namespace
}  // namespace dotloom
