// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "image/bitfile_codec.h"

#include <algorithm>

#include "files/regular_file.h"
#include "files/save_file.h"

namespace dotloom::BitfileCodec {

// The canvas keeps its drawing in the Bitfile's own layout, so both conversions are one strip
// of 96 column bytes per band.

void DecodeBytes(std::span<const std::uint8_t> bytes, Canvas& canvas) {
  // A short input simply has fewer columns: what lies past its end reads as 0, paints nothing.
  for (int band = 0; band < kBands; ++band) {
    const std::size_t start = static_cast<std::size_t>(band) * kColumns;
    if (start >= bytes.size()) break;
    canvas.PSetBlackStrip(
        band, bytes.subspan(start, std::min<std::size_t>(kColumns, bytes.size() - start)));
  }
}

Bytes EncodeBytes(const Canvas& canvas) {
  static_assert(Canvas::kStripHeight == kRowsPerBand && Canvas::kWidth >= kColumns &&
                Canvas::kStrips >= kBands);
  Bytes bytes{};
  for (int band = 0; band < kBands; ++band) {
    canvas.BlackStrip(
        band, std::span(bytes).subspan(static_cast<std::size_t>(band) * kColumns, kColumns));
  }
  return bytes;
}

void Decode(const std::filesystem::path& path, Canvas& canvas) {
  // One read of offsets 0..575 in order; what lies past the end of a short file stays 0.
  Bytes bytes{};
  {
    RegularFile file = RegularFile::OpenForReading(path);
    file.ReadAt(bytes, 0);
    file.Close();
  }
  DecodeBytes(bytes, canvas);
}

void Encode(const Canvas& canvas, const std::filesystem::path& path) {
  SaveFile(path, EncodeBytes(canvas), SaveRule::kOverwriteStart);
}

}  // namespace dotloom::BitfileCodec
