// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// Bitfile read over arbitrary file contents: the file is a memfd reached through its
// /proc path, so the real open, fstat and read run without touching a disk.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "commands/picture_files.h"
#include "image/bitfile_codec.h"

namespace {

using namespace dotloom;

int MemoryFile(const std::uint8_t* data, std::size_t size) {
  const int fd = ::memfd_create("bitfile", MFD_CLOEXEC);
  if (fd < 0) std::abort();
  if (size > 0 && ::write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int fd = MemoryFile(data, size);
  Canvas canvas;
  OpenBitfile("/proc/self/fd/" + std::to_string(fd), canvas);
  ::close(fd);

  // What was drawn must be exactly the first 576 bytes, with zeros past a short file's end.
  BitfileCodec::Bytes expected{};
  for (std::size_t i = 0; i < expected.size() && i < size; ++i) expected[i] = data[i];
  if (BitfileCodec::Encode(canvas) != expected) std::abort();
  return 0;
}
