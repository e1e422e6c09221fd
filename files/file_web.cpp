// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The file layer in a web page. A file the user picked in the browser is an entry of the
// page's Module.dotloomPicked map, under the path the dialog answered: a Blob to read from,
// or a save(bytes, keepRest) to write through. Where the program has emscripten's memory file
// system (the tests under node) its regular files are read and saved too; the page itself is
// built without one, so it starts sooner. A picked file is read in blocks around the bytes
// asked for, so a huge file is never read whole; the waits are carried by Asyncify, so the
// commands above stay the same as on the desktop.
#include <emscripten.h>
#include <fcntl.h>

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

// What dotloom_read answers when the blocks fetched so far do not hold the bytes.
constexpr double kNotHeld = -1;

// clang-format off
// Opens path for reading: its number in the page's table of open files, or a negative errno.
EM_JS(int, dotloom_open, (const char* path, int enoent, int eisdir, int einval), {
  const name = UTF8ToString(path);
  // holds: whether a fetched block holds size bytes from offset (a block reaching the file's
  // end holds everything past it too: nothing).
  const files = Module.dotloomFiles || (Module.dotloomFiles = {open: new Map(), next: 0,
    holds: (file, block, offset, size) => offset >= block.start &&
      (offset + size <= block.start + block.bytes.length || block.start + block.bytes.length === file.blob.size)});
  const picked = Module.dotloomPicked && Module.dotloomPicked.get(name);
  let file;
  if (picked) {
    if (!picked.blob) return -einval;
    file = {blob: picked.blob, blocks: []};
  } else {
    if (typeof FS === 'undefined') return -enoent;
    try {
      const mode = FS.stat(name).mode;
      if (FS.isDir(mode)) return -eisdir;
      if (!FS.isFile(mode)) return -einval;
      file = {stream: FS.open(name, 'r')};
    } catch (e) {
      return -(e.errno || einval);
    }
  }
  files.open.set(files.next, file);
  return files.next++;
});

EM_JS(double, dotloom_file_size, (int id), {
  const file = Module.dotloomFiles.open.get(id);
  return file.blob ? file.blob.size : file.stream.node.node_ops.getattr(file.stream.node).size;
});

// Copies what the file holds of size bytes from offset into buffer: the count, kNotHeld when
// the blocks fetched so far do not hold them, or -2 on failure.
EM_JS(double, dotloom_read, (int id, std::uint8_t* buffer, std::size_t size, double offset), {
  const file = Module.dotloomFiles.open.get(id);
  try {
    if (file.stream) return FS.read(file.stream, HEAPU8, buffer, size, offset);
  } catch (e) {
    return -2;
  }
  if (offset >= file.blob.size) return 0;
  const block = file.blocks.find((held) => Module.dotloomFiles.holds(file, held, offset, size));
  if (!block) return -1;
  const part = block.bytes.subarray(offset - block.start, offset - block.start + size);
  HEAPU8.set(part, buffer);
  return part.length;
});

// Fetches blocks of a picked file until one holds size bytes from offset: 0, or -1 when the
// browser refused. Every wait for the browser costs about a millisecond, so the first one
// reads the file's start and its end together (a header, and the rows a picture stored
// bottom-up shows), and a later one moves the second block in the direction the reads go.
// The blocks are the only copies of the file's bytes: memory stays bounded by their sizes.
EM_ASYNC_JS(int, dotloom_fetch, (int id, std::size_t size, double offset, double head, double block), {
  try {
    const file = Module.dotloomFiles.open.get(id);
    const end = file.blob.size;
    const slice = async (start, stop) => ({start: start, bytes: new Uint8Array(await file.blob.slice(start, stop).arrayBuffer())});
    if (file.blocks.length === 0) {
      file.blocks = end <= head + block ? [await slice(0, end)] : await Promise.all([slice(0, head), slice(end - block, end)]);
      if (file.blocks.some((held) => Module.dotloomFiles.holds(file, held, offset, size))) return 0;
    }
    const length = Math.max(size, block);
    const start = offset < file.blocks[1].start ? Math.max(0, offset + size - length) : offset;
    file.blocks[1] = await slice(start, start + length);
    return 0;
  } catch (e) {
    return -1;
  }
});

