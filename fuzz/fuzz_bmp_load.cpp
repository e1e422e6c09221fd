// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The BMP reader over arbitrary bytes: it refuses cleanly or gives a picture of the right
// size, and never holds more than its bound, whatever the file.
#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <span>
#include <vector>

#include "image/bmp_layout.h"
#include "image/bmp_read.h"
#include "image/canvas.h"

namespace {

// The heap in use and its peak, counted through the sanitizer's hooks.
std::int64_t live = 0;
std::int64_t peak = 0;

void OnMalloc(const volatile void*, std::size_t size) {
  live += static_cast<std::int64_t>(size);
  peak = std::max(peak, live);
}

void OnFree(const volatile void* pointer) {
  live -=
      static_cast<std::int64_t>(__sanitizer_get_allocated_size(const_cast<const void*>(pointer)));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A bound that is never counted would pass every input: make sure the hooks count.
  if (__sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree) == 0) std::abort();
  const std::int64_t before = live;
  const std::vector<char> block(1 << 20);
  if (live - before < (1 << 20)) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dotloom;
  const std::span<const std::uint8_t> bytes(data, size);
  const std::int64_t before = live;
  peak = live;
  try {
    const Picture picture = bmp::Read(bytes, Canvas::kWidth, Canvas::kHeight);
    // Whatever loads has a layout and keeps to the clip.
    const bmp::Layout layout = bmp::ReadLayout(bytes, size);
    if (picture.width() != std::min(layout.width, Canvas::kWidth)) std::abort();
    if (picture.height() != std::min(layout.height, Canvas::kHeight)) std::abort();
    for (const Colour colour : picture.pixels()) {
      if ((colour & 0xFF000000U) != 0 && colour != kTransparent) std::abort();
    }
  } catch (const std::exception&) {
    // Refused: the contract is only that it fails cleanly.
  }
  if (peak - before > static_cast<std::int64_t>(bmp::kReadMemoryBound)) std::abort();
  return 0;
}
