// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include <fcntl.h>
#include <linux/magic.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <initializer_list>
#include <optional>
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
auto Retried(Call call) {
  decltype(call()) result{};
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

bool OneOf(int error, std::initializer_list<int> errors) {
  return std::find(errors.begin(), errors.end(), error) != errors.end();
}

// A descriptor closed on scope exit. Failures of that close are not reported: where one
// matters, Close is called first.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { Reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release() { return std::exchange(fd_, -1); }
  void Reset() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  }
  // Not retried on EINTR: Linux has released the descriptor by then.
  void Close(const std::string& what) {
    if (fd_ >= 0 && ::close(std::exchange(fd_, -1)) != 0 && errno != EINTR) ThrowErrno(what);
  }

 private:
  int fd_ = -1;
};

Descriptor OpenAt(int folder, const char* name, int flags, mode_t mode = 0) {
  return Descriptor(Retried([&] { return ::openat(folder, name, flags | O_CLOEXEC, mode); }));
}

std::string ProcPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

struct stat Status(int fd) {
  struct stat status {};
  if (Retried([&] { return ::fstat(fd, &status); }) != 0) ThrowErrno("stat");
  return status;
}

// Files of these file systems are kernel interfaces that only look like files: writing a
// picture into one changes the system, and reading one can take any time.
bool OnKernelFileSystem(int fd) {
  struct statfs info {};
  if (Retried([&] { return ::fstatfs(fd, &info); }) != 0) ThrowErrno("statfs");
  for (const std::uint64_t magic : std::initializer_list<std::uint64_t>{
           PROC_SUPER_MAGIC, SYSFS_MAGIC, DEBUGFS_MAGIC, TRACEFS_MAGIC, SECURITYFS_MAGIC,
           CGROUP_SUPER_MAGIC, CGROUP2_SUPER_MAGIC, EFIVARFS_MAGIC, BPF_FS_MAGIC}) {
    if (static_cast<std::uint64_t>(info.f_type) == magic) return true;
  }
  return false;
}

// Throws unless the file behind fd (an O_PATH descriptor is enough) is a regular file
// that may be opened.
void RequireRegular(int fd, const struct stat& status, const std::string& name) {
  if (S_ISDIR(status.st_mode)) ThrowErrno(EISDIR, name);
  if (!S_ISREG(status.st_mode)) ThrowErrno(EINVAL, "not a regular file: " + name);
  if (OnKernelFileSystem(fd)) ThrowErrno(EINVAL, "a kernel interface, not a file: " + name);
}

// Opens the file that the O_PATH descriptor `located` names, which has passed
// RequireRegular, with flags. The reopening goes through /proc/self/fd, so it reaches
// exactly that file, whatever has happened to its name since. Where /proc is not mounted,
// the name is opened again and must still lead to the same file.
Descriptor Reopen(int located, const struct stat& status, const fs::path& path, int flags) {
  flags |= O_NOCTTY | O_NONBLOCK;
  Descriptor fd = OpenAt(AT_FDCWD, ProcPath(located).c_str(), flags);
  if (!fd.valid() && errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0) {
    fd = OpenAt(AT_FDCWD, path.c_str(), flags);
    if (fd.valid()) {
      const struct stat now = Status(fd.get());
      if (now.st_dev != status.st_dev || now.st_ino != status.st_ino) {
        ThrowErrno(EAGAIN, "file changed while opened: " + path.string());
      }
    }
  }
  if (!fd.valid()) ThrowErrno("open " + path.string());
  return fd;
}

// Looks at what path names without opening it: a device, FIFO or kernel file is never
// opened at all, so opening one has no effect of its own.
Descriptor Locate(const fs::path& path, struct stat& status) {
  Descriptor located = OpenAt(AT_FDCWD, path.c_str(), O_PATH);
  if (!located.valid()) return located;
  status = Status(located.get());
  RequireRegular(located.get(), status, path.string());
  return located;
}

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

