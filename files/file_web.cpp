// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The file layer in a web page. The program sees one file system, emscripten's own, held in
// memory; a file the user picked in the browser is an empty entry there that the page has
// given a "dotloomPicked" object: a Blob to read from and a save(bytes, keepRest) to write
// through. Reading a picked file asks the Blob for a block around the bytes asked for, so a
// huge file is never read whole; the waits are carried by Asyncify, so the commands above stay
// the same as on the desktop.
#include <emscripten.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "base/system_error.h"
#include "files/regular_file.h"
#include "files/save_file.h"

namespace dotloom {
namespace fs = std::filesystem;
using posix::ThrowErrno;

namespace {

// clang-format off
// The picked file's size, or -1 when fd reads a file of the memory file system.
EM_JS(double, dotloom_picked_size, (int fd), {
  const picked = FS.getStream(fd).node.dotloomPicked;
  return picked && picked.blob ? picked.blob.size : -1;
});

// Copies what the block last fetched for fd holds of size bytes from offset into buffer:
// the count, or -1 when the block does not hold them all (a block reaching the file's end
// holds everything past it too: nothing).
EM_JS(double, dotloom_read_block, (int fd, std::uint8_t* buffer, std::size_t size, double offset), {
  const stream = FS.getStream(fd);
  const block = stream.dotloomBlock;
  if (!block || offset < block.start) return -1;
  const end = block.start + block.bytes.length;
  const complete = end === stream.node.dotloomPicked.blob.size;
  if (offset + size > end && !(complete && offset <= end)) return -1;
  const part = block.bytes.subarray(offset - block.start, Math.min(offset + size, end) - block.start);
  HEAPU8.set(part, buffer);
  return part.length;
});

// Fetches the block of the picked file that holds size bytes from offset, and more bytes
// beside them in the direction the reads go (a BMP stored bottom-up is read backwards), so
// that the next reads find their bytes at once: 0, or -1 on failure. Blocks start at 64 KiB
// and double up to block_size, so that a small file or a header costs a small read.
EM_ASYNC_JS(int, dotloom_fetch_block, (int fd, std::size_t size, double offset, double block_size), {
  try {
    const stream = FS.getStream(fd);
    const blob = stream.node.dotloomPicked.blob;
    const last = stream.dotloomBlock;
    stream.dotloomFetches = (stream.dotloomFetches || 0) + 1;
    const length = Math.max(size, Math.min(block_size, 32768 * Math.pow(2, stream.dotloomFetches)));
    const start = last && offset < last.start ? Math.max(0, offset + size - length) : offset;
    const bytes = new Uint8Array(await blob.slice(start, start + length).arrayBuffer());
    stream.dotloomBlock = {start: start, bytes: bytes};
    return 0;
  } catch (e) {
    return -1;
  }
});

// Whether path names a picked file that saves. Asked first, so that a save to the memory
// file system never waits, and a program built without Asyncify (the tests) still runs.
EM_JS(int, dotloom_picked_saves, (const char* path), {
  try {
    const picked = FS.lookupPath(UTF8ToString(path)).node.dotloomPicked;
    return picked && picked.save ? 1 : 0;
  } catch (e) {
    return 0;
  }
});

// Hands bytes to the picked file at path: 0 when saved, -1 when the browser refused.
EM_ASYNC_JS(int, dotloom_save_picked,
            (const char* path, const std::uint8_t* bytes, std::size_t size, int keep_rest), {
  try {
    const picked = FS.lookupPath(UTF8ToString(path)).node.dotloomPicked;
    await picked.save(HEAPU8.slice(bytes, bytes + size), keep_rest !== 0);
    return 0;
  } catch (e) {
    return -1;
  }
});
// clang-format on

// Only regular files, as on the desktop: a folder or a device of the memory file system is
// refused before it is opened.
void RequireRegular(const fs::path& path, bool may_be_missing) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    if (may_be_missing && errno == ENOENT) return;
    ThrowErrno("open " + path.string());
  }
  if (S_ISDIR(status.st_mode)) ThrowErrno(EISDIR, path.string());
  if (!S_ISREG(status.st_mode)) ThrowErrno(EINVAL, "not a regular file: " + path.string());
}

}  // namespace

RegularFile RegularFile::OpenForReading(const fs::path& path) {
  RequireRegular(path, false);
  UniqueFile file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) ThrowErrno("open " + path.string());
  return RegularFile(std::move(file));
}

std::uint64_t RegularFile::Size() const {
  const double picked = dotloom_picked_size(file_.get());
  if (picked >= 0) return static_cast<std::uint64_t>(picked);
  struct stat status {};
  if (::fstat(file_.get(), &status) != 0) ThrowErrno("stat");
  return static_cast<std::uint64_t>(status.st_size);
}

std::size_t RegularFile::ReadAt(std::span<std::uint8_t> buffer, std::uint64_t offset) const {
  if (dotloom_picked_size(file_.get()) >= 0) {
    // Each wait for the browser costs about a millisecond, so reads go through a block of
    // kBlockBytes: the 52 rows a large BMP shows come in one or two waits. The block is the
    // only copy of the file's bytes held, so memory stays bounded whatever the file's size.
    constexpr double kBlockBytes = 2 << 20;
    const auto at = static_cast<double>(offset);
    double got = dotloom_read_block(file_.get(), buffer.data(), buffer.size(), at);
    if (got < 0) {
      if (dotloom_fetch_block(file_.get(), buffer.size(), at, kBlockBytes) != 0) {
        ThrowErrno(EIO, "read");
      }
      got = dotloom_read_block(file_.get(), buffer.data(), buffer.size(), at);
    }
    if (got < 0) ThrowErrno(EIO, "read");
    return static_cast<std::size_t>(got);
  }
  // A file in memory answers a read whole, up to its end, in one call.
  const ssize_t got =
      ::pread(file_.get(), buffer.data(), buffer.size(), static_cast<off_t>(offset));
  if (got < 0) ThrowErrno("read");
  return static_cast<std::size_t>(got);
}

void RegularFile::Close() {
  if (!file_.Close()) ThrowErrno("close");
}

void SaveFile(const fs::path& target, std::span<const std::uint8_t> bytes, SaveRule rule) {
  const bool keep_rest = rule == SaveRule::kOverwriteStart;
  if (dotloom_picked_saves(target.c_str()) != 0) {
    if (dotloom_save_picked(target.c_str(), bytes.data(), bytes.size(), keep_rest ? 1 : 0) != 0) {
      ThrowErrno(EIO, "save " + target.string());
    }
    return;
  }
  // The memory file system: nothing outside this page sees a file half written, so a whole
  // replacement may write the file where it is.
  RequireRegular(target, true);
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (keep_rest ? 0 : O_TRUNC);
  UniqueFile file(::open(target.c_str(), flags, 0666));
  if (!file.valid()) ThrowErrno("open " + target.string());
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t written =
        ::pwrite(file.get(), bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (written <= 0) ThrowErrno(written < 0 ? errno : EIO, "write " + target.string());
    done += static_cast<std::size_t>(written);
  }
  if (!file.Close()) ThrowErrno("close " + target.string());
}

}  // namespace dotloom
