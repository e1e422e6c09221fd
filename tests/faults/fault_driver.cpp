// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// Runs one file command in this process and reports what it left behind, for the fault
// tests (fault_injection_test.cpp), which start it once per fault with the shim preloaded.
//
//   fault_driver open|save PATH [--fsize BYTES] [--as-nobody] [--repeat N]
//
// Prints one "key value" per line: the calls the command made per class and in order, the
// descriptors open before and after, the canvas afterwards (its 576 Bitfile bytes and its picture),
// and whether a following Save As and Open worked. Exits 0 unless the process itself
// found a fault: a descriptor left open, a heap that grew over repeats, or a next command
// that did not work.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "commands/file_commands.h"
#include "image/bitfile_codec.h"
#include "tests/faults/fault_plan.h"
#include "tests/support/test_support.h"

namespace {

using namespace dotloom;
namespace fs = std::filesystem;

using testing::OpenDescriptorCount;
using testing::ReadFile;
using testing::ScriptedDialog;

template <typename Function>
Function Lookup(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_DEFAULT, name));
}

std::string Hex(const BitfileCodec::Bytes& bytes) {
  std::string out;
  char digits[3];
  for (const std::uint8_t byte : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", byte);
    out += digits;
  }
  return out;
}

std::uint64_t Hash(const Picture& picture) {
  std::uint64_t hash = 1469598103934665603ULL;
  for (const Colour colour : picture.pixels()) hash = (hash ^ colour) * 1099511628211ULL;
  return hash;
}

// A fresh folder for the next command, made by whoever the process now runs as.
bool NextCommandWorks(const Canvas& canvas) {
  const testing::TempDir folder("/tmp");
  const fs::path bit = folder / "next.bit";
  const fs::path bmp = folder / "next.bmp";
  ScriptedDialog save_bit(bit);
  ScriptedDialog save_bmp(bmp);
  ScriptedDialog open_bmp(bmp);
  RunSaveAsCommand(canvas, save_bit);
  RunSaveAsCommand(canvas, save_bmp);
  const BitfileCodec::Bytes expected = BitfileCodec::Encode(canvas);
  const std::vector<std::uint8_t> written = ReadFile(bit);
  bool ok = written == std::vector<std::uint8_t>(expected.begin(), expected.end());
  Canvas reopened;
  RunOpenCommand(reopened, open_bmp);
  return ok && reopened.picture() == canvas.Image();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: fault_driver open|save PATH [--fsize N] [--as-nobody] [--repeat N]\n");
    return 2;
  }
  const std::string command = argv[1];
  const fs::path path = argv[2];
  long repeat = 1;
  std::optional<testing::FileSizeLimit> fsize;
  for (int i = 3; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--fsize" && i + 1 < argc) {
      // Lifted again for the next command.
      fsize.emplace(std::stoull(argv[++i]));
    } else if (option == "--as-nobody") {
      if (::geteuid() == 0 && !testing::BecomeNobody()) return 3;
    } else if (option == "--repeat" && i + 1 < argc) {
      repeat = std::stol(argv[++i]);
    }
  }

  const auto arm = Lookup<void (*)(int)>("dotloom_fault_arm");
  const auto count = Lookup<long (*)(const char*)>("dotloom_fault_count");
  const auto record = Lookup<const char* (*)()>("dotloom_fault_record");
  const auto heap_live = Lookup<long (*)()>("dotloom_heap_live");

  // A canvas with a picture and a drawing, so that what a failure keeps can be told apart.
  Canvas canvas;
  Picture picture(20, 10, Rgb(0x40, 0x80, 0xC0));
  picture.Set(3, 4, kBlack);
  canvas.SetPicture(picture);
  BitfileCodec::Bytes drawing{};
  const testing::ByteVector pattern = testing::BytePattern(drawing.size(), 7);
  std::copy(pattern.begin(), pattern.end(), drawing.begin());
  BitfileCodec::Decode(drawing, canvas);

  const int descriptors_before = OpenDescriptorCount();
  long heap_after_warm_up = 0;
  if (arm != nullptr) arm(1);
  for (long i = 0; i < repeat; ++i) {
    if (i == 100 && heap_live != nullptr) heap_after_warm_up = heap_live();
    ScriptedDialog dialog(path);
    if (command == "open") {
      RunOpenCommand(canvas, dialog);
    } else {
      RunSaveAsCommand(canvas, dialog);
    }
  }
  const long heap_at_end = heap_live != nullptr ? heap_live() : 0;
  if (arm != nullptr) arm(0);
  const int descriptors_after = OpenDescriptorCount();

  int faults = 0;
  if (count != nullptr) {
    std::printf("calls");
    for (const char* name : kFaultClasses) std::printf(" %s=%ld", name, count(name));
    std::printf("\n");
  }
  if (record != nullptr) std::printf("record %s\n", record());
  std::printf("descriptors %d %d\n", descriptors_before, descriptors_after);
  if (descriptors_after != descriptors_before) ++faults;
  if (repeat > 100 && heap_live != nullptr) {
    const long growth = heap_at_end - heap_after_warm_up;
    std::printf("heap_growth %ld\n", growth);
    if (growth > 4096) ++faults;
  }
  std::printf("canvas %s\n", Hex(BitfileCodec::Encode(canvas)).c_str());
  std::printf("picture %dx%d %llx\n", canvas.picture().width(), canvas.picture().height(),
              static_cast<unsigned long long>(Hash(canvas.picture())));
  fsize.reset();
  const bool next = NextCommandWorks(canvas);
  std::printf("next %s\n", next ? "ok" : "failed");
  if (!next) ++faults;
  return faults == 0 ? 0 : 1;
}
