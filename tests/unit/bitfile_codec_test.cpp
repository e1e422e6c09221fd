// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "image/bitfile_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"

namespace dotloom {
namespace {

using namespace testing;
using Pixels = std::vector<std::pair<int, int>>;
using ByteAt = std::vector<std::pair<std::size_t, std::uint8_t>>;

Pixels BlackPixels(const Canvas& canvas) {
  Pixels black;
  for (int y = 0; y < Canvas::kHeight; ++y) {
    for (int x = 0; x < Canvas::kWidth; ++x) {
      if (canvas.Point(x, y) == kBlack) black.emplace_back(x, y);
    }
  }
  std::sort(black.begin(), black.end());
  return black;
}

// Every pixel of the Bitfile area's columns first to last.
Pixels Columns(int first, int last) {
  Pixels pixels;
  for (int x = first; x <= last; ++x) {
    for (int y = 0; y < 48; ++y) pixels.emplace_back(x, y);
  }
  return pixels;
}

struct LayoutCase {
  const char* name;
  Pixels pixels;
  ByteAt bytes;
};

std::vector<LayoutCase> LayoutCases() {
  ByteAt all_ones;
  for (std::size_t o = 0; o < 576; ++o) all_ones.emplace_back(o, 0xFF);
  return {
      {"top-left", {{0, 0}}, {{0, 0x01}}},
      {"bottom of first strip", {{0, 7}}, {{0, 0x80}}},
      {"second band", {{0, 8}}, {{96, 0x01}}},
      {"middle", {{10, 13}}, {{106, 0x20}}},
      {"bottom-right", {{95, 47}}, {{575, 0x80}}},
      {"column 3",
       Columns(3, 3),
       {{3, 0xFF}, {99, 0xFF}, {195, 0xFF}, {291, 0xFF}, {387, 0xFF}, {483, 0xFF}}},
      {"whole area", Columns(0, 95), all_ones},
  };
}

TEST(BitfileCodecTest, LayoutMatchesTheWorkedExamplesBothWays) {
  for (LayoutCase& c : LayoutCases()) {
    SCOPED_TRACE(c.name);
    Canvas drawn;
    for (const auto& [x, y] : c.pixels) drawn.PSet(x, y);
    const BitfileCodec::Bytes encoded = BitfileCodec::Encode(drawn);
    EXPECT_EQ(ByteVector(encoded.begin(), encoded.end()), BitfileWith(c.bytes));

    Canvas decoded;
    BitfileCodec::Decode(BitfileWith(c.bytes), decoded);
    std::sort(c.pixels.begin(), c.pixels.end());
    EXPECT_EQ(BlackPixels(decoded), c.pixels);
  }
}

TEST(BitfileCodecTest, RandomBitfilesSurviveDecodeThenEncode) {
  std::mt19937 random(576);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 25; ++round) {
    ByteVector original(576);
    for (auto& b : original) b = static_cast<std::uint8_t>(byte(random));
    Canvas canvas;
    BitfileCodec::Decode(original, canvas);
    const BitfileCodec::Bytes encoded = BitfileCodec::Encode(canvas);
    ASSERT_EQ(ByteVector(encoded.begin(), encoded.end()), original) << "round " << round;
  }
}

// The codec works a strip of 8 rows at a time; what it writes must still be exactly what
// Point shows, pixel by pixel, whatever mix of layers and colours the canvas holds.
TEST(BitfileCodecTest, EncodeAgreesWithPointOnRandomCanvases) {
  std::mt19937 random(96);
  std::uniform_int_distribution<int> x_of(-2, Canvas::kWidth + 1);
  std::uniform_int_distribution<int> y_of(-2, Canvas::kHeight + 1);
  std::uniform_int_distribution<int> pick(0, 3);
  const Colour colours[] = {kBlack, Rgb(1, 1, 1), kWhite, Rgb(0, 0, 9)};
  for (int round = 0; round < 200; ++round) {
    Canvas canvas(colours[pick(random)]);
    Picture picture(x_of(random), y_of(random), colours[pick(random)]);
    for (int i = 0; i < 300 && !picture.empty(); ++i) {
      const int x = x_of(random);
      const int y = y_of(random);
      if (picture.Contains(x, y)) picture.Set(x, y, colours[pick(random)]);
    }
    canvas.SetPicture(picture);
    for (int i = 0; i < 2000; ++i) canvas.PSet(x_of(random), y_of(random), colours[pick(random)]);
    if (pick(random) == 0) canvas.Cls();

    const BitfileCodec::Bytes encoded = BitfileCodec::Encode(canvas);
    ASSERT_EQ(ByteVector(encoded.begin(), encoded.end()),
              BitfileOf([&](int x, int y) { return canvas.Point(x, y) == kBlack; }))
        << "round " << round;
  }
}

TEST(BitfileCodecTest, OnlyExactBlackEncodesAsOne) {
  for (const Colour colour : {Rgb(1, 1, 1), Rgb(1, 0, 0), Rgb(0, 1, 0), Rgb(0, 0, 1),
                              Rgb(255, 0, 0), Rgb(0, 0, 255), Rgb(128, 128, 128), kWhite}) {
    Canvas canvas;
    canvas.PSet(0, 0, colour);
    canvas.SetPicture(Picture(96, 48, colour));
    EXPECT_EQ(BitfileCodec::Encode(canvas), BitfileCodec::Bytes{}) << std::hex << colour;
  }
}

TEST(BitfileCodecTest, MarginBeyondTheBitAreaIsNeverRead) {
  Canvas canvas;
  for (int y = 0; y < Canvas::kHeight; ++y) {
    for (int x = 96; x < Canvas::kWidth; ++x) canvas.PSet(x, y);
  }
  for (int x = 0; x < Canvas::kWidth; ++x) {
    for (int y = 48; y < Canvas::kHeight; ++y) canvas.PSet(x, y);
  }
  EXPECT_EQ(BitfileCodec::Encode(canvas), BitfileCodec::Bytes{});
}

TEST(BitfileCodecTest, DecodePaintsOverWhatIsThereWithoutClearing) {
  Canvas canvas;
  canvas.PSet(5, 5);
  Picture picture(99, 52, Rgb(9, 9, 9));
  picture.Set(20, 20, kBlack);
  canvas.SetPicture(picture);
  BitfileCodec::Decode(BitfileWith({{0, 0x01}}), canvas);
  EXPECT_EQ(BlackPixels(canvas), (Pixels{{0, 0}, {5, 5}, {20, 20}}));
  EXPECT_EQ(canvas.Point(1, 0), Rgb(9, 9, 9)) << "a 0 bit shows the picture";
  EXPECT_EQ(BitfileCodec::Encode(canvas)[96 * 2 + 20], 0x10) << "the picture's black encodes";
}

}  // namespace
}  // namespace dotloom
