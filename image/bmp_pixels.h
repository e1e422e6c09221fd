// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "image/bmp_layout.h"
#include "image/colour.h"

namespace dotloom::bmp {

// The one rule that brings a channel of any width to 8 bits: 0 stays 0, max (the field's
// full value) becomes 255, and a value between becomes value x 255 / max rounded to the
// nearest, halves up. So 5-bit 31 is 255 and 5-bit 1 is 8. Values above max count as max.
std::uint8_t ScaleChannel(std::uint64_t value, std::uint64_t max);

// One colour channel of a pixel, given by its bit mask. A mask with holes reads the bits
// under it in place: the field is (pixel & mask) >> (its lowest bit), its full value mask
// shifted the same way; a mask of 0 gives 0.
class Channel {
 public:
  explicit Channel(std::uint32_t mask);
  std::uint8_t Of(std::uint32_t pixel) const;

 private:
  std::uint32_t mask_;
  unsigned shift_ = 0;
};

// The colour a palette gives index; an index past its end shows white.
Colour PaletteColour(const std::vector<Colour>& palette, std::uint32_t index);

// Turns stored rows of an uncompressed picture into colours. Alpha is ignored: the picture
// is drawn as stored.
class RowDecoder {
 public:
  explicit RowDecoder(const Layout& layout);

  // How many bytes of a stored row hold its first count pixels.
  std::uint64_t BytesFor(int count) const;
  // Fills out with the colours of the first out.size() pixels of row.
  void Decode(std::span<const std::uint8_t> row, std::span<Colour> out) const;

 private:
  const Layout& layout_;
  std::array<Channel, 3> channels_;  // red, green, blue
};

}  // namespace dotloom::bmp
