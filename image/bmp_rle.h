// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "image/bmp_layout.h"
#include "image/picture.h"

namespace dotloom::bmp {

// Fills as much of buffer as the file holds from offset on and returns the count: how the
// reader reaches a file, whatever holds it.
using ReadAtFunction = std::function<std::size_t(std::span<std::uint8_t>, std::uint64_t)>;

// The most the RLE decoder reads at once.
inline constexpr std::size_t kStreamChunk = 64 * 1024;

// Walks the RLE4, RLE8 or RLE24 stream of a file of file_size bytes from its pixel offset up
// to its end of bitmap, in chunks of kStreamChunk, and paints the pixels that fall inside
// picture (the top-left corner of the picture, which the caller has filled with
// kTransparent). Pixels the stream skips on purpose (a delta, an early end of line or of
// bitmap) stay as they were; runs past the end of a row, or in rows not kept, are dropped
// at the cost of reading them. A stream that holds more codes than its picture could use
// (twice one a pixel and one a row) ends there, as at an end of bitmap, so the work is
// bounded by the picture, whatever the file's length. Throws BmpError when the stream ends
// before it has reached the last pixel or its end of bitmap, or inside a run.
void DecodeRle(const Layout& layout, const ReadAtFunction& read, std::uint64_t file_size,
               Picture& picture);

}  // namespace dotloom::bmp
