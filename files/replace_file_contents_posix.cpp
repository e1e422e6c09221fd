// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The save rules over POSIX: a new file renamed over the old one where it can carry all the
// old one was, otherwise the old file written in place.
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "files/posix_file.h"
#include "files/replace_file_contents.h"

namespace dotloom {
namespace fs = std::filesystem;
namespace {
using namespace posix;

// Every errno the save rules tell apart, each list once.
// The file system or kernel has no unnamed files (O_TMPFILE).
constexpr int kNoUnnamedFiles[] = {EOPNOTSUPP, EISDIR, EINVAL};
// The folder does not allow a rename over the target.
constexpr int kRenameRefused[] = {EPERM, EACCES, EBUSY, EXDEV, EROFS};
// renameat2 without RENAME_NOREPLACE.
constexpr int kNoRenameFlags[] = {EINVAL, ENOSYS};
// The file system keeps no extended attributes.
constexpr int kNoAttributes[] = {ENOTSUP, EOPNOTSUPP};
// A new file cannot take over this part of what the old one was.
constexpr int kCannotCarry[] = {EPERM,  EACCES, ENOTSUP, EOPNOTSUPP, EROFS,
                                ENOSPC, EDQUOT, E2BIG,   ERANGE,     EINVAL};
// A disk with room for the picture but not for a second copy, a folder the user may not
// write: in place it may still work.
constexpr int kTryInPlace[] = {ENOSPC, EDQUOT, EACCES, EPERM, EROFS, EMLINK};
// The file system cannot reserve room; the writes go on all the same.
constexpr int kNoReservation[] = {EOPNOTSUPP, ENOSYS};

// How one step of a save by rename ended. A failed step either ends the save or, where
// in_place says so, lets it go on in place.
struct Step {
  bool ok = true;
  int error = 0;  // errno of the failure
  std::string what;
  bool in_place = false;
};

Step Done() { return {}; }
// The step failed with errno; listed errors let the save go on in place.
Step Failed(std::string what, std::span<const int> in_place = {}) {
  const int error = errno;
  return {false, error, std::move(what), OneOf(error, in_place)};
}
Step InPlaceInstead() { return {false, 0, {}, true}; }

// The folder opened for reading, so that it can be synced; invalid where it may not be read.
UniqueFile Syncable(const Place& place) {
  return OpenAt(place.folder.get(), ".", O_RDONLY | O_DIRECTORY);
}

// The new contents of a file, written beside it before they take its name. Unnamed
// (O_TMPFILE) where the file system allows it, so that a crash leaves nothing; otherwise a
// hidden name that says what it is, removed on every way out but success. The name is the
// same for every save of one file, so that what a crash left is removed by the next save.
class NewContents {
 public:
  explicit NewContents(const Place& place) : place_(place) {}
  NewContents(const NewContents&) = delete;
  NewContents& operator=(const NewContents&) = delete;
  ~NewContents() {
    fd_.Reset();
    if (!name_.empty()) Retried([&] { return ::unlinkat(place_.folder.get(), name_.c_str(), 0); });
  }

  int fd() const { return fd_.get(); }

  Step Create(mode_t mode) {
    fd_ = OpenAt(place_.folder.get(), ".", O_TMPFILE | O_WRONLY, mode);
    if (fd_.valid()) return Done();
    if (!OneOf(errno, kNoUnnamedFiles)) return Failed("create new file");
    name_ = TemporaryName();
    for (int i = 0; i < 2; ++i) {
      fd_ = OpenAt(place_.folder.get(), name_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW,
                   mode);
      if (fd_.valid()) return Done();
      if (errno != EEXIST || !RemoveStale()) break;
    }
    return Unnamed("create temporary file");
  }

  // Gives the unnamed file a temporary name, for a rename over the target.
  Step GiveName() {
    if (!name_.empty()) return Done();
    name_ = TemporaryName();
    for (int i = 0; i < 2; ++i) {
      if (Link(name_.c_str()) == 0) return Done();
      if (errno != EEXIST || !RemoveStale()) break;
    }
    return Unnamed("name new file");
  }

