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

// Helpers shared by the tests, the benchmarks and the fuzz targets; no test framework.
namespace dotloom::testing {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
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
// Whether pixel (x, y) is black in bytes; bytes missing from a short file count as 0, and a
// pixel outside the area is never black.
bool IsBlackInBitfile(const ByteVector& bytes, int x, int y);
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
#endif

}  // namespace dotloom::testing
