// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "tests/support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
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

std::optional<fs::path> ScriptedDialog::Ask(Purpose /*purpose*/, const fs::path& /*folder*/) {
  ++shown_;
  if (always_) return always_;
  const std::optional<fs::path> next = answers_.front();
  answers_.pop_front();
  if (!next) throw std::runtime_error("dialog failed");
  if (next->empty()) return std::nullopt;
  return next;
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
  if (!out) {
    const std::u8string name = path.u8string();
    throw std::runtime_error("cannot write " + std::string(name.begin(), name.end()));
  }
}

ByteVector ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int EntriesIn(const fs::path& folder) {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++count;
  return count;
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
  if (::mknod(path.c_str(), S_IFCHR | 0666, ::makedev(1, minor->second)) != 0) {
    std::fprintf(stderr, "skipping the %s device case: cannot make a device node (%s)\n",
                 kind.c_str(), std::strerror(errno));
    return {};
  }
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
  return EntriesIn("/proc/self/fd");
#endif
}

ByteVector BitfileOf(const std::function<bool(int, int)>& black) {
  ByteVector bytes(576, 0);
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 96; ++x) {
      if (black(x, y)) {
        bytes[static_cast<std::size_t>(96 * (y / 8) + x)] |=
            static_cast<std::uint8_t>(1U << static_cast<unsigned>(y % 8));
      }
    }
  }
  return bytes;
}

bool IsBlackInBitfile(const ByteVector& bytes, int x, int y) {
  if (x < 0 || y < 0 || x >= 96 || y >= 48) return false;
  const auto offset = static_cast<std::size_t>(96 * (y / 8) + x);
  return offset < bytes.size() &&
         ((static_cast<unsigned>(bytes[offset]) >> static_cast<unsigned>(y % 8)) & 1U) != 0;
}

#ifndef _WIN32

ChildOutcome RunInChild(const std::function<int()>& body) {
  ChildOutcome outcome;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return {-1, "pipe failed"};
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return {-1, "fork failed"};
  }
  if (child == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    ::_exit(body());
  }
  ::close(fds[1]);
  char buffer[4096];
  ssize_t got = 0;
  while ((got = ::read(fds[0], buffer, sizeof buffer)) > 0) {
    outcome.output.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

std::string InChild(const std::function<std::string()>& body) {
  const ChildOutcome outcome = RunInChild([&] {
    std::string report;
    try {
      report = body();
    } catch (const std::exception& error) {
      report = std::string("threw: ") + error.what();
    }
    const ssize_t ignored = ::write(STDOUT_FILENO, report.data(), report.size());
    static_cast<void>(ignored);
    return 0;
  });
  return outcome.status == 0 ? outcome.output : "child did not exit";
}

#endif

}  // namespace dotloom::testing
