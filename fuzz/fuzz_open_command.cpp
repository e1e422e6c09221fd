// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The whole Open command over arbitrary file contents. The first byte picks the name the
// file is opened by (.bit, .bmp or another kind); the rest is the file.
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "commands/file_commands.h"
#include "image/bitfile_codec.h"
#include "tests/support/test_support.h"

namespace {

using namespace dotloom;
namespace fs = std::filesystem;

using testing::ScriptedDialog;

// The folder the file is written to, removed when the fuzzer exits.
class Folder {
 public:
  Folder() {
    // Memory-backed when there is one: every run writes a file.
    const fs::path base =
        fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "dotloom-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  ~Folder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const char* const kNames[] = {"in.bit", "in.bmp", "in.BMP", "in.txt"};
  static const Folder folder;
  const fs::path path = folder.path() / kNames[data[0] % 4];
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  }

  // A canvas with a small picture and a drawing in the margin, where no Bitfile paints.
  Canvas canvas;
  canvas.SetPicture(Picture(10, 10, Rgb(1, 2, 3)));
  canvas.PSet(97, 50);
  const Picture before = canvas.picture();
  ScriptedDialog dialog(path);
  RunOpenCommand(canvas, dialog);

  const bool bitmap = data[0] % 4 == 1 || data[0] % 4 == 2;
  // Only a BMP replaces the picture; the drawing is cleared whatever was chosen.
  if (!bitmap && canvas.picture() != before) std::abort();
  if (canvas.picture() == before && canvas.Point(97, 50) == kBlack) std::abort();
  const Picture image = canvas.Image();
  for (const Colour colour : image.pixels()) {
    if ((colour & 0xFF000000U) != 0) std::abort();
  }
  fs::remove(path);
  return 0;
}