void SyncDescriptor(int fd, const std::string& what) {
  if (Retried([&] { return ::fsync(fd); }) != 0) ThrowErrno("fsync " + what);
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

// The folder that will hold name, and the name in it.
struct Place {
  Descriptor folder;  // O_PATH
  std::string name;
};

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

// The folder opened for reading, so that it can be synced; invalid where it may not be read.
Descriptor Syncable(const Place& place) {
  return OpenAt(place.folder.get(), ".", O_RDONLY | O_DIRECTORY);
}

// The new contents of a file, written beside it before they take its name. Unnamed
// (O_TMPFILE) where the file system allows it, so that a crash leaves nothing; otherwise a
// hidden name that says what it is, removed on every way out but success. The name is the
// same for every save of one file, so that what a crash left is removed by the next save.
class NewContents {
 public:
  // Throws with the errno of the failed creation.
  NewContents(const Place& place, mode_t mode) : place_(place) {
    fd_ = OpenAt(place.folder.get(), ".", O_TMPFILE | O_WRONLY, mode);
    if (fd_.valid()) return;
    if (!OneOf(errno, {EOPNOTSUPP, EISDIR, EINVAL})) ThrowErrno("create new file");
    name_ = TemporaryName();
    for (int i = 0; i < 2; ++i) {
      fd_ =
          OpenAt(place.folder.get(), name_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW, mode);
      if (fd_.valid()) return;
      if (errno != EEXIST || !RemoveStale()) break;
    }
    const int error = errno;
    name_.clear();
    ThrowErrno(error, "create temporary file");
  }
  NewContents(const NewContents&) = delete;
  NewContents& operator=(const NewContents&) = delete;
  ~NewContents() {
    fd_.Reset();
    if (!name_.empty()) Retried([&] { return ::unlinkat(place_.folder.get(), name_.c_str(), 0); });
  }

  int fd() const { return fd_.get(); }

  // Gives the unnamed file a temporary name, for a rename over the target.
  void GiveName() {
    if (!name_.empty()) return;
    name_ = TemporaryName();
    for (int i = 0; i < 2; ++i) {
      if (Link(name_.c_str()) == 0) return;
      if (errno != EEXIST || !RemoveStale()) break;
    }
    const int error = errno;
    name_.clear();
    ThrowErrno(error, "name new file");
  }

  // Renames over the target, which must still be the file `expected` describes.
  // Returns false, with nothing changed, where the folder does not allow it.
  bool ReplaceTarget(const struct stat& expected) {
    GiveName();
    struct stat now {};
    if (Retried([&] {
          return ::fstatat(place_.folder.get(), place_.name.c_str(), &now, AT_SYMLINK_NOFOLLOW);
        }) != 0) {
      ThrowErrno("stat " + place_.name);
    }
    if (now.st_dev != expected.st_dev || now.st_ino != expected.st_ino) {
      ThrowErrno(EAGAIN, "file changed while saved: " + place_.name);
    }
    const int folder = place_.folder.get();
    if (Retried([&] { return ::renameat(folder, name_.c_str(), folder, place_.name.c_str()); }) !=
        0) {
      if (OneOf(errno, {EPERM, EACCES, EBUSY, EXDEV, EROFS})) return false;
      ThrowErrno("rename");
    }
    name_.clear();
    return true;
  }

  // Takes the target's name, which must not exist: a file made meanwhile is never replaced.
  void TakeFreeName() {
    const int folder = place_.folder.get();
    if (name_.empty()) {
      if (Link(place_.name.c_str()) != 0) ThrowErrno("link " + place_.name);
      return;
    }
    if (Retried([&] {
          return ::renameat2(folder, name_.c_str(), folder, place_.name.c_str(), RENAME_NOREPLACE);
        }) == 0) {
      name_.clear();
      return;
    }
    if (!OneOf(errno, {EINVAL, ENOSYS})) ThrowErrno("rename");
    if (Retried([&] { return ::linkat(folder, name_.c_str(), folder, place_.name.c_str(), 0); }) !=
        0) {
      ThrowErrno("link " + place_.name);
    }
  }

  void Close() { fd_.Close("close new file"); }

 private:
  std::string TemporaryName() const {
    // A short prefix of the target's name keeps the temporary name within NAME_MAX.
    constexpr std::size_t kMaxPrefix = 200;
    return "." + place_.name.substr(0, kMaxPrefix) + ".dotloom-unsaved";
  }

  // Removes what an earlier save of the same file left under the temporary name. A save
  // running at the same time loses its temporary file and fails; neither file is harmed.
  bool RemoveStale() {
    struct stat status {};
    const int folder = place_.folder.get();
    if (Retried([&] { return ::fstatat(folder, name_.c_str(), &status, AT_SYMLINK_NOFOLLOW); }) !=
            0 ||
        S_ISDIR(status.st_mode)) {
      errno = EEXIST;
      return false;
    }
    return Retried([&] { return ::unlinkat(folder, name_.c_str(), 0); }) == 0 || errno == ENOENT;
  }

  int Link(const char* name) {
    const int folder = place_.folder.get();
    int result = Retried([&] {
      return ::linkat(AT_FDCWD, ProcPath(fd_.get()).c_str(), folder, name, AT_SYMLINK_FOLLOW);
    });
    // Without /proc, only a privileged process may link a descriptor itself.
    if (result != 0 && errno == ENOENT) {
      result = Retried([&] { return ::linkat(fd_.get(), "", folder, name, AT_EMPTY_PATH); });
    }
    return result;
  }

  const Place& place_;
  Descriptor fd_;
  std::string name_;  // the temporary name, while the file has one
};

// A rename over the target is possible only when it can take over all that the old file
// was; these failures mean it cannot, and the file is then written in place instead.
bool CannotCarry(int error) {
  return OneOf(error,
               {EPERM, EACCES, ENOTSUP, EOPNOTSUPP, EROFS, ENOSPC, EDQUOT, E2BIG, ERANGE, EINVAL});
}

struct CannotReplace {};

[[noreturn]] void Cannot() { throw CannotReplace{}; }

std::vector<std::string> AttributeNames(int fd) {
  std::vector<char> list;
  for (;;) {
    const ssize_t size = Retried([&] { return ::flistxattr(fd, nullptr, 0); });
    if (size < 0) {
      if (OneOf(errno, {ENOTSUP, EOPNOTSUPP})) return {};
      ThrowErrno("list attributes");
    }
    list.resize(static_cast<std::size_t>(size));
    const ssize_t got = Retried([&] { return ::flistxattr(fd, list.data(), list.size()); });
    if (got >= 0) {
      list.resize(static_cast<std::size_t>(got));
      break;
    }
    if (errno != ERANGE) ThrowErrno("list attributes");
  }
  std::vector<std::string> names;
  for (std::size_t at = 0; at < list.size();) {
    const std::string name(list.data() + at);
    at += name.size() + 1;
    if (!name.empty()) names.push_back(name);
  }
  return names;
}

std::vector<char> AttributeValue(int fd, const std::string& name) {
  std::vector<char> value;
  for (;;) {
    const ssize_t size = Retried([&] { return ::fgetxattr(fd, name.c_str(), nullptr, 0); });
    if (size < 0) {
      if (CannotCarry(errno) || errno == ENODATA) Cannot();
      ThrowErrno("read attribute " + name);
    }
    value.resize(static_cast<std::size_t>(size));
    const ssize_t got =
        Retried([&] { return ::fgetxattr(fd, name.c_str(), value.data(), value.size()); });
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      return value;
    }
    if (errno != ERANGE) {
      if (CannotCarry(errno) || errno == ENODATA) Cannot();
      ThrowErrno("read attribute " + name);
    }
  }
}

