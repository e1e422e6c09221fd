// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <utility>

#include "base/unique_handle.h"

namespace dotloom {

#ifdef __EMSCRIPTEN__
// In a web page an open file is an entry of the page's own table (files/file_web.cpp).
bool CloseWebFile(int file);
using ReadHandle = UniqueHandle<HandleTraits<int, -1, &CloseWebFile>>;
#else
using ReadHandle = UniqueFile;
#endif

// A regular file opened for reading and closed on every way out (saves: save_file.h).
//
// Only regular files are accepted: a directory, FIFO, socket or device fails like a missing
// file, and so do the files of kernel interfaces (proc, sysfs and the like), which only look
// like regular files. What a name leads to is looked at before anything is opened, so a
// device is never opened at all, and nothing blocks. On Windows only a drive or share path
// is opened (see docs/windows-files.md): a pipe, a mailslot, a device or a stream never is.
// Every failure is thrown as std::system_error carrying errno (on Windows, the system error
// code).
class RegularFile {
 public:
  // The file must exist.
  static RegularFile OpenForReading(const std::filesystem::path& path);

  std::uint64_t Size() const;

  // Fills as much of buffer as the file holds from offset on; returns the count read.
  std::size_t ReadAt(std::span<std::uint8_t> buffer, std::uint64_t offset) const;
  // Closes and reports a failed close, where some file systems first report a failed write.
  void Close();

 private:
  explicit RegularFile(ReadHandle file) : file_(std::move(file)) {}

  ReadHandle file_;
};

}  // namespace dotloom
