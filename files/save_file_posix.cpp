// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The steps of a save over POSIX: a new file, unnamed where the file system allows it, that
// carries the old one's owner, group, mode and extended attributes and is renamed over it;
// or the old file itself written where it is. The rules that choose are save_policy.cpp's.
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "files/posix_file.h"
#include "files/save_file.h"
#include "files/save_policy.h"

namespace dotloom {
namespace fs = std::filesystem;
namespace {
using namespace posix;
using save::Result;
using Step = save::Status;

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
constexpr int kCannotCarry[] = {EPERM, EACCES, ENOTSUP, EOPNOTSUPP, EROFS, E2BIG, ERANGE, EINVAL};
// A disk with room for the picture but not for a second copy.
constexpr int kNoRoom[] = {ENOSPC, EDQUOT};
// A folder the user may not write: in place it may still work.
constexpr int kRefused[] = {EACCES, EPERM, EROFS, EMLINK};
// The file system cannot reserve room; the writes go on all the same.
constexpr int kNoReservation[] = {EOPNOTSUPP, ENOSYS};

// Writes all of bytes at offset; 0, or the errno of the write that failed.
int WriteAllOrError(int fd, std::span<const std::uint8_t> bytes, std::uint64_t offset) {
  while (!bytes.empty()) {
    const ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (written == 0) return EIO;  // no progress
    bytes = bytes.subspan(static_cast<std::size_t>(written));
    offset += static_cast<std::uint64_t>(written);
  }
  return 0;
}

// False, with errno set, when the bytes could not be made to last.
bool Synced(int fd) {
  return Retried([&] { return ::fsync(fd); }) == 0;
}

Step Done() { return {}; }
Step WithErrno(Result result, int error, std::string what) {
  return {result, std::error_code(error, std::generic_category()), std::move(what)};
}
// The step failed with errno, told apart by the lists above; refusals are the step's own.
Step Failed(std::string what, std::span<const int> refusals = {}) {
  const int error = errno;
  Result result = Result::kFailed;
  if (OneOf(error, kNoRoom)) {
    result = Result::kNoRoom;
  } else if (OneOf(error, kRefused) || OneOf(error, refusals)) {
    result = Result::kRefused;
  }
  return WithErrno(result, error, std::move(what));
}
Step Checked(bool done, std::string what, std::span<const int> refusals = {}) {
  return done ? Done() : Failed(std::move(what), refusals);
}

// The new contents of a file, written beside it before they take its name. Unnamed
// (O_TMPFILE) where the file system allows it, so that a crash leaves nothing; otherwise
// under the sibling name, removed on every way out but success.
class NewContents {
 public:
  NewContents(const Place& place, std::string temporary)
      : place_(place), temporary_(std::move(temporary)) {}
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
    fd_ = OpenAt(place_.folder.get(), temporary_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW,
                 mode);
    if (!fd_.valid()) return Failed("create temporary file");
    name_ = temporary_;
    return Done();
  }

