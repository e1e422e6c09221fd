// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "image/picture_files.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "files/regular_file.h"
#include "files/save_file.h"
#include "image/bmp_layout.h"
#include "image/bmp_pixels.h"
#include "image/bmp_write.h"

namespace dotloom {
namespace bmp {
namespace {

// The shown rows of an uncompressed picture, each read where it lies: a gap before the
// pixels, or rows and columns past what is shown, cost nothing.
void ReadRows(const Layout& layout, const ReadAtFunction& read, Picture& picture) {
  const RowDecoder decoder(layout);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(decoder.BytesFor(picture.width())));
  std::vector<Colour> colours(static_cast<std::size_t>(picture.width()));
  for (int y = 0; y < picture.height(); ++y) {
    const auto stored = static_cast<std::uint64_t>(layout.top_down ? y : layout.height - 1 - y);
    if (read(row, layout.pixel_offset + stored * layout.row_bytes) != row.size()) {
      throw BmpError("BMP refused: file shrank while read");
    }
    decoder.Decode(row, colours);
    for (int x = 0; x < picture.width(); ++x) {
      picture.Set(x, y, colours[static_cast<std::size_t>(x)]);
    }
  }
}

}  // namespace

Picture Read(const ReadAtFunction& read, std::uint64_t file_size, int clip_width, int clip_height) {
  std::vector<std::uint8_t> head(
      static_cast<std::size_t>(std::min<std::uint64_t>(file_size, kHeadBytes)));
  head.resize(read(head, 0));
  const Layout layout = ReadLayout(head, file_size);
  Picture picture(std::clamp(clip_width, 0, layout.width),
                  std::clamp(clip_height, 0, layout.height), kTransparent);
  if (layout.compression == Compression::kRle4 || layout.compression == Compression::kRle8 ||
      layout.compression == Compression::kRle24) {
    DecodeRle(layout, read, file_size, picture);
  } else {
    ReadRows(layout, read, picture);
  }
  return picture;
}

Picture Read(std::span<const std::uint8_t> file, int clip_width, int clip_height) {
  return Read(
      [&](std::span<std::uint8_t> buffer, std::uint64_t offset) {
        if (offset >= file.size()) return std::size_t{0};
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), file.size() - offset));
        std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(offset), count, buffer.begin());
        return count;
      },
      file.size(), clip_width, clip_height);
}

}  // namespace bmp

Picture LoadPicture(const std::filesystem::path& path, int clip_width, int clip_height) {
  // Opened by us, so that only a regular file is read and nothing blocks.
  RegularFile file = RegularFile::OpenForReading(path);
  Picture picture = bmp::Read([&](std::span<std::uint8_t> buffer,
                                  std::uint64_t offset) { return file.ReadAt(buffer, offset); },
                              file.Size(), clip_width, clip_height);
  file.Close();
  return picture;
}

void SavePicture(const Picture& image, const std::filesystem::path& path) {
  // Made whole in memory, then put in place whole or not at all.
  SaveFile(path, bmp::Write(image), SaveRule::kReplaceWhole);
}

}  // namespace dotloom
