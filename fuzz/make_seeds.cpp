// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// Writes the seed corpora of the three fuzz targets into the folder given:
// bitfile/, bmp/ and open/ (the Open command's seeds carry the name-picking byte first).
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "image/bitfile_codec.h"
#include "tests/support/bmp_writer.h"
#include "tests/support/test_support.h"

namespace {

using namespace dotloom;
using dotloom::testing::BmpForm;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

std::vector<Bytes> Bitfiles() {
  const Bytes pattern = testing::BytePattern(BitfileCodec::BitfileSize, 37);
  return {Bytes{},          Bytes(1, 0xFF), Bytes(575, 0xAA), Bytes(576, 0),
          Bytes(576, 0xFF), pattern,        Bytes(577, 0x55)};
}

std::vector<Bytes> Bitmaps() {
  std::vector<Bytes> out;
  const auto index = [](int bits) {
    return [bits](int x, int y) { return static_cast<std::uint32_t>((x + 3 * y) % (1 << bits)); };
  };
  const auto colour = [](int x, int y) -> std::uint32_t {
    return (x + y) % 3 == 0 ? 0U : Rgb(static_cast<std::uint8_t>(x * 20), 200, 1);
  };
  const std::vector<Colour> grey16 = [] {
    std::vector<Colour> palette;
    for (int i = 0; i < 16; ++i) palette.push_back(Rgb(static_cast<std::uint8_t>(i * 17), 0, 0));
    return palette;
  }();
  for (const int size : {5, 13}) {
    BmpForm form;
    form.width = size;
    form.height = size / 2 + 1;
    for (const int info : {12, 40, 64, 108, 124}) {
      form.info_size = info;
      form.coding = BmpForm::Coding::kRgb;
      form.bits = 1;
      form.palette = {kWhite, kBlack};
      out.push_back(WriteBmp(form, index(1)));
      form.bits = 4;
      form.palette = grey16;
      out.push_back(WriteBmp(form, index(4)));
      form.bits = 8;
      out.push_back(WriteBmp(form, index(4)));
      for (const int bits : {16, 24, 32}) {
        form.bits = bits;
        form.palette.clear();
        out.push_back(WriteBmp(form, colour));
      }
      if (info == 12 || info == 64) continue;
      form.palette = grey16;
      form.bits = 8;
      form.coding = BmpForm::Coding::kRle8;
      out.push_back(WriteBmp(form, index(4)));
      form.bits = 4;
      form.coding = BmpForm::Coding::kRle4;
      out.push_back(WriteBmp(form, index(4)));
      form.palette.clear();
      form.coding = BmpForm::Coding::kBitfields;
      form.bits = 16;
      form.masks = {0xF800, 0x07E0, 0x001F, 0};
      out.push_back(WriteBmp(form, colour));
      form.bits = 32;
      form.masks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000};
      out.push_back(WriteBmp(form, colour));
      form.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0};
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: fuzz_make_seeds FOLDER\n";
    return 2;
  }
  const fs::path root = argv[1];
  for (const char* name : {"bitfile", "bmp", "open"}) fs::create_directories(root / name);
  int count = 0;
  const auto add = [&](const std::string& target, std::uint8_t prefix, Bytes bytes, bool prefixed) {
    if (prefixed) bytes.insert(bytes.begin(), prefix);
    testing::WriteFile(root / target / ("seed-" + std::to_string(count++)), bytes);
  };
  for (const Bytes& bytes : Bitfiles()) {
    add("bitfile", 0, bytes, false);
    add("open", 0, bytes, true);
  }
  for (const Bytes& bytes : Bitmaps()) {
    add("bmp", 0, bytes, false);
    add("open", 1, bytes, true);
  }
  std::cout << count << " seeds in " << root << "\n";
  return 0;
}
