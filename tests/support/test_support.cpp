// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "tests/support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
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

TempDir::TempDir(const fs::path& in) {
  // A name no other folder has: the process, the time and a count, retried when taken.
  static unsigned counter = 0;
  const fs::path base = in.empty() ? fs::temp_directory_path() : in;
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

TempDir::TempDir(const fs::path& base) {
  std::string pattern =
      ((base.empty() ? fs::temp_directory_path() : base) / "dotloom-test-XXXXXX").string();
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
  if (::mknod(path.c_str(), S_IFCHR | 0666, static_cast<dev_t>(makedev(1, minor->second))) != 0) {
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
#elif defined(__EMSCRIPTEN__)
  // A page has no /proc: ask each descriptor its flags, which only an open one has.
  int count = 0;
  for (int fd = 0; fd < 1024; ++fd) count += ::fcntl(fd, F_GETFD) != -1 ? 1 : 0;
  return count;
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

ByteVector BitfileWith(const std::vector<std::pair<std::size_t, std::uint8_t>>& bytes) {
  ByteVector file(576, 0);
  for (const auto& [offset, value] : bytes) file.at(offset) = value;
  return file;
}

ByteVector BytePattern(std::size_t size, unsigned step, unsigned start) {
  ByteVector bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * step + start);
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

bool BecomeNobody() {
  constexpr uid_t kNobody = 65534;
  constexpr gid_t kNogroup = 65534;
  return ::setgroups(0, nullptr) == 0 && ::setresgid(kNogroup, kNogroup, kNogroup) == 0 &&
         ::setresuid(kNobody, kNobody, kNobody) == 0;
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

FileSizeLimit::FileSizeLimit(std::uint64_t bytes) {
  previous_handler_ = ::signal(SIGXFSZ, SIG_IGN);
  // Only the soft limit, so that it can be lifted again.
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  previous_ = limit.rlim_cur;
  limit.rlim_cur = static_cast<rlim_t>(bytes);
  if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
    throw std::system_error(errno, std::generic_category(), "setrlimit");
  }
}

FileSizeLimit::~FileSizeLimit() {
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = static_cast<rlim_t>(previous_);
  ::setrlimit(RLIMIT_FSIZE, &limit);
  ::signal(SIGXFSZ, previous_handler_);
}

#endif

void HostilePaths::Add(std::string what, fs::path path, bool reading, bool writing) {
  rows_.push_back({std::move(what), std::move(path), reading, writing});
}

HostilePaths::HostilePaths(const fs::path& dir, const std::string& ending) {
  const std::string e = "." + ending;
  Add("a missing file", dir / ("missing" + e), true, false);
  fs::create_directory(dir / ("folder" + e));
  Add("a folder", dir / ("folder" + e));
  Add("a name in a missing folder", dir / "no" / ("such" + e));
  WriteFile(dir / ("file" + e), ByteVector{1});
  Add("a name under a file", dir / ("file" + e) / ("x" + e));
#ifdef _WIN32
  // Device names, which Windows finds in every folder, with an ending and without.
  for (const char* device : {"CON", "NUL", "COM1", "LPT1", "AUX"}) {
    Add(std::string("the device name ") + device, dir / (device + e));
  }
  Add("the device name con", dir / "con");
  // A pipe with its server waiting.
  static unsigned counter = 0;
  const std::wstring pipe_name = L"\\\\.\\pipe\\dotloom-test-" +
                                 std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(++counter) + fs::path(e).wstring();
  const HANDLE pipe = ::CreateNamedPipeW(pipe_name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1,
                                         4096, 4096, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                            "CreateNamedPipeW");
  }
  pipe_ = pipe;
  Add("a pipe", fs::path(pipe_name));
  // A file the user may read but not write.
  read_only_ = dir / ("read-only" + e);
  WriteFile(read_only_, ByteVector(10, 0xAA));
  ::SetFileAttributesW(read_only_.c_str(), FILE_ATTRIBUTE_READONLY);
  Add("a read-only file", read_only_, false, true);
#else
  const auto link = [&](std::string what, const fs::path& target, const std::string& name) {
    fs::create_symlink(target, dir / (name + e));
    Add(std::move(what), dir / (name + e));
  };
  link("a link to itself", "loop" + e, "loop");
  Add("a 300-character name", dir / (std::string(300, 'n') + e));
  Add("a 5000-character folder name", dir / std::string(5000, 'd') / ("x" + e));
  if (::mkfifo((dir / ("fifo" + e)).c_str(), 0600) != 0) {
    throw std::system_error(errno, std::generic_category(), "mkfifo");
  }
  Add("a FIFO", dir / ("fifo" + e));
  // A listening socket, the nearest thing to a pipe server: no command may connect.
  const std::string socket_path = (dir / ("sock" + e)).string();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  socket_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (socket_ >= 0 && socket_path.size() < sizeof address.sun_path) {
    socket_path.copy(address.sun_path, socket_path.size());
    if (::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(socket_, 4) == 0) {
      Add("a socket", socket_path);
    }
  }
  // Devices of the test's own, named directly and reached through links as a user's would be.
  for (const char* kind : {"zero", "full"}) {
    const fs::path device = PrivateDevice(dir, kind + e, kind);
    if (device.empty()) continue;
    devices_.push_back(device);
    Add(std::string("a private ") + kind + " device", device);
    link(std::string("a link to a private ") + kind + " device", device.filename(),
         std::string(kind) + "-link");
  }
  // Kernel files that look regular, picked so that not even a faulty build could change the
  // machine through them: one to read, and this process's own name.
  link("a link to /proc/self/status", "/proc/self/status", "status");
  link("a link to /proc/self/comm", "/proc/self/comm", "comm");
#endif
}

HostilePaths::~HostilePaths() {
#ifdef _WIN32
  if (pipe_ != nullptr) ::CloseHandle(static_cast<HANDLE>(pipe_));
  if (!read_only_.empty()) ::SetFileAttributesW(read_only_.c_str(), FILE_ATTRIBUTE_NORMAL);
#else
  if (socket_ >= 0) ::close(socket_);
#endif
}

bool HostilePaths::SocketReached() const {
#ifdef _WIN32
  return false;
#else
  const int client = socket_ >= 0 ? ::accept(socket_, nullptr, nullptr) : -1;
  if (client >= 0) ::close(client);
  return client >= 0;
#endif
}

}  // namespace dotloom::testing
