#include "image/bitfile_codec.h"

#include <algorithm>

#include "image/regular_file.h"

namespace dotloom::BitfileCodec {

void DecodeBytes(std::span<const std::uint8_t> bytes, Canvas& canvas) {
  const std::size_t count = std::min(bytes.size(), BitfileSize);
  for (std::size_t offset = 0; offset < count; ++offset) {
    const unsigned byte = bytes[offset];
    if (byte == 0) continue;
    const int x = static_cast<int>(offset % kColumns);
    const int top = static_cast<int>(offset / kColumns) * kRowsPerBand;
    for (int k = 0; k < kRowsPerBand; ++k) {
      if ((byte >> static_cast<unsigned>(k)) & 1U) canvas.PSet(x, top + k, kBlack);
    }
  }
}

Bytes EncodeBytes(const Canvas& canvas) {
  Bytes bytes{};
  for (std::size_t offset = 0; offset < BitfileSize; ++offset) {
    const int x = static_cast<int>(offset % kColumns);
    const int top = static_cast<int>(offset / kColumns) * kRowsPerBand;
    unsigned byte = 0;
    for (int k = 0; k < kRowsPerBand; ++k) {
      if (canvas.Point(x, top + k) == kBlack) byte |= 1U << static_cast<unsigned>(k);
    }
    bytes[offset] = static_cast<std::uint8_t>(byte);
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
  RegularFile file = RegularFile::OpenForWriting(path);
  file.WriteAt(EncodeBytes(canvas), 0);
  file.Close();
}

}  // namespace dotloom::BitfileCodec