  // Renames over the target, which must still be the file `expected` describes.
  Step ReplaceTarget(const struct stat& expected) {
    if (Step named = GiveName(); !named.ok) return named;
    struct stat now {};
    if (Retried([&] {
          return ::fstatat(place_.folder.get(), place_.name.c_str(), &now, AT_SYMLINK_NOFOLLOW);
        }) != 0) {
      return Failed("stat " + place_.name);
    }
    if (now.st_dev != expected.st_dev || now.st_ino != expected.st_ino) {
      errno = EAGAIN;
      return Failed("file changed while saved: " + place_.name);
    }
    const int folder = place_.folder.get();
    if (Retried([&] { return ::renameat(folder, name_.c_str(), folder, place_.name.c_str()); }) !=
        0) {
      return Failed("rename", kRenameRefused);
    }
    name_.clear();
    return Done();
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
    if (!OneOf(errno, kNoRenameFlags)) ThrowErrno("rename");
    if (Retried([&] { return ::linkat(folder, name_.c_str(), folder, place_.name.c_str(), 0); }) !=
        0) {
      ThrowErrno("link " + place_.name);
    }
  }

  void Close() { CloseOrThrow(fd_, "close new file"); }

 private:
  std::string TemporaryName() const {
    // A short prefix of the target's name keeps the temporary name within NAME_MAX.
    constexpr std::size_t kMaxPrefix = 200;
    // Built by appending: GCC 12 warns falsely (-Wrestrict) on "." + std::string at -O2.
    std::string name = ".";
    name.append(place_.name, 0, kMaxPrefix).append(".dotloom-unsaved");
    return name;
  }

