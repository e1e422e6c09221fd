// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

namespace dotloom {

// A regular file opened for one job and closed on every way out.
//
// Only regular files are accepted: a directory, FIFO, socket or device fails like a missing
// file. Opening never blocks, so a FIFO without a writer cannot freeze the window. Every
// failure is thrown as std::system_error carrying errno (on Windows, the system error code).
class RegularFile {
 public:
  // The file must exist.
  static RegularFile OpenForReading(const std::filesystem::path& path);
  // A missing file is created; an existing one is neither truncated nor moved.
  static RegularFile OpenForWriting(const std::filesystem::path& path);

  RegularFile(RegularFile&& other) noexcept;
  RegularFile& operator=(RegularFile&& other) noexcept;
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;
  ~RegularFile();

  std::uint64_t Size() const;

  // Fills as much of buffer as the file holds from offset on; returns the count read.
  std::size_t ReadAt(std::span<std::uint8_t> buffer, std::uint64_t offset) const;
  // Writes all of bytes at offset, or throws with what was written before the failure kept.
  void WriteAt(std::span<const std::uint8_t> bytes, std::uint64_t offset) const;
  // Closes and reports a failed close, where some file systems first report a failed write.
  void Close();

 private:
  // The operating system's own handle: a descriptor on POSIX, a HANDLE on Windows.
  using Handle = std::intptr_t;
  static constexpr Handle kNoHandle = -1;

  explicit RegularFile(Handle handle) : handle_(handle) {}

  Handle handle_ = kNoHandle;
};

// Replaces target with bytes only once all of them are safely on disk: they go to a
// temporary file beside the target, which is then renamed over it. A failure leaves an
// existing target as it was and no temporary file behind. A symbolic link is followed, so
// the link stays a link; a target that exists but is not a regular file is refused.
void ReplaceFileContents(const std::filesystem::path& target, std::span<const std::uint8_t> bytes);

}  // namespace dotloom