EM_JS(int, dotloom_close, (int id), {
  const file = Module.dotloomFiles.open.get(id);
  Module.dotloomFiles.open.delete(id);
  try {
    if (file && file.stream) FS.close(file.stream);
    return 1;
  } catch (e) {
    return 0;
  }
});

// Whether path names a picked file that saves. Asked first, so that a save to the memory
// file system never waits, and a program built without Asyncify (the tests) still runs.
EM_JS(int, dotloom_picked_saves, (const char* path), {
  const picked = Module.dotloomPicked && Module.dotloomPicked.get(UTF8ToString(path));
  return picked && picked.save ? 1 : 0;
});

// Hands bytes to the picked file at path: 0 when saved, -1 when the browser refused.
EM_ASYNC_JS(int, dotloom_save_picked,
            (const char* path, const std::uint8_t* bytes, std::size_t size, int keep_rest), {
  try {
    await Module.dotloomPicked.get(UTF8ToString(path)).save(HEAPU8.slice(bytes, bytes + size), keep_rest !== 0);
    return 0;
  } catch (e) {
    return -1;
  }
});

// Writes bytes from the start of a regular file of the memory file system, opened with
// flags: 0, or a negative errno. Only regular files: a folder or a device is refused before
// it is opened.
EM_JS(int, dotloom_save_memory, (const char* path, const std::uint8_t* bytes, std::size_t size,
                                 int flags, int enoent, int eisdir, int einval), {
  if (typeof FS === 'undefined') return -enoent;
  const name = UTF8ToString(path);
  try {
    let mode = null;
    try {
      mode = FS.stat(name).mode;
    } catch (e) {
      if (e.errno !== enoent) throw e;
    }
    if (mode !== null && FS.isDir(mode)) return -eisdir;
    if (mode !== null && !FS.isFile(mode)) return -einval;
    const stream = FS.open(name, flags, 438);
    try {
      FS.write(stream, HEAPU8, bytes, size, 0);
    } finally {
      FS.close(stream);
    }
    return 0;
  } catch (e) {
    return -(e.errno || einval);
  }
});
// clang-format on

}  // namespace

bool CloseWebFile(int file) { return dotloom_close(file) != 0; }

RegularFile RegularFile::OpenForReading(const fs::path& path) {
  const int file = dotloom_open(path.c_str(), ENOENT, EISDIR, EINVAL);
  if (file < 0) ThrowErrno(-file, "open " + path.string());
  return RegularFile(ReadHandle(file));
}

std::uint64_t RegularFile::Size() const {
  return static_cast<std::uint64_t>(dotloom_file_size(file_.get()));
}

std::size_t RegularFile::ReadAt(std::span<std::uint8_t> buffer, std::uint64_t offset) const {
  constexpr double kHeadBytes = 64 << 10;
  constexpr double kBlockBytes = 2 << 20;
  const auto at = static_cast<double>(offset);
  double got = dotloom_read(file_.get(), buffer.data(), buffer.size(), at);
  if (got == kNotHeld) {
    if (dotloom_fetch(file_.get(), buffer.size(), at, kHeadBytes, kBlockBytes) != 0) {
      ThrowErrno(EIO, "read");
    }
    got = dotloom_read(file_.get(), buffer.data(), buffer.size(), at);
  }
  if (got < 0) ThrowErrno(EIO, "read");
  return static_cast<std::size_t>(got);
}

void RegularFile::Close() {
  if (!file_.Close()) ThrowErrno(EIO, "close");
}

void SaveFile(const fs::path& target, std::span<const std::uint8_t> bytes, SaveRule rule) {
  const bool keep_rest = rule == SaveRule::kOverwriteStart;
  if (dotloom_picked_saves(target.c_str()) != 0) {
    if (dotloom_save_picked(target.c_str(), bytes.data(), bytes.size(), keep_rest ? 1 : 0) != 0) {
      ThrowErrno(EIO, "save " + target.string());
    }
    return;
  }
  // The memory file system: nothing outside this program sees a file half written, so a
  // whole replacement may write the file where it is.
  const int flags = O_WRONLY | O_CREAT | (keep_rest ? 0 : O_TRUNC);
  const int saved = dotloom_save_memory(target.c_str(), bytes.data(), bytes.size(), flags, ENOENT,
                                        EISDIR, EINVAL);
  if (saved < 0) ThrowErrno(-saved, "save " + target.string());
}

}  // namespace dotloom
