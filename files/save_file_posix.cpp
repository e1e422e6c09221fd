// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The steps of a save over POSIX: a new file beside the old one, locked while in use, that
// takes over the old one's owner, extended attributes, flags and mode and is exchanged with
// it; or the old file itself written where it is. The rules that choose are save_policy.cpp's.
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
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

// The errnos the save rules tell apart: no room (for a second copy), and what the folder,
// the file system (FAT and FUSE lack much) or the identity refuses: a plainer way may work.
constexpr int kNoRoom[] = {ENOSPC, EDQUOT};
constexpr int kRefused[] = {EACCES,  EPERM,      EROFS, EMLINK, EBUSY,  EXDEV,   ENOSYS,
                            ENOTSUP, EOPNOTSUPP, E2BIG, ERANGE, EINVAL, ENODATA, ENOTTY};
// What a file system without a feature answers: extended attributes, O_TMPFILE, renameat2.
constexpr int kNoAttributes[] = {ENOTSUP, EOPNOTSUPP};
constexpr int kNoUnnamedFiles[] = {EOPNOTSUPP, EISDIR, EINVAL};
constexpr int kNoRenameFlags[] = {EINVAL, ENOSYS};
// The chattr flags an owner may set, which a save keeps; the file system sets the others.
constexpr int kOwnersFlags = FS_NODUMP_FL | FS_NOATIME_FL | FS_SYNC_FL | FS_COMPR_FL;

constexpr int kExists[] = {EEXIST};

Step WithErrno(Result result, int error, std::string what) {
  return {result, std::error_code(error, std::generic_category()), std::move(what)};
}
// The step failed with errno.
Step Failed(std::string what) {
  return save::Failure<int>(errno, std::generic_category(), std::move(what), kNoRoom, kExists,
                            kRefused);
}
Step Checked(bool done, std::string what) { return done ? Step{} : Failed(std::move(what)); }
using save::Final;

