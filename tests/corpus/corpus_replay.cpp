// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// Opens every file in the folders given, as a .bmp and as a .bit, through the Open command,
// and prints how many loaded. Made to replay fuzz corpora under valgrind:
//   valgrind build/dev/tests/corpus/dotloom_corpus_replay build/fuzz/corpus/bmp_load
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "commands/file_commands.h"
#include "tests/support/test_support.h"

namespace {

using namespace dotloom;
namespace fs = std::filesystem;

using testing::ScriptedDialog;

}  // namespace

int main(int argc, char** argv) {
  const fs::path folder = fs::temp_directory_path() / "dotloom-replay";
  fs::create_directories(folder);
  int files = 0;
  int loaded = 0;
  for (int i = 1; i < argc; ++i) {
    for (const auto& entry : fs::directory_iterator(argv[i])) {
      if (!entry.is_regular_file()) continue;
      ++files;
      for (const char* name : {"replay.bmp", "replay.bit"}) {
        fs::copy_file(entry.path(), folder / name, fs::copy_options::overwrite_existing);
        Canvas canvas;
        ScriptedDialog dialog(folder / name);
        RunOpenCommand(canvas, dialog);
        if (!canvas.picture().empty()) ++loaded;
      }
    }
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  std::printf("%d files replayed, %d loaded as BMP\n", files, loaded);
  return 0;
}