// Gives the new file the old one's owner, group, extended attributes (ACLs among them)
// and mode, and checks that all of it took: the kernel drops a setgid bit or an attribute
// it does not allow quietly. Throws CannotReplace when any of it cannot be carried over.
void CarryIdentity(int from, const struct stat& old, int to) {
  const struct stat fresh = Status(to);
  if (fresh.st_uid != old.st_uid || fresh.st_gid != old.st_gid) {
    if (Retried([&] { return ::fchown(to, old.st_uid, old.st_gid); }) != 0) {
      if (CannotCarry(errno)) Cannot();
      ThrowErrno("chown");
    }
  }
  const std::vector<std::string> names = AttributeNames(from);
  for (const std::string& name : names) {
    const std::vector<char> value = AttributeValue(from, name);
    if (Retried([&] { return ::fsetxattr(to, name.c_str(), value.data(), value.size(), 0); }) !=
        0) {
      if (CannotCarry(errno)) Cannot();
      ThrowErrno("set attribute " + name);
    }
  }
  // What the folder gave the new file (a default ACL, for one) and the old one lacked.
  for (const std::string& name : AttributeNames(to)) {
    if (std::find(names.begin(), names.end(), name) != names.end()) continue;
    if (Retried([&] { return ::fremovexattr(to, name.c_str()); }) != 0) {
      if (CannotCarry(errno)) Cannot();
      ThrowErrno("remove attribute " + name);
    }
  }
  const mode_t mode = old.st_mode & 07777;
  if (Retried([&] { return ::fchmod(to, mode); }) != 0) {
    if (CannotCarry(errno)) Cannot();
    ThrowErrno("chmod");
  }
  const struct stat now = Status(to);
  if (now.st_uid != old.st_uid || now.st_gid != old.st_gid || (now.st_mode & 07777) != mode) {
    Cannot();
  }
}