// Writes all of bytes at offset and flushes them.
Step WriteAll(int fd, std::span<const std::uint8_t> bytes, std::uint64_t offset, bool flush) {
  while (!bytes.empty()) {
    const ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (written < 0) return Failed("write");
    if (written == 0) return WithErrno(Result::kFailed, EIO, "write");  // no progress
    bytes = bytes.subspan(static_cast<std::size_t>(written));
    offset += static_cast<std::uint64_t>(written);
  }
  return flush ? Checked(::fsync(fd) == 0, "fsync") : Step{};
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
bool NameIs(int folder, const std::string& name, const struct stat& file) {
  struct stat now {};
  return ::fstatat(folder, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(now, file);
}

// The names of fd's extended attributes, sorted; none where the file system keeps none.
Step AttributeNames(int fd, std::vector<std::string>& names) {
  names.clear();
  std::vector<char> list(1024);
  ssize_t got = 0;
  while ((got = ::flistxattr(fd, list.data(), list.size())) < 0 && errno == ERANGE) {
    list.resize(list.size() * 4);
  }
  if (got < 0) return OneOf(errno, kNoAttributes) ? Step{} : Failed("list attributes");
  for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
    names.emplace_back(list.data() + at);
    at += names.back().size() + 1;
  }
  std::sort(names.begin(), names.end());
  return Step{};
}

// The identity of the old file carried to the new one, phase by phase. The bytes are written
// first: a write takes setuid, setgid and file capabilities away. The owner goes next, as a
// chown does the same; then the attributes, the flags and the mode, and a check that the
// kernel kept all of it, as it drops a setgid bit or an attribute it does not allow quietly.
class IdentityCarrier {
 public:
  IdentityCarrier(int from, const struct stat& old, int to) : from_(from), old_(old), to_(to) {}

  Step Carry() {
    for (Step (IdentityCarrier::*phase)() :
         {&IdentityCarrier::Owner, &IdentityCarrier::Attributes, &IdentityCarrier::Flags,
          &IdentityCarrier::Mode, &IdentityCarrier::Check}) {
      if (Step step = (this->*phase)(); !step.ok()) return step;
    }
    return Step{};
  }

 private:
  Step Owner() {
    const struct stat fresh = StatOf(to_);
    if (fresh.st_uid == old_.st_uid && fresh.st_gid == old_.st_gid) return Step{};
    return Checked(::fchown(to_, old_.st_uid, old_.st_gid) == 0, "chown");
  }

  // The old file's attributes (ACLs and capabilities among them), none other: what the folder
  // gave the new file (a default ACL, for one) goes.
  Step Attributes() {
    if (Step listed = AttributeNames(from_, names_); !listed.ok()) return listed;
    for (const std::string& name : names_) {
      std::vector<char> value(256);
      ssize_t got = 0;
      while ((got = ::fgetxattr(from_, name.c_str(), value.data(), value.size())) < 0 &&
             errno == ERANGE && value.size() < (1U << 20U)) {
        value.resize(value.size() * 16);
      }
      if (got < 0) return Failed("read attribute " + name);
      if (::fsetxattr(to_, name.c_str(), value.data(), static_cast<std::size_t>(got), 0) != 0) {
        return Failed("set attribute " + name);
      }
    }
    std::vector<std::string> given;
    if (Step listed = AttributeNames(to_, given); !listed.ok()) return listed;
    for (const std::string& name : given) {
      if (!std::binary_search(names_.begin(), names_.end(), name) &&
          ::fremovexattr(to_, name.c_str()) != 0) {
        return Failed("remove attribute " + name);
      }
    }
    return Step{};
  }

  // The owner's chattr flags (nodump, noatime...); where the file system has none, there
  // are none to keep.
  Step Flags() {
    int old_flags = 0;
    int flags = 0;
    if (::ioctl(from_, FS_IOC_GETFLAGS, &old_flags) != 0) return Step{};
    if (::ioctl(to_, FS_IOC_GETFLAGS, &flags) != 0) return Failed("read flags");
    if (((flags ^ old_flags) & kOwnersFlags) == 0) return Step{};
    flags = (flags & ~kOwnersFlags) | (old_flags & kOwnersFlags);
    return Checked(::ioctl(to_, FS_IOC_SETFLAGS, &flags) == 0, "set flags");
  }

  Step Mode() { return Checked(::fchmod(to_, old_.st_mode & 07777) == 0, "chmod"); }

  Step Check() {
    const struct stat now = StatOf(to_);
    std::vector<std::string> kept;
    if (Step listed = AttributeNames(to_, kept); !listed.ok()) return listed;
    if (now.st_uid != old_.st_uid || now.st_gid != old_.st_gid ||
        (now.st_mode & 07777) != (old_.st_mode & 07777) || kept != names_) {
      return WithErrno(Result::kRefused, EPERM, "identity not kept");
    }
    return Step{};
  }

  const int from_;
  const struct stat& old_;
  const int to_;
  std::vector<std::string> names_;
};

// One save of one target over descriptors.
class PosixSave final : public save::SaveSystem {
 public:
  explicit PosixSave(const fs::path& target) : target_(target) {}
  PosixSave(const PosixSave&) = delete;
  PosixSave& operator=(const PosixSave&) = delete;
  ~PosixSave() override { DropSiblingName(); }

  std::uint64_t OpenTarget() override {
    file_.Reset();
    real_ = FollowLinks(target_);
    place_ = {};
    const UniqueFile located = OpenAt(AT_FDCWD, real_.c_str(), O_PATH | O_NOFOLLOW);
    if (!located.valid()) {
      if (errno != ENOENT) ThrowErrno("open " + target_.string());
      return 0;
    }
    old_ = StatOf(located.get());
    // A link that appeared since the links were followed is not followed now.
    if (S_ISLNK(old_.st_mode)) ThrowErrno(ELOOP, target_.string());
    RequireRegular(located.get(), old_, target_.string());
    // Saving over a file asks exactly what a Bitfile save asks: may this user write it.
    file_ = Reopen(located.get(), old_, real_, O_WRONLY);
    return old_.st_nlink;
  }

  Step CreateTarget() override {
    // Made here and now, so nothing else can be behind the name.
    file_ = OpenAt(Where().folder.get(), Where().name.c_str(),
                   O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_NONBLOCK, 0666);
    if (!file_.valid()) return Failed("create " + target_.string());
    old_ = StatOf(file_.get());
    created_ = true;
    return Step{};
  }

  Step ReserveTarget(std::uint64_t size) override {
    // A reservation past the file size limit is not refused; the writes would be, midway.
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        size > limit.rlim_cur) {
      return WithErrno(Result::kFailed, EFBIG, "file size limit");
    }
    if (size == 0) return Step{};
    return Checked(::fallocate(file_.get(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0,
                   "reserve space");
  }

  Step WriteTarget(std::span<const std::uint8_t> bytes, bool whole) override {
    if (Step written = WriteAll(file_.get(), bytes, 0, false); !written.ok() || !whole) {
      return written.ok() ? Checked(file_.Close(), "close") : written;
    }
    // Only ever shortened: some file systems (fusefat) refuse to set a length they have.
    const struct stat written = StatOf(file_.get());
    if (written.st_size > static_cast<off_t>(bytes.size()) &&
        ::ftruncate(file_.get(), static_cast<off_t>(bytes.size())) != 0) {
      return Failed("truncate");
    }
    // The write took setuid and setgid away; the owner may give them back. Where the kernel
    // does not let even the owner, they stay lost, as save_file.h says.
    if ((written.st_mode & 07777) != (old_.st_mode & 07777)) {
      static_cast<void>(::fchmod(file_.get(), old_.st_mode & 07777));
    }
    if (::fsync(file_.get()) != 0) return Failed("fsync");
    return Checked(file_.Close(), "close");
  }

  // A sibling is locked for as long as its save runs, so one that is not held is left over.
  // What cannot be opened, locked or removed stays; no save ever needs its name.
  void RemoveStaleSiblings() override {
    if (!Folder().valid()) return;
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(::dup(folder_.get())),
                                                      &::closedir);
    if (!listing) return;
    const std::string prefix = save::SiblingPrefix<char>(Where().name);
    while (const dirent* entry = ::readdir(listing.get())) {
      const std::string name = entry->d_name;
      struct stat status {};
      if (!name.starts_with(prefix) || !name.ends_with(save::kSiblingEnding) ||
          ::fstatat(folder_.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
          !S_ISREG(status.st_mode)) {
        continue;
      }
      const UniqueFile stale =
          OpenAt(folder_.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
      if (stale.valid() && SameFile(StatOf(stale.get()), status) &&
          ::flock(stale.get(), LOCK_EX | LOCK_NB) == 0 && NameIs(folder_.get(), name, status)) {
        ::unlinkat(folder_.get(), name.c_str(), 0);
      }
    }
  }

  // Unnamed (O_TMPFILE) where the file system allows it, so that a crash leaves nothing;
  // otherwise under a name of its own, made exclusively. Locked before anything is written.
  Step WriteSibling(std::span<const std::uint8_t> bytes) override {
    // The folder must take a new name and give it up again, and a rename in it must last.
    int flags = 0;
    if (!Folder().valid()) return Failed("open folder to sync");
    if (::ioctl(folder_.get(), FS_IOC_GETFLAGS, &flags) == 0 &&
        (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0) {
      return WithErrno(Result::kRefused, EPERM, "folder keeps every name");
    }
    // A replacement is the user's alone until it carries the old file's identity.
    const mode_t mode = file_.valid() ? 0600 : 0666;
    sibling_ = OpenAt(folder_.get(), ".", O_TMPFILE | O_WRONLY, mode);
    if (!sibling_.valid()) {
      if (!OneOf(errno, kNoUnnamedFiles)) return Failed("create new file");
      const std::string name = save::SiblingName<char>(Where().name);
      sibling_ =
          OpenAt(folder_.get(), name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW, mode);
      if (!sibling_.valid()) return Failed("create temporary file");
      sibling_name_ = name;
    }
    // Another save may have found it stale in the moment before the lock: it removes it.
    if (::flock(sibling_.get(), LOCK_EX | LOCK_NB) != 0) {
      sibling_name_.clear();
      return Failed("lock new file");
    }
    return WriteAll(sibling_.get(), bytes, 0, true);
  }

  Step CarryIdentity() override {
    return IdentityCarrier(file_.get(), old_, sibling_.get()).Carry();
  }

  // An exchange of the two names, checked afterwards: whatever was swapped in under the
  // target's name meanwhile is swapped back, never replaced. The old file then goes.
  Step SwapIn() override {
    if (sibling_name_.empty()) {  // an unnamed sibling needs a name to be exchanged
      const std::string name = save::SiblingName<char>(Where().name);
      if (Step linked = Link(name.c_str()); !linked.ok()) return linked;
      sibling_name_ = name;
    }
    const int folder = folder_.get();
    const auto exchange = [&] {
      return ::renameat2(folder, sibling_name_.c_str(), folder, Where().name.c_str(),
                         RENAME_EXCHANGE) == 0;
    };
    if (!exchange()) return Failed("exchange");
    if (!NameIs(folder, sibling_name_, old_) ||
        !NameIs(folder, Where().name, StatOf(sibling_.get()))) {
      if (!exchange()) return Final(Failed("exchange back"));
      return WithErrno(Result::kFailed, EAGAIN, "file changed while saved: " + target_.string());
    }
    ::unlinkat(folder, sibling_name_.c_str(), 0);  // the old file; if it stays, it is stale
    sibling_name_.clear();
    return Final(Finish());
  }

  // No replacing: a file that appeared under that name meanwhile is left alone.
  Step TakeFreeName() override {
    const int folder = folder_.get();
    const char* name = Where().name.c_str();
    if (sibling_name_.empty()) {
      if (Step linked = Link(name); !linked.ok()) return linked;
    } else if (::renameat2(folder, sibling_name_.c_str(), folder, name, RENAME_NOREPLACE) == 0) {
      sibling_name_.clear();
    } else if (!OneOf(errno, kNoRenameFlags)) {
      return Failed("rename");
    } else if (::linkat(folder, sibling_name_.c_str(), folder, name, 0) != 0) {
      return Failed("link " + target_.string());
    }
    // From here on the file has the name.
    DropSiblingName();
    return Final(Finish());
  }

  void Drop() noexcept override {
    DropSiblingName();
    sibling_.Reset();
    if (created_ && NameIs(place_.folder.get(), place_.name, old_)) {
      ::unlinkat(place_.folder.get(), place_.name.c_str(), 0);
    }
  }

 private:
  // The target's folder, opened when a step first needs it: writing an existing file in
  // place never does.
  const Place& Where() {
    if (!place_.folder.valid()) place_ = PlaceOf(real_);
    return place_;
  }
  // The folder open for reading, to list and to sync; invalid where it may not be read.
  const UniqueFile& Folder() {
    if (!folder_.valid()) folder_ = OpenAt(Where().folder.get(), ".", O_RDONLY | O_DIRECTORY);
    return folder_;
  }

  // Links the unnamed sibling to name. Without /proc, only a privileged process may link a
  // descriptor itself.
  Step Link(const char* name) {
    if (::linkat(AT_FDCWD, ProcPath(sibling_.get()).c_str(), folder_.get(), name,
                 AT_SYMLINK_FOLLOW) == 0 ||
        (errno == ENOENT &&
         ::linkat(sibling_.get(), "", folder_.get(), name, AT_EMPTY_PATH) == 0)) {
      return Step{};
    }
    return Failed(std::string("link ") + name);
  }
  // Removes the sibling's name, only while it still leads to the sibling.
  void DropSiblingName() noexcept {
    struct stat sibling {};
    if (!sibling_name_.empty() && ::fstat(sibling_.get(), &sibling) == 0 &&
        NameIs(folder_.get(), sibling_name_, sibling)) {
      ::unlinkat(folder_.get(), sibling_name_.c_str(), 0);
    }
    sibling_name_.clear();
  }
  // The folder synced, so that the new name lasts, and the sibling closed, which ends its lock.
  Step Finish() {
    if (::fsync(folder_.get()) != 0) return Failed("fsync folder");
    return Checked(sibling_.Close(), "close new file");
  }

  const fs::path& target_;
  fs::path real_;
  Place place_;
  struct stat old_ {};        // the target as opened, or as this save created it
  UniqueFile file_;           // the target, open for writing
  UniqueFile folder_;         // the target's folder, open for reading
  UniqueFile sibling_;        // the new contents, locked
  std::string sibling_name_;  // the sibling's name in the folder, while it has one of its own
  bool created_ = false;      // the target, by CreateTarget
};

}  // namespace

void SaveFile(const fs::path& target, std::span<const std::uint8_t> bytes, SaveRule rule) {
  PosixSave system(target);
  save::Save(system, bytes, rule);
}

}  // namespace dotloom
