// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "commands/picture_files.h"

#include <cstdint>
#include <span>

#include "files/regular_file.h"
#include "files/save_file.h"
#include "image/bitfile_codec.h"
#include "image/bmp_read.h"
#include "image/bmp_write.h"

namespace dotloom {

void OpenBitfile(const std::filesystem::path& path, Canvas& canvas) {
  BitfileCodec::Bytes bytes{};
  {
    RegularFile file = RegularFile::OpenForReading(path);
    file.ReadAt(bytes, 0);
    file.Close();
  }
  BitfileCodec::Decode(bytes, canvas);
}

void SaveBitfile(const Canvas& canvas, const std::filesystem::path& path) {
  SaveFile(path, BitfileCodec::Encode(canvas), SaveRule::kOverwriteStart);
}

Picture LoadPicture(const std::filesystem::path& path, int clip_width, int clip_height) {
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