  // The temporary name was not taken: nothing to remove on the way out.
  Step Unnamed(std::string what) {
    Step failed = Failed(std::move(what));
    name_.clear();
    return failed;
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
  UniqueFile fd_;
  std::string name_;  // the temporary name, while the file has one
};

// The names of fd's extended attributes into names; none where the file system keeps none.
Step AttributeNames(int fd, std::vector<std::string>& names) {
  std::vector<char> list;
  for (;;) {
    const ssize_t size = Retried([&] { return ::flistxattr(fd, nullptr, 0); });
    if (size < 0) {
      if (OneOf(errno, kNoAttributes)) return Done();
      return Failed("list attributes");
    }
    list.resize(static_cast<std::size_t>(size));
    const ssize_t got = Retried([&] { return ::flistxattr(fd, list.data(), list.size()); });
    if (got >= 0) {
      list.resize(static_cast<std::size_t>(got));
      break;
    }
    if (errno != ERANGE) return Failed("list attributes");
  }
  for (std::size_t at = 0; at < list.size();) {
    const std::string name(list.data() + at);
    at += name.size() + 1;
    if (!name.empty()) names.push_back(name);
  }
  return Done();
}

Step AttributeValue(int fd, const std::string& name, std::vector<char>& value) {
  for (;;) {
    ssize_t got = Retried([&] { return ::fgetxattr(fd, name.c_str(), nullptr, 0); });
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      got = Retried([&] { return ::fgetxattr(fd, name.c_str(), value.data(), value.size()); });
      if (got >= 0) {
        value.resize(static_cast<std::size_t>(got));
        return Done();
      }
      if (errno == ERANGE) continue;  // it grew meanwhile
    }
    Step failed = Failed("read attribute " + name, kCannotCarry);
    // An attribute removed meanwhile cannot be carried either.
    failed.in_place = failed.in_place || failed.error == ENODATA;
    return failed;
  }
}

// Gives the new file the old one's owner, group, extended attributes (ACLs among them)
// and mode, and checks that all of it took: the kernel drops a setgid bit or an attribute
// it does not allow quietly.
Step CarryIdentity(int from, const struct stat& old, int to) {
  struct stat fresh {};
  if (Retried([&] { return ::fstat(to, &fresh); }) != 0) return Failed("stat");
  if (fresh.st_uid != old.st_uid || fresh.st_gid != old.st_gid) {
    if (Retried([&] { return ::fchown(to, old.st_uid, old.st_gid); }) != 0) {
      return Failed("chown", kCannotCarry);
    }
  }
  std::vector<std::string> names;
  if (Step listed = AttributeNames(from, names); !listed.ok) return listed;
  for (const std::string& name : names) {
    std::vector<char> value;
    if (Step read = AttributeValue(from, name, value); !read.ok) return read;
    if (Retried([&] { return ::fsetxattr(to, name.c_str(), value.data(), value.size(), 0); }) !=
        0) {
      return Failed("set attribute " + name, kCannotCarry);
    }
  }
  // What the folder gave the new file (a default ACL, for one) and the old one lacked.
  std::vector<std::string> given;
  if (Step listed = AttributeNames(to, given); !listed.ok) return listed;
  for (const std::string& name : given) {
    if (std::find(names.begin(), names.end(), name) != names.end()) continue;
    if (Retried([&] { return ::fremovexattr(to, name.c_str()); }) != 0) {
      return Failed("remove attribute " + name, kCannotCarry);
    }
  }
  const mode_t mode = old.st_mode & 07777;
  if (Retried([&] { return ::fchmod(to, mode); }) != 0) return Failed("chmod", kCannotCarry);
  struct stat now {};
  if (Retried([&] { return ::fstat(to, &now); }) != 0) return Failed("stat");
  if (now.st_uid != old.st_uid || now.st_gid != old.st_gid || (now.st_mode & 07777) != mode) {
    return InPlaceInstead();
  }
  return Done();
}

// The steps of a save by rename up to the rename itself.
Step WriteAndRename(NewContents& contents, int from, const struct stat& old,
                    std::span<const std::uint8_t> bytes) {
  if (Step created = contents.Create(0600); !created.ok) return created;
  if (Step carried = CarryIdentity(from, old, contents.fd()); !carried.ok) return carried;
  if (const int error = WriteAllOrError(contents.fd(), bytes, 0); error != 0) {
    errno = error;
    return Failed("write");
  }
  if (!Synced(contents.fd())) return Failed("fsync new file");
  return contents.ReplaceTarget(old);
}

// Replaces the existing regular file `old` (open for writing as `file`) by a new one,
// renamed over it. Returns false, with nothing changed, when the new file could not carry
// everything the old one was, or the folder or the disk does not allow it.
bool ReplaceByRename(const Place& place, const UniqueFile& file, const struct stat& old,
                     std::span<const std::uint8_t> bytes) {
  if (old.st_nlink != 1) return false;  // the other names would keep the old picture
  const UniqueFile folder = Syncable(place);
  if (!folder.valid()) return false;  // the rename could not be made to last
  NewContents contents(place);
  const Step renamed = WriteAndRename(contents, file.get(), old, bytes);
  if (!renamed.ok) {
    if (renamed.in_place || OneOf(renamed.error, kTryInPlace)) return false;
    ThrowErrno(renamed.error, renamed.what);
  }
  // From here on the new file has the name: a failure is reported, never retried in place.
  SyncDescriptor(folder.get(), "folder");
  contents.Close();
  return true;
}

// Writes the file in place: its identity stays whatever it was. Room for the whole picture
// is reserved first, so that a full disk fails before a byte changes.
void WriteInPlace(UniqueFile& file, std::span<const std::uint8_t> bytes) {
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
    if (reserved != 0 && !OneOf(errno, kNoReservation)) ThrowErrno("reserve space");
  }
  WriteAll(file.get(), bytes, 0);
  if (Retried([&] { return ::ftruncate(file.get(), size); }) != 0) ThrowErrno("truncate");
  SyncDescriptor(file.get(), "file");
  CloseOrThrow(file, "close");
}

void CreateWhole(const Place& place, std::span<const std::uint8_t> bytes) {
  const UniqueFile folder = Syncable(place);
  NewContents contents(place);
  if (const Step created = contents.Create(0666); !created.ok) {
    ThrowErrno(created.error, created.what);
  }
  WriteAll(contents.fd(), bytes, 0);
  SyncDescriptor(contents.fd(), "new file");
  contents.TakeFreeName();
  // A folder that may not be read cannot be synced; the file is there all the same.
  if (folder.valid()) SyncDescriptor(folder.get(), "folder");
  contents.Close();
}

}  // namespace

void ReplaceFileContents(const fs::path& target, std::span<const std::uint8_t> bytes) {
  const fs::path real = FollowLinks(target);
  const Place place = PlaceOf(real);
  const UniqueFile located = OpenAt(place.folder.get(), place.name.c_str(), O_PATH | O_NOFOLLOW);
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
  UniqueFile file = Reopen(located.get(), old, real, O_WRONLY);
  if (ReplaceByRename(place, file, old, bytes)) return;
  WriteInPlace(file, bytes);
}

}  // namespace dotloom
