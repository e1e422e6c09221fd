// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// Writes a BMP for the end-to-end tests through the tests' own BMP writer, so that the scripts
// do not write one of their own:
//
//   dotloom_write_bmp OUT WIDTH HEIGHT BACKGROUND [X,Y=COLOUR ...]
//
// A bottom-up 24-bit picture in BACKGROUND but for the pixels listed; colours as RRGGBB in hex.
#include <cstdio>
#include <exception>
#include <map>
#include <string>
#include <utility>

#include "image/colour.h"
#include "tests/support/bmp_writer.h"
#include "tests/support/test_support.h"

namespace {

using namespace dotloom;

Colour ColourOf(unsigned rrggbb) {
  return Rgb(static_cast<std::uint8_t>(rrggbb >> 16U), static_cast<std::uint8_t>(rrggbb >> 8U),
             static_cast<std::uint8_t>(rrggbb));
}

}  // namespace

int main(int argc, char** argv) {
  testing::BmpForm form;
  unsigned background = 0;
  if (argc < 5 || std::sscanf(argv[2], "%d", &form.width) != 1 ||
      std::sscanf(argv[3], "%d", &form.height) != 1 ||
      std::sscanf(argv[4], "%x", &background) != 1) {
    std::fprintf(stderr, "usage: dotloom_write_bmp OUT WIDTH HEIGHT RRGGBB [X,Y=RRGGBB ...]\n");
    return 2;
  }
  std::map<std::pair<int, int>, Colour> pixels;
  for (int i = 5; i < argc; ++i) {
    int x = 0;
    int y = 0;
    unsigned colour = 0;
    if (std::sscanf(argv[i], "%d,%d=%x", &x, &y, &colour) != 3) {
      std::fprintf(stderr, "not X,Y=RRGGBB: %s\n", argv[i]);
      return 2;
    }
    pixels[{x, y}] = ColourOf(colour);
  }
  try {
    testing::WriteFile(argv[1], testing::WriteBmp(form, [&](int x, int y) {
                         const auto pixel = pixels.find({x, y});
                         return pixel == pixels.end() ? ColourOf(background) : pixel->second;
                       }));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  return 0;
}
