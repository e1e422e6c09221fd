// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "files/regular_file.h"

namespace dotloom {
namespace fs = std::filesystem;
namespace {

[[noreturn]] void ThrowErrno(int error, const std::string& what) {
  throw std::system_error(error, std::generic_category(), what);
}

[[noreturn]] void ThrowErrno(const std::string& what) { ThrowErrno(errno, what); }

// Runs call until it succeeds or fails with something other than EINTR.
template <typename Call>
int Retried(Call call) {
  int result = 0;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

// Closes on scope exit; for the temporary file of ReplaceFileContents.
class TemporaryFile {
 public:
  explicit TemporaryFile(const fs::path& beside) {
    // A short prefix of the target's name keeps the temporary name within NAME_MAX.
    constexpr std::size_t kMaxPrefix = 200;
    const std::string prefix = beside.filename().string().substr(0, kMaxPrefix);
    const std::string name = (beside.parent_path() / ("." + prefix + ".XXXXXX")).string();
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    // mkostemp rewrites the X's on each call, so a retry starts from the pattern again.
    const std::vector<char> pattern = buffer;
    do {
      buffer = pattern;
      fd_ = ::mkostemp(buffer.data(), O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) ThrowErrno("create temporary file");
    path_.assign(buffer.data());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!kept_) Retried([&] { return ::unlink(path_.c_str()); });
  }

  int fd() const { return fd_; }
  const fs::path& path() const { return path_; }

  void Close() {
    // Not retried on EINTR: Linux has released the descriptor by then.
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0 && errno != EINTR) ThrowErrno("close temporary file");
  }
  void Keep() { kept_ = true; }

 private:
  int fd_ = -1;
  fs::path path_;
  bool kept_ = false;
};

void WriteAll(int fd, std::span<const std::uint8_t> bytes, std::uint64_t offset) {
  while (!bytes.empty()) {
    const ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (written < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("write");
    }
    if (written == 0) ThrowErrno(EIO, "write made no progress");
    bytes = bytes.subspan(static_cast<std::size_t>(written));
    offset += static_cast<std::uint64_t>(written);
  }
}

void SyncDescriptor(int fd) {
  if (Retried([&] { return ::fsync(fd); }) != 0) ThrowErrno("fsync");
}

// Follows symbolic links in the last component, so that a replaced link stays a link.
fs::path FollowLinks(fs::path path) {
  constexpr int kMaxLinks = 40;  // as the kernel allows
  for (int i = 0; i < kMaxLinks; ++i) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(path, error))) return path;
    const fs::path link = fs::read_symlink(path, error);
    if (error) ThrowErrno(error.value(), "read link");
    path = link.is_absolute() ? link : path.parent_path() / link;
  }
  ThrowErrno(ELOOP, "follow links");
}

mode_t NewFileMode() {
  // umask can only be read by setting it; the program has one thread.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<mode_t>(0666U & ~mask);
}

// The type bits of an open file's mode. Where statx exists it is asked for the type alone,
// which costs about a third of a full fstat here: a Bitfile save is only a few system calls,
// so this one shows.
mode_t FileType(int fd) {
#ifdef STATX_TYPE
  struct statx status {};
  if (Retried([&] { return ::statx(fd, "", AT_EMPTY_PATH, STATX_TYPE, &status); }) != 0) {
    ThrowErrno("stat");
  }
  return status.stx_mode & S_IFMT;
#else
  struct stat status {};
  if (Retried([&] { return ::fstat(fd, &status); }) != 0) ThrowErrno("stat");
  return status.st_mode & S_IFMT;
#endif
}

// Opens path with flags and keeps it only when it is a regular file.
std::intptr_t OpenRegular(const fs::path& path, int flags) {
  const int fd = Retried(
      [&] { return ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666); });
  if (fd < 0) ThrowErrno("open " + path.string());
  try {
    const mode_t type = FileType(fd);
    if (S_ISDIR(type)) ThrowErrno(EISDIR, path.string());
    if (!S_ISREG(type)) ThrowErrno(EINVAL, "not a regular file: " + path.string());
  } catch (...) {
    ::close(fd);
    throw;
  }
  return fd;
}

int Descriptor(std::intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

RegularFile RegularFile::OpenForReading(const fs::path& path) {
  return RegularFile(OpenRegular(path, O_RDONLY));
}

RegularFile RegularFile::OpenForWriting(const fs::path& path) {
  return RegularFile(OpenRegular(path, O_WRONLY | O_CREAT));
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : handle_(std::exchange(other.handle_, kNoHandle)) {}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept {
  if (this != &other) {
    if (handle_ != kNoHandle) ::close(Descriptor(handle_));
    handle_ = std::exchange(other.handle_, kNoHandle);
  }
  return *this;
}

RegularFile::~RegularFile() {
  if (handle_ != kNoHandle) ::close(Descriptor(handle_));
}

std::uint64_t RegularFile::Size() const {
  struct stat status {};
  if (Retried([&] { return ::fstat(Descriptor(handle_), &status); }) != 0) ThrowErrno("stat");
  return static_cast<std::uint64_t>(status.st_size);
}

std::size_t RegularFile::ReadAt(std::span<std::uint8_t> buffer, std::uint64_t offset) const {
  std::size_t total = 0;
  while (total < buffer.size()) {
    const ssize_t got = ::pread(Descriptor(handle_), buffer.data() + total, buffer.size() - total,
                                static_cast<off_t>(offset + total));
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("read");
    }
    if (got == 0) break;  // end of file
    total += static_cast<std::size_t>(got);
  }
  return total;
}

void RegularFile::WriteAt(std::span<const std::uint8_t> bytes, std::uint64_t offset) const {
  WriteAll(Descriptor(handle_), bytes, offset);
}

void RegularFile::Close() {
  // Linux releases the descriptor even when close fails, so it is never closed twice.
  const auto handle = std::exchange(handle_, kNoHandle);
  if (handle != kNoHandle && ::close(Descriptor(handle)) != 0 && errno != EINTR) {
    ThrowErrno("close");
  }
}

void ReplaceFileContents(const fs::path& target, std::span<const std::uint8_t> bytes) {
  const fs::path real = FollowLinks(target);
  mode_t mode = NewFileMode();
  struct stat status {};
  if (Retried([&] { return ::stat(real.c_str(), &status); }) == 0) {
    // Renaming over a device would replace the device node itself.
    if (S_ISDIR(status.st_mode)) ThrowErrno(EISDIR, real.string());
    if (!S_ISREG(status.st_mode)) ThrowErrno(EINVAL, "not a regular file: " + real.string());
    mode = status.st_mode & 07777;
  } else if (errno != ENOENT) {
    ThrowErrno("stat " + real.string());
  }

  TemporaryFile temporary(real);
  if (Retried([&] { return ::fchmod(temporary.fd(), mode); }) != 0) ThrowErrno("chmod");
  WriteAll(temporary.fd(), bytes, 0);
  SyncDescriptor(temporary.fd());
  temporary.Close();
  if (Retried([&] { return ::rename(temporary.path().c_str(), real.c_str()); }) != 0) {
    ThrowErrno("rename");
  }
  temporary.Keep();
}

}  // namespace dotloom
