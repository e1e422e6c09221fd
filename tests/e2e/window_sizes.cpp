// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// Prints the main window's sizes at one device pixel per canvas pixel as window/ describes
// them, so that the end-to-end scripts measure the real window against them instead of
// typing the numbers again: one "name width height" line each, and the edge's width.
#include <cstdio>
#include <cstring>

#include "window/window_description.h"

int main(int argc, char* argv[]) {
  using namespace dotloom;
  if (argc > 1) {  // --help, or a mistake
    std::puts("usage: dotloom_window_sizes\nPrints the window's sizes at scale 1.");
    return std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
  }
  const window::Size picture = window::PictureSize(1);
  const window::Size client = window::ClientSize(1);
  std::printf("interior %d %d\npicture %d %d\nclient %d %d\nborder %d\n", Canvas::kWidth,
              Canvas::kHeight, picture.width, picture.height, client.width, client.height,
              window::kBorder);
  return 0;
}
