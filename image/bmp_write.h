// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <cstdint>
#include <vector>

#include "image/picture.h"

namespace dotloom::bmp {

// image as a BMP file: 24 bits a pixel, rows bottom-up, a 40-byte header, no palette.
std::vector<std::uint8_t> Write(const Picture& image);

}  // namespace dotloom::bmp
