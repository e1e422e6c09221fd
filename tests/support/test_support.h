// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "commands/file_dialog.h"
#include "image/colour.h"

// Helpers shared by the tests, the benchmarks and the fuzz targets; no test framework.
namespace dotloom::testing {

// A fresh folder under base, by default the system's temporary folder, removed with everything
// in it.
class TempDir {
 public:
  explicit TempDir(const std::filesystem::path& base = {});
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// The file dialog of the tests, benchmarks and fuzz targets. Answers every dialog with the
// same path, as a user who always picks the same file would, or each with the next scripted
// path, an empty one standing for a cancel and nullopt for a dialog that fails.
class ScriptedDialog : public FileDialog {
 public:
  explicit ScriptedDialog(std::filesystem::path always) : always_(std::move(always)) {}
  explicit ScriptedDialog(std::deque<std::optional<std::filesystem::path>> answers)
      : answers_(std::move(answers)) {}

  int shown() const { return shown_; }

 protected:
  std::optional<std::filesystem::path> Ask(Purpose purpose,
                                           const std::filesystem::path& folder) override;

 private:
  std::optional<std::filesystem::path> always_;
  std::deque<std::optional<std::filesystem::path>> answers_;
  int shown_ = 0;
};

using ByteVector = std::vector<std::uint8_t>;

// A colour that is neither black nor any background, for pictures under a drawing.
inline constexpr Colour kGrey = Rgb(0x80, 0x80, 0x80);

// Throws std::runtime_error when the file cannot be written.
void WriteFile(const std::filesystem::path& path, const ByteVector& bytes);
// A file that cannot be read, a missing one among them, reads as empty.
ByteVector ReadFile(const std::filesystem::path& path);
// A character device of the test's own in dir, named name, with the numbers of the memory
// device `kind` ("null", "zero" or "full"), so that no test ever opens or saves through a
// device of the machine: a build that wrongly replaces a device then replaces only this node.
// Making one needs root; when it cannot, it says so on stderr and returns an empty path, and
// the caller skips the case.
std::filesystem::path PrivateDevice(const std::filesystem::path& dir, const std::string& name,
                                    const std::string& kind);
// The Bitfile layout written out on its own, as the oracle the codec is checked against:
// pixel (x, y) of the 96 x 48 area is bit y % 8 of the byte at 96 * (y / 8) + x, 1 for black.
// The 576 bytes whose black pixels are those for which black(x, y) holds:
ByteVector BitfileOf(const std::function<bool(int, int)>& black);
// The 576 bytes of a Bitfile that are 0 but for the given (offset, byte) pairs: the worked
// examples, written byte by byte.
ByteVector BitfileWith(const std::vector<std::pair<std::size_t, std::uint8_t>>& bytes);
// Whether pixel (x, y) is black in bytes; bytes missing from a short file count as 0, and a
// pixel outside the area is never black.
bool IsBlackInBitfile(const ByteVector& bytes, int x, int y);
// size bytes of an irregular pattern, byte i being i * step + start (mod 256): for files whose
// every byte should differ from its neighbours.
ByteVector BytePattern(std::size_t size, unsigned step, unsigned start = 0);
// How many entries folder holds, to show that nothing was left beside a file.
int EntriesIn(const std::filesystem::path& folder);
// Descriptors this process has open now, to show that a failure closed what it opened.
int OpenDescriptorCount();

#ifndef _WIN32
// What a child process ended with: its exit status (-1 when it did not exit) and what it
// wrote to its standard output.
struct ChildOutcome {
  int status = -1;
  std::string output;
};
// Runs body in a child process, whose return value is its exit status: a test may change its
// user, mounts, limits or signals there, or exec another program, without touching its own.
ChildOutcome RunInChild(const std::function<int()>& body);
// The same for a body that reports what went wrong ("" when all went as expected); an
// exception it throws is reported too.
std::string InChild(const std::function<std::string()>& body);
// While it lives, a write past bytes fails with EFBIG instead of ending the process: SIGXFSZ
// is ignored and the soft file size limit lowered, and both are put back afterwards. Meant
// for a child process or a driver, as the limit covers the whole process.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(std::uint64_t bytes);
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  ~FileSizeLimit();

 private:
  std::uint64_t previous_ = 0;
  void (*previous_handler_)(int) = nullptr;
};
#endif

// An entry that a file command must refuse, made in a test's own folder by HostilePaths.
struct HostilePath {
  std::string what;  // what the entry is, for a failure's message
  std::filesystem::path path;
  bool refused_for_reading = true;
  bool refused_for_writing = true;
};

// Every kind of entry no file command may read or write through, made in dir with names that
// end in "." + ending: each a row of {what, path}. Devices are private nodes (a row is left
// out where they cannot be made), kernel files are this process's own /proc entries, and a
// Windows pipe lives as long as the table. Making it twice in one folder needs another ending.
class HostilePaths {
 public:
  HostilePaths(const std::filesystem::path& dir, const std::string& ending);
  HostilePaths(const HostilePaths&) = delete;
  HostilePaths& operator=(const HostilePaths&) = delete;
  ~HostilePaths();

  auto begin() const { return rows_.begin(); }
  auto end() const { return rows_.end(); }
  // The private device nodes among the rows, which a test checks are still devices afterwards.
  const std::vector<std::filesystem::path>& devices() const { return devices_; }

 private:
  void Add(std::string what, std::filesystem::path path, bool reading = true, bool writing = true);

  std::vector<HostilePath> rows_;
  std::vector<std::filesystem::path> devices_;
  std::filesystem::path read_only_;        // Windows: made writable again at the end
  [[maybe_unused]] void* pipe_ = nullptr;  // Windows: the server end of the pipe row
};

}  // namespace dotloom::testing
