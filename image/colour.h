// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <cstdint>

namespace dotloom {

// A colour as 0x00BBGGRR: red in the lowest byte. Exact 0 is black, and black is the only
// colour the program tells apart from the others.
using Colour = std::uint32_t;

inline constexpr Colour kBlack = 0x000000;
inline constexpr Colour kWhite = 0xFFFFFF;
// Not a colour: a pixel of a picture that leaves the place to what lies below it (pixels a
// compressed BMP skips on purpose). Its top byte keeps it apart from every colour.
inline constexpr Colour kTransparent = 0xFF000000;

constexpr Colour Rgb(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return Colour{red} | (Colour{green} << 8U) | (Colour{blue} << 16U);
}

constexpr std::uint8_t Red(Colour colour) { return static_cast<std::uint8_t>(colour); }
constexpr std::uint8_t Green(Colour colour) { return static_cast<std::uint8_t>(colour >> 8U); }
constexpr std::uint8_t Blue(Colour colour) { return static_cast<std::uint8_t>(colour >> 16U); }

}  // namespace dotloom
