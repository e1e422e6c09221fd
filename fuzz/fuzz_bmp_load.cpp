// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The BMP load over arbitrary bytes: the header and RLE checks, then Qt's decoder.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "commands/picture_files.h"
#include "image/bmp_header.h"
#include "image/canvas.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dotloom;
  const std::span<const std::uint8_t> bytes(data, size);
  try {
    const Picture picture = LoadPictureFromBytes(bytes, Canvas::kWidth, Canvas::kHeight);
    // Whatever loads passed the checks and keeps to the clip.
    const bmp::Layout layout = bmp::Check(bytes);
    if (layout.decoded_bytes > bmp::MemoryBound(size)) std::abort();
    if (picture.width() != std::min(layout.width, Canvas::kWidth)) std::abort();
    if (picture.height() != std::min(layout.height, Canvas::kHeight)) std::abort();
    for (const Colour colour : picture.pixels()) {
      if ((colour & 0xFF000000U) != 0) std::abort();
    }
  } catch (const std::exception&) {
    // Refused: the contract is only that it fails cleanly.
  }
  return 0;
}
