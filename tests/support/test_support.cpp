// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "tests/support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

#include <cerrno>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <system_error>

namespace dotloom::testing {
namespace fs = std::filesystem;

#ifdef _WIN32

TempDir::TempDir() {
  // A name no other folder has: the process, the time and a count, retried when taken.
  static unsigned counter = 0;
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate =
        base / (L"dotloom-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(::GetTickCount64()) + L"-" + std::to_wstring(++counter));
    if (::CreateDirectoryW(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                          "CreateDirectoryW");
}

#else

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "dotloom-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "mkdtemp");
  }
  path_ = pattern;
}

#endif

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void WriteFile(const fs::path& path, const ByteVector& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    const std::u8string name = path.u8string();
    throw std::runtime_error("cannot write " + std::string(name.begin(), name.end()));
  }
}

ByteVector ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fs::path PrivateDevice([[maybe_unused]] const fs::path& dir,
                       [[maybe_unused]] const std::string& name, const std::string& kind) {
  // Linux's memory devices: major 1, and these minors.
  static const std::map<std::string, unsigned> kMinors = {{"null", 3}, {"zero", 5}, {"full", 7}};
  const auto minor = kMinors.find(kind);
  if (minor == kMinors.end()) throw std::invalid_argument("no such memory device: " + kind);
#ifdef _WIN32
  // Windows has no device nodes in folders.
  return {};
#else
  const fs::path path = dir / name;
  if (::mknod(path.c_str(), S_IFCHR | 0666, ::makedev(1, minor->second)) != 0) return {};
  return path;
#endif
}

int OpenDescriptorCount() {
#ifdef _WIN32
  // Every kind of handle counts; a test compares the count before and after a command.
  DWORD count = 0;
  if (!::GetProcessHandleCount(::GetCurrentProcess(), &count)) return -1;
  return static_cast<int>(count);
#else
  int count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
#endif
}

}  // namespace dotloom::testing
