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
// file, and so do the files of kernel interfaces (proc, sysfs and the like), which only look
// like regular files. What a name leads to is looked at before anything is opened, so a
// device is never opened at all, and nothing blocks. Every failure is thrown as
// std::system_error carrying errno (on Windows, the system error code).
class RegularFile {
 public:
  // The file must exist.
  static RegularFile OpenForReading(const std::filesystem::path& path);
  // A missing file is created, exclusively: a name that appears meanwhile is looked at again,
  // never opened blindly. An existing one is neither truncated nor moved.
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

// Replaces the contents of target with bytes, keeping the file what it was: its owner,
// group, mode, links and extended attributes (ACLs among them). A symbolic link is followed,
// so the link stays a link; a target that exists but is not a regular file is refused.
//
//   - A new name is created whole: the bytes go to a new file that takes the name only once
//     they are all on disk, and never over a file that appeared meanwhile.
//   - Over an existing file, the user must be allowed to write that file; if not, nothing
//     changes. When a new file can take over everything the old one was (one link, same
//     owner and group, same mode, every extended attribute) and the folder allows the
//     rename, the new file replaces the old one whole: all or nothing.
//   - Otherwise the file is written in place: room is reserved first, so that a full disk
//     changes nothing, then the bytes are written and the length set.
//
// The bytes are synced before success is reported, and so is the folder after a rename.
void ReplaceFileContents(const std::filesystem::path& target, std::span<const std::uint8_t> bytes);

}  // namespace dotloom
