// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "tests/support/test_support.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <system_error>

namespace dotloom::testing {
namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "dotloom-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "mkdtemp");
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void WriteFile(const fs::path& path, const ByteVector& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

ByteVector ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fs::path PrivateDevice(const fs::path& dir, const std::string& name, const std::string& kind) {
  // Linux's memory devices: major 1, and these minors.
  static const std::map<std::string, unsigned> kMinors = {{"null", 3}, {"zero", 5}, {"full", 7}};
  const auto minor = kMinors.find(kind);
  if (minor == kMinors.end()) throw std::invalid_argument("no such memory device: " + kind);
  const fs::path path = dir / name;
  if (::mknod(path.c_str(), S_IFCHR | 0666, ::makedev(1, minor->second)) != 0) {
    std::fprintf(stderr, "skipping the %s device case: cannot make a device node (%s)\n",
                 kind.c_str(), std::strerror(errno));
    return {};
  }
  return path;
}

int OpenDescriptorCount() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

}  // namespace dotloom::testing
