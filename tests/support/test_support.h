// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <cstdint>
#include <filesystem>
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

// A dialog that answers every question with the same path, as a user who always picks the
// same file would.
class FixedDialog : public FileDialog {
 public:
  explicit FixedDialog(std::filesystem::path answer) : answer_(std::move(answer)) {}

  void ShowOpen() override {}
  void ShowSave() override {}
  std::filesystem::path FileName() const override { return answer_; }

 private:
  std::filesystem::path answer_;
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
// How many entries folder holds, to show that nothing was left beside a file.
int EntriesIn(const std::filesystem::path& folder);
// Descriptors this process has open now, to show that a failure closed what it opened.
int OpenDescriptorCount();

}  // namespace dotloom::testing