  // Renames over the target, which must still be the file `expected` describes.
  Step ReplaceTarget(const struct stat& expected) {
    if (name_.empty()) {
      // The unnamed file takes the temporary name first, for the rename.
      if (Link(temporary_.c_str()) != 0) return Failed("name new file");
      name_ = temporary_;
    }
    struct stat now {};
    if (Retried([&] {
          return ::fstatat(place_.folder.get(), place_.name.c_str(), &now, AT_SYMLINK_NOFOLLOW);
        }) != 0) {
      return Failed("stat " + place_.name);
    }
    if (now.st_dev != expected.st_dev || now.st_ino != expected.st_ino) {
      return WithErrno(Result::kFailed, EAGAIN, "file changed while saved: " + place_.name);
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
  Step TakeFreeName() {
    const int folder = place_.folder.get();
    if (name_.empty()) return Named(Link(place_.name.c_str()) == 0, "link " + place_.name);
    if (Retried([&] {
          return ::renameat2(folder, name_.c_str(), folder, place_.name.c_str(), RENAME_NOREPLACE);
        }) == 0) {
      name_.clear();
      return Done();
    }
    if (!OneOf(errno, kNoRenameFlags)) return Named(false, "rename");
    return Named(Retried([&] {
                   return ::linkat(folder, name_.c_str(), folder, place_.name.c_str(), 0);
                 }) == 0,
                 "link " + place_.name);
  }

  Step Close() { return Checked(fd_.Close(), "close new file"); }

 private:
  // A name that exists is taken, whatever else the errno says.
  static Step Named(bool done, std::string what) {
    if (done) return Done();
    Step failed = Failed(std::move(what));
    if (failed.error.value() == EEXIST) failed.result = Result::kNameTaken;
    return failed;
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
  const std::string temporary_;
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
    // An attribute removed meanwhile cannot be carried either.
    constexpr int kCannotRead[] = {ENODATA};
    Step failed = Failed("read attribute " + name, kCannotCarry);
    if (failed.result == Result::kFailed && OneOf(failed.error.value(), kCannotRead)) {
      failed.result = Result::kRefused;
    }
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
  if (Step listed = AttributeNames(from, names); !listed.ok()) return listed;
  for (const std::string& name : names) {
    std::vector<char> value;
    if (Step read = AttributeValue(from, name, value); !read.ok()) return read;
    if (Retried([&] { return ::fsetxattr(to, name.c_str(), value.data(), value.size(), 0); }) !=
        0) {
      return Failed("set attribute " + name, kCannotCarry);
    }
  }
  // What the folder gave the new file (a default ACL, for one) and the old one lacked.
  std::vector<std::string> given;
  if (Step listed = AttributeNames(to, given); !listed.ok()) return listed;
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
    return {Result::kRefused, {}, "identity not kept"};
  }
  return Done();
}

// One save of one target over descriptors.
class PosixSave final : public save::SaveSystem {
 public:
  explicit PosixSave(const fs::path& target) : target_(target) {}

  save::Found Look() override {
    file_.Reset();
    real_ = FollowLinks(target_);
    place_ = {};
    const UniqueFile located = OpenAt(AT_FDCWD, real_.c_str(), O_PATH | O_NOFOLLOW);
    if (!located.valid()) {
      if (errno != ENOENT) ThrowErrno("open " + target_.string());
      return {};
    }
    old_ = Status(located.get());
    // A link that appeared since the links were followed is not followed now.
    if (S_ISLNK(old_.st_mode)) ThrowErrno(ELOOP, target_.string());
    RequireRegular(located.get(), old_, target_.string());
    // Saving over a file asks exactly what a Bitfile save asks: may this user write it.
    file_ = Reopen(located.get(), old_, real_, O_WRONLY);
    return {true, static_cast<std::uint64_t>(old_.st_nlink)};
  }

  Step CreateTarget() override {
    // Made here and now, so nothing else can be behind the name.
    file_ = OpenAt(Where().folder.get(), Where().name.c_str(),
                   O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_NONBLOCK, 0666);
    if (file_.valid()) return Done();
    Step failed = Failed("create " + target_.string());
    if (failed.error.value() == EEXIST) failed.result = Result::kNameTaken;
    return failed;
  }

  Step OpenInPlace() override { return Done(); }  // Look opened it for writing

  Step ReserveTarget(std::uint64_t size) override {
    // A reservation past the file size limit is not refused; the writes would be, midway.
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        size > limit.rlim_cur) {
      return WithErrno(Result::kFailed, EFBIG, "file size limit");
    }
    if (size == 0) return Done();
    if (Retried([&] {
          return ::fallocate(file_.get(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size));
        }) == 0) {
      return Done();
    }
    if (OneOf(errno, kNoReservation)) return {Result::kUnsupported, {}, {}};
    return Failed("reserve space");
  }

  Step WriteTarget(std::span<const std::uint8_t> bytes, std::uint64_t offset) override {
    return Written(WriteAllOrError(file_.get(), bytes, offset));
  }
  Step SetTargetLength(std::uint64_t size) override {
    return Checked(Retried([&] { return ::ftruncate(file_.get(), static_cast<off_t>(size)); }) == 0,
                   "truncate");
  }
  Step FlushTarget() override { return Checked(Synced(file_.get()), "fsync file"); }
  Step CloseTarget() override { return Checked(file_.Close(), "close"); }

  // Removes what an earlier save of the same file left under the temporary name. A save
  // running at the same time loses its temporary file and fails; neither file is harmed.
  void RemoveStaleSibling() override {
    const std::string name = Temporary();
    struct stat status {};
    const int folder = Where().folder.get();
    if (Retried([&] { return ::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW); }) ==
            0 &&
        !S_ISDIR(status.st_mode)) {
      Retried([&] { return ::unlinkat(folder, name.c_str(), 0); });
    }
  }

  // The folder opened for reading, so that it can be synced.
  bool FolderSyncable() override {
    folder_ = OpenAt(Where().folder.get(), ".", O_RDONLY | O_DIRECTORY);
    return folder_.valid();
  }

  Step CreateSibling(bool replacing) override {
    contents_.emplace(Where(), Temporary());
    return contents_->Create(replacing ? 0600 : 0666);
  }
  Step CarryIdentity() override { return ::dotloom::CarryIdentity(file_.get(), old_, fd()); }
  Step WriteSibling(std::span<const std::uint8_t> bytes) override {
    return Written(WriteAllOrError(fd(), bytes, 0));
  }
  Step FlushSibling() override { return Checked(Synced(fd()), "fsync new file"); }
  Step SwapIn() override { return contents_->ReplaceTarget(old_); }
  Step TakeFreeName() override { return contents_->TakeFreeName(); }
  Step SyncFolder() override { return Checked(Synced(folder_.get()), "fsync folder"); }
  Step CloseSibling() override { return contents_->Close(); }
  void DropSibling() noexcept override { contents_.reset(); }

 private:
  // The target's folder, opened when a step first needs it: writing an existing file in
  // place never does. A rename checks that the name still leads to the file Look found.
  const Place& Where() {
    if (!place_.folder.valid()) place_ = PlaceOf(real_);
    return place_;
  }
  std::string Temporary() { return save::SiblingName<char>(Where().name); }
  int fd() const { return contents_->fd(); }
  static Step Written(int error) {
    if (error == 0) return Done();
    errno = error;
    return Failed("write");
  }

  const fs::path& target_;
  fs::path real_;
  Place place_;
  struct stat old_ {};
  UniqueFile file_;    // the target, open for writing
  UniqueFile folder_;  // the target's folder, open for reading
  std::optional<NewContents> contents_;
};

}  // namespace

void SaveFile(const fs::path& target, std::span<const std::uint8_t> bytes, SaveRule rule) {
  PosixSave system(target);
  save::Save(system, bytes, rule);
}

}  // namespace dotloom