// Replaces the existing regular file `old` (open for writing as `file`) by a new one,
// renamed over it. Returns false, with nothing changed, when the new file could not carry
// everything the old one was, or the folder does not allow it.
bool ReplaceByRename(const Place& place, const Descriptor& file, const struct stat& old,
                     std::span<const std::uint8_t> bytes) {
  if (old.st_nlink != 1) return false;  // the other names would keep the old picture
  Descriptor folder = Syncable(place);
  if (!folder.valid()) return false;  // the rename could not be made to last
  std::optional<NewContents> contents;
  try {
    contents.emplace(place, 0600);
    CarryIdentity(file.get(), old, contents->fd());
    WriteAll(contents->fd(), bytes, 0);
    SyncDescriptor(contents->fd(), "new file");
    if (!contents->ReplaceTarget(old)) return false;
  } catch (const CannotReplace&) {
    return false;
  } catch (const std::system_error& error) {
    // A disk with room for the picture but not for a second copy, a folder the user may
    // not write: in place it may still work.
    if (OneOf(error.code().value(), {ENOSPC, EDQUOT, EACCES, EPERM, EROFS, EMLINK})) {
      return false;
    }
    throw;
  }
  // From here on the new file has the name: a failure is reported, never retried in place.
  SyncDescriptor(folder.get(), "folder");
  contents->Close();
  return true;
}

// Writes the file in place: its identity stays whatever it was. Room for the whole picture
// is reserved first, so that a full disk fails before a byte changes.
void WriteInPlace(Descriptor& file, std::span<const std::uint8_t> bytes) {
  const auto size = static_cast<off_t>(bytes.size());
  // A reservation past the file size limit is not refused; the writes would be, midway.
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      bytes.size() > limit.rlim_cur) {
    ThrowErrno(EFBIG, "file size limit");
  }
  if (size > 0) {
    const int reserved =
        Retried([&] { return ::fallocate(file.get(), FALLOC_FL_KEEP_SIZE, 0, size); });
    if (reserved != 0 && !OneOf(errno, {EOPNOTSUPP, ENOSYS})) ThrowErrno("reserve space");
  }
  WriteAll(file.get(), bytes, 0);
  if (Retried([&] { return ::ftruncate(file.get(), size); }) != 0) ThrowErrno("truncate");
  SyncDescriptor(file.get(), "file");
  file.Close("close");
}

