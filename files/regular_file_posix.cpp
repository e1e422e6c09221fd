// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// RegularFile over POSIX descriptors, and the opening rules the saves share.
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "files/posix_file.h"
#include "files/regular_file.h"

namespace dotloom {
namespace fs = std::filesystem;

namespace posix {

UniqueFile OpenAt(int folder, const char* name, int flags, mode_t mode) {
  return UniqueFile(::openat(folder, name, flags | O_CLOEXEC, mode));
}

std::string ProcPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

struct stat StatOf(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) ThrowErrno("stat");
  return status;
}

// Files of these file systems are kernel interfaces that only look like files: writing a
// picture into one changes the system, and reading one can take any time.
bool OnKernelFileSystem(int fd) {
  struct statfs info {};
  if (::fstatfs(fd, &info) != 0) ThrowErrno("statfs");
  for (const std::uint64_t magic : std::initializer_list<std::uint64_t>{
           PROC_SUPER_MAGIC, SYSFS_MAGIC, DEBUGFS_MAGIC, TRACEFS_MAGIC, SECURITYFS_MAGIC,
           CGROUP_SUPER_MAGIC, CGROUP2_SUPER_MAGIC, EFIVARFS_MAGIC, BPF_FS_MAGIC}) {
    if (static_cast<std::uint64_t>(info.f_type) == magic) return true;
  }
  return false;
}

void RequireRegular(int fd, const struct stat& status, const std::string& name) {
  if (S_ISDIR(status.st_mode)) ThrowErrno(EISDIR, name);
  if (!S_ISREG(status.st_mode)) ThrowErrno(EINVAL, "not a regular file: " + name);
  if (OnKernelFileSystem(fd)) ThrowErrno(EINVAL, "a kernel interface, not a file: " + name);
}

// The reopening goes through /proc/self/fd, so it reaches exactly that file, whatever has
// happened to its name since. Where /proc is not mounted, the name is opened again and must
// still lead to the same file.
UniqueFile Reopen(int located, const struct stat& status, const fs::path& path, int flags) {
  flags |= O_NOCTTY | O_NONBLOCK;
  UniqueFile fd = OpenAt(AT_FDCWD, ProcPath(located).c_str(), flags);
  if (!fd.valid() && errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0) {
    fd = OpenAt(AT_FDCWD, path.c_str(), flags);
    if (fd.valid()) {
      const struct stat now = StatOf(fd.get());
      if (now.st_dev != status.st_dev || now.st_ino != status.st_ino) {
        ThrowErrno(EAGAIN, "file changed while opened: " + path.string());
      }
    }
  }
  if (!fd.valid()) ThrowErrno("open " + path.string());
  return fd;
}

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

Place PlaceOf(const fs::path& real) {
  Place place;
  place.name = real.filename().string();
  if (place.name.empty() || place.name == "." || place.name == "..") {
    ThrowErrno(EISDIR, real.string());
  }
  const fs::path parent = real.parent_path().empty() ? fs::path(".") : real.parent_path();
  place.folder = OpenAt(AT_FDCWD, parent.c_str(), O_PATH | O_DIRECTORY);
  if (!place.folder.valid()) ThrowErrno("open folder " + parent.string());
  if (OnKernelFileSystem(place.folder.get())) {
    ThrowErrno(EINVAL, "a kernel interface, not a folder: " + parent.string());
  }
  return place;
}

}  // namespace posix

namespace {
using namespace posix;

// Looks at what path names without opening it: a device, FIFO or kernel file is never
// opened at all, so opening one has no effect of its own. Invalid, with errno set, when
// there is nothing to look at.
UniqueFile Locate(const fs::path& path, struct stat& status) {
  UniqueFile located = OpenAt(AT_FDCWD, path.c_str(), O_PATH);
  if (!located.valid()) return located;
  status = StatOf(located.get());
  RequireRegular(located.get(), status, path.string());
  return located;
}

}  // namespace

RegularFile RegularFile::OpenForReading(const fs::path& path) {
  struct stat status {};
  const UniqueFile located = Locate(path, status);
  if (!located.valid()) ThrowErrno("open " + path.string());
  return RegularFile(Reopen(located.get(), status, path, O_RDONLY));
}

std::uint64_t RegularFile::Size() const {
  return static_cast<std::uint64_t>(StatOf(file_.get()).st_size);
}

std::size_t RegularFile::ReadAt(std::span<std::uint8_t> buffer, std::uint64_t offset) const {
  std::size_t total = 0;
  while (total < buffer.size()) {
    const ssize_t got = ::pread(file_.get(), buffer.data() + total, buffer.size() - total,
                                static_cast<off_t>(offset + total));
    if (got < 0) ThrowErrno("read");
    if (got == 0) break;  // end of file
    total += static_cast<std::size_t>(got);
  }
  return total;
}

void RegularFile::Close() {
  if (!file_.Close()) ThrowErrno("close");
}

}  // namespace dotloom
