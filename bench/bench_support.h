// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "tests/support/bmp_writer.h"
#include "tests/support/test_support.h"

namespace dotloom::bench {

using testing::ByteVector;
using testing::ReadFile;
using testing::ScriptedDialog;
using testing::TempDir;
using testing::WriteFile;

// Writes a bottom-up 24-bit BMP of width x height pixels, streamed row by row so that even
// an 8000 x 8000 file costs no memory: mid grey with a black pixel at (1, 1), which tells
// whether the top-left corner arrived. Returns the file's size.
std::uint64_t WriteBmp24(const std::filesystem::path& path, int width, int height);

// The least work that shows the top-left corner of a large uncompressed bottom-up BMP: reads
// its header and only the last `rows` rows of the file, which are the top of the picture, and
// decodes them with Qt as a BMP of that many rows. Returns the decoded height, 0 on failure.
int DecodeTopRows(const std::filesystem::path& path, int rows);

}  // namespace dotloom::bench