void CreateWhole(const Place& place, std::span<const std::uint8_t> bytes) {
  Descriptor folder = Syncable(place);
  NewContents contents(place, 0666);
  WriteAll(contents.fd(), bytes, 0);
  SyncDescriptor(contents.fd(), "new file");
  contents.TakeFreeName();
  // A folder that may not be read cannot be synced; the file is there all the same.
  if (folder.valid()) SyncDescriptor(folder.get(), "folder");
  contents.Close();
}

int DescriptorOf(std::intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

RegularFile RegularFile::OpenForReading(const fs::path& path) {
  struct stat status {};
  const Descriptor located = Locate(path, status);
  if (!located.valid()) ThrowErrno("open " + path.string());
  return RegularFile(Reopen(located.get(), status, path, O_RDONLY).Release());
}

RegularFile RegularFile::OpenForWriting(const fs::path& path) {
  // A name made between looking and creating is looked at again, not opened blindly.
  constexpr int kTries = 4;
  for (int i = 0; i < kTries; ++i) {
    struct stat status {};
    const Descriptor located = Locate(path, status);
    if (located.valid()) {
      return RegularFile(Reopen(located.get(), status, path, O_WRONLY).Release());
    }
    if (errno != ENOENT) ThrowErrno("open " + path.string());
    // A new file, made here and now, so nothing else can be behind the name; a dangling
    // link makes its target.
    const Place place = PlaceOf(FollowLinks(path));
    Descriptor created = OpenAt(place.folder.get(), place.name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_NONBLOCK, 0666);
    if (created.valid()) return RegularFile(created.Release());
    if (errno != EEXIST) ThrowErrno("create " + path.string());
  }
  ThrowErrno(EAGAIN, "file keeps changing: " + path.string());
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : handle_(std::exchange(other.handle_, kNoHandle)) {}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept {
  if (this != &other) {
    if (handle_ != kNoHandle) ::close(DescriptorOf(handle_));
    handle_ = std::exchange(other.handle_, kNoHandle);
  }
  return *this;
}

RegularFile::~RegularFile() {
  if (handle_ != kNoHandle) ::close(DescriptorOf(handle_));
}

std::uint64_t RegularFile::Size() const {
  return static_cast<std::uint64_t>(Status(DescriptorOf(handle_)).st_size);
}

std::size_t RegularFile::ReadAt(std::span<std::uint8_t> buffer, std::uint64_t offset) const {
  std::size_t total = 0;
  while (total < buffer.size()) {
    const ssize_t got = ::pread(DescriptorOf(handle_), buffer.data() + total, buffer.size() - total,
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
  WriteAll(DescriptorOf(handle_), bytes, offset);
}

void RegularFile::Close() {
  // Linux releases the descriptor even when close fails, so it is never closed twice.
  const auto handle = std::exchange(handle_, kNoHandle);
  if (handle != kNoHandle && ::close(DescriptorOf(handle)) != 0 && errno != EINTR) {
    ThrowErrno("close");
  }
}

void ReplaceFileContents(const fs::path& target, std::span<const std::uint8_t> bytes) {
  const fs::path real = FollowLinks(target);
  const Place place = PlaceOf(real);
  Descriptor located = OpenAt(place.folder.get(), place.name.c_str(), O_PATH | O_NOFOLLOW);
  if (!located.valid()) {
    if (errno != ENOENT) ThrowErrno("open " + target.string());
    CreateWhole(place, bytes);
    return;
  }
  const struct stat old = Status(located.get());
  // A link that appeared since the links were followed is not followed now.
  if (S_ISLNK(old.st_mode)) ThrowErrno(ELOOP, target.string());
  RequireRegular(located.get(), old, target.string());
  // Saving over a file asks exactly what a Bitfile save asks: may this user write it.
  Descriptor file = Reopen(located.get(), old, real, O_WRONLY);
  if (ReplaceByRename(place, file, old, bytes)) return;
  WriteInPlace(file, bytes);
}

}  // namespace dotloom
