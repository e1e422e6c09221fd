// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "files/regular_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <system_error>
#include <thread>
#include <tuple>
#include <vector>

#include "files/save_file.h"
#include "files/save_policy.h"
#include "tests/support/test_support.h"

namespace dotloom {
namespace {
namespace fs = std::filesystem;
using namespace testing;

TEST(SaveFileTest, WritesThroughASymbolicLinkAndKeepsTheLink) {
  TempDir dir;
  fs::create_directory(dir / "real");
  WriteFile(dir / "real" / "target.bmp", ByteVector{9});
  fs::create_symlink("real/target.bmp", dir / "link.bmp");
  SaveFile(dir / "link.bmp", ByteVector{4, 5}, SaveRule::kReplaceWhole);
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "link.bmp")));
  EXPECT_EQ(ReadFile(dir / "real" / "target.bmp"), (ByteVector{4, 5}));
}

// Throws for a step of a case's setup that failed.
void Check(bool done, const std::string& what) {
  if (!done) throw std::system_error(errno, std::generic_category(), what);
}

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

// The flags chattr shows; 0 where the file system has none.
int Flags(const fs::path& path) {
  int flags = 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) flags = 0;
  if (fd >= 0) ::close(fd);
  return flags;
}
void SetFlags(const fs::path& path, int set, int clear = 0) {
  int flags = (Flags(path) | set) & ~clear;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  Check(fd >= 0 && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0, "chattr " + path.string());
  ::close(fd);
}

std::map<std::string, std::string> Attributes(const fs::path& path) {
  std::map<std::string, std::string> attributes;
  char names[4096];
  const ssize_t size = ::listxattr(path.c_str(), names, sizeof names);
  for (ssize_t at = 0; at < size;) {
    const std::string name(names + at);
    at += static_cast<ssize_t>(name.size()) + 1;
    char value[4096];
    const ssize_t length = ::getxattr(path.c_str(), name.c_str(), value, sizeof value);
    attributes[name] = std::string(value, static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
  }
  return attributes;
}

// An access ACL as the kernel stores it: user::rw- user:nobody:rw- group::r-- mask::rw-
// other::r--.
std::string AclGrantingNobody() {
  std::string acl;
  const auto put = [&](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) acl += static_cast<char>((value >> (8 * i)) & 0xFFU);
  };
  put(2, 4);  // version
  const std::uint32_t kAny = 0xFFFFFFFF;
  for (const auto& [tag, perm, id] :
       {std::tuple{1U, 6U, kAny}, std::tuple{2U, 6U, kNobody}, std::tuple{4U, 4U, kAny},
        std::tuple{0x10U, 6U, kAny}, std::tuple{0x20U, 4U, kAny}}) {
    put(tag, 2);
    put(perm, 2);
    put(id, 4);
  }
  return acl;
}

// Saving over an existing file, as root or as another user: the file stays what it was
// (owner, group, mode, links, attributes), it is replaced whole where that keeps all of it
// and written in place where not, and a file the user may not write never changes.
TEST(SaveFileTest, SavingOverAFileKeepsWhatItWas) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
  TempDir dir;
  fs::permissions(dir.path(),
                  fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  const ByteVector old_bytes(48 * 1024, 0x0B);
  ByteVector new_bytes(40 * 1024);
  for (std::size_t i = 0; i < new_bytes.size(); ++i) new_bytes[i] = static_cast<std::uint8_t>(i);
  const auto own = [](const fs::path& path, uid_t user, gid_t group, mode_t mode) {
    Check(::chown(path.c_str(), user, group) == 0 && ::chmod(path.c_str(), mode) == 0,
          "setup " + path.string());
  };
  const auto attribute = [](const fs::path& path, const char* name, const std::string& value) {
    Check(::setxattr(path.c_str(), name, value.data(), value.size(), 0) == 0,
          std::string("setxattr ") + name);
  };
  using Setup = std::function<void(const fs::path& folder, const fs::path& file)>;
  struct Case {
    const char* name;
    bool as_nobody;
    bool own_mounts;  // in a mount namespace of its own
    Setup setup;      // the folder and the file exist, both root's, 0755 and 0644
    int error;        // 0 when the save succeeds
    bool in_place;    // the same inode afterwards
    mode_t lost = 0;  // mode bits the kernel lets no one keep
  };
  const Case cases[] = {
      {"another owner and group", false, false,
       [&](const fs::path&, const fs::path& file) { own(file, kNobody, kNogroup, 0640); }, 0,
       false},
      {"setuid, another owner", false, false,
       [&](const fs::path&, const fs::path& file) { own(file, kNobody, kNogroup, 04755); }, 0,
       false},
      {"ACL entry and extended attribute", false, false,
       [&](const fs::path&, const fs::path& file) {
         attribute(file, "user.note", "kept");
         attribute(file, "system.posix_acl_access", AclGrantingNobody());
       },
       0, false},
      {"two links, ACL, attribute, another owner", false, false,
       [&](const fs::path& folder, const fs::path& file) {
         fs::create_hard_link(file, folder / "second.bmp");
         own(file, kNobody, kNogroup, 0644);
         attribute(file, "user.note", "kept");
         attribute(file, "system.posix_acl_access", AclGrantingNobody());
       },
       0, true},
      {"read-only file of the user's own", true, false,
       [&](const fs::path& folder, const fs::path& file) {
         own(folder, kNobody, kNogroup, 0755);
         own(file, kNobody, kNogroup, 0444);
       },
       EACCES, true},
      {"root's file in a group-writable setgid folder", true, false,
       [&](const fs::path& folder, const fs::path& file) {
         own(folder, 0, kNogroup, 02775);
         own(file, 0, kNogroup, 0644);
       },
       EACCES, true},
      {"writable file in a folder the user may not write", true, false,
       [&](const fs::path&, const fs::path& file) { own(file, 0, 0, 0666); }, 0, true},
      {"root's writable file in a sticky folder", true, false,
       [&](const fs::path& folder, const fs::path& file) {
         own(folder, 0, 0, 01777);
         own(file, 0, 0, 0666);
       },
       0, true},
      {"the user's own file in a sticky folder", true, false,
       [&](const fs::path& folder, const fs::path& file) {
         own(folder, 0, 0, 01777);
         own(file, kNobody, kNogroup, 0600);
       },
       0, false},
      {"a file bind-mounted over the target", false, true,
       [&](const fs::path& folder, const fs::path& file) {
         fs::create_directory(folder / "elsewhere");
         WriteFile(folder / "elsewhere" / "source.bmp", ByteVector(48 * 1024, 0x0B));
         Check(::mount((folder / "elsewhere" / "source.bmp").c_str(), file.c_str(), nullptr,
                       MS_BIND, nullptr) == 0,
               "bind mount");
       },
       0, true},
      {"the user's own setuid file", true, false,
       [&](const fs::path& folder, const fs::path& file) {
         own(folder, kNobody, kNogroup, 0755);
         own(file, kNobody, kNogroup, 04755);
       },
       0, false},
      {"the user's own setuid file with a second link", true, false,
       [&](const fs::path& folder, const fs::path& file) {
         fs::create_hard_link(file, folder / "second.bmp");
         own(folder, kNobody, kNogroup, 0755);
         own(file, kNobody, kNogroup, 04755);
       },
       0, true},
      {"the user's setgid file of a group not the user's, in its setgid folder", true, false,
       [&](const fs::path& folder, const fs::path& file) {
         own(folder, 0, 0, 02777);
         own(file, kNobody, 0, 02775);
       },
       0, true, S_ISGID},
      {"a file capability, saved by root", false, false,
       [&](const fs::path&, const fs::path& file) {
         own(file, 0, 0, 0755);
         // Revision 2, effective, CAP_NET_RAW permitted.
         attribute(file, "security.capability",
                   std::string("\x01\x00\x00\x02\x00\x20\x00\x00", 8) + std::string(12, '\0'));
       },
       0, false},
      {"the nodump and noatime flags", false, false,
       [&](const fs::path&, const fs::path& file) { SetFlags(file, FS_NODUMP_FL | FS_NOATIME_FL); },
       0, false},
      {"an append-only folder", false, false,
       [&](const fs::path& folder, const fs::path&) { SetFlags(folder, FS_APPEND_FL); }, 0, true},
      {"a shared sticky folder where another user made the siblings' names", true, false,
       [&](const fs::path& folder, const fs::path& file) {
         own(folder, 0, 0, 01777);
         own(file, kNobody, kNogroup, 0600);
         const std::string prefix = save::SiblingPrefix<char>("t.bmp");
         WriteFile(folder / (prefix + "0000000000000000.tmp"), {1});
         fs::create_directory(folder / (prefix + "1111111111111111.tmp"));
       },
       0, false},
      {"a folder whose default ACL the file lacks", false, false,
       [&](const fs::path& folder, const fs::path&) {
         attribute(folder, "system.posix_acl_default", AclGrantingNobody());
       },
       0, false},
  };
  int index = 0;
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    const fs::path folder = dir / ("f" + std::to_string(index++));
    fs::create_directory(folder);
    const fs::path file = folder / "t.bmp";
    WriteFile(file, old_bytes);
    const std::string report = InChild([&]() -> std::string {
      if (row.own_mounts && (::unshare(CLONE_NEWNS) != 0 ||
                             ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)) {
        return "skipped: no mount namespace here";
      }
      row.setup(folder, file);
      struct stat before {};
      ::stat(file.c_str(), &before);
      const auto attributes = Attributes(file);
      const int flags = Flags(file);
      const auto entries = EntriesIn(folder);
      const ByteVector contents = ReadFile(file);
      if (row.as_nobody && !BecomeNobody()) return "cannot become nobody";
      int error = 0;
      try {
        SaveFile(file, new_bytes, SaveRule::kReplaceWhole);
      } catch (const std::system_error& failure) {
        error = failure.code().value();
      }
      if (error != row.error) return "failed with " + std::to_string(error);
      struct stat after {};
      ::stat(file.c_str(), &after);
      std::string problems;
      if (ReadFile(file) != (row.error == 0 ? new_bytes : contents)) problems += " contents;";
      if ((after.st_ino == before.st_ino) != row.in_place) problems += " inode;";
      if (after.st_uid != before.st_uid || after.st_gid != before.st_gid) problems += " owner;";
      if (after.st_mode != (before.st_mode & ~row.lost)) problems += " mode;";
      if (Flags(file) != flags) problems += " flags;";
      if (after.st_nlink != before.st_nlink) problems += " links;";
      if (Attributes(file) != attributes) problems += " attributes;";
      if (EntriesIn(folder) != entries) problems += " entries in the folder;";
      if (row.in_place && before.st_nlink == 2 &&
          ReadFile(folder / "second.bmp") != ReadFile(file)) {
        problems += " second link;";
      }
      return problems;
    });
    SetFlags(folder, 0, FS_APPEND_FL);  // so that it can be removed
    if (report.starts_with("skipped")) {
      std::printf("%s: %s\n", row.name, report.c_str());
      continue;
    }
    EXPECT_EQ(report, "");
  }
}

// Runs a program to its end, its output to log (a file, so that a daemon it starts holds no
// pipe of the test's); its exit status, -1 when it could not run.
int Run(const fs::path& log, std::vector<std::string> arguments) {
  return RunInChild([&] {
           std::vector<char*> argv;
           for (std::string& argument : arguments) argv.push_back(argument.data());
           argv.push_back(nullptr);
           const int output = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
           ::dup2(output, STDOUT_FILENO);
           ::dup2(output, STDERR_FILENO);
           ::execvp(argv[0], argv.data());
           return 127;
         })
      .status;
}

// A FAT file system of the test's own, in an image file in its folder, mounted through FUSE
// (fusefat) for as long as it lives.
class FatMount {
 public:
  explicit FatMount(const TempDir& dir)
      : image_(dir / "fat.img"), mount_(dir / "fat"), log_(dir / "fat.log") {
    fs::create_directory(mount_);
    if (!fs::exists("/dev/fuse")) {
      why_not_ = "no /dev/fuse here";
    } else if (Run(log_, {"truncate", "-s", "32M", image_.string()}) != 0 ||
               Run(log_, {"mkfs.vfat", image_.string()}) != 0) {
      why_not_ = "cannot make a FAT image (dosfstools)";
    } else if (Run(log_, {"fusefat", "-o", "rw+", image_.string(), mount_.string()}) != 0) {
      why_not_ = "cannot mount it with fusefat here";
    } else {
      mounted_ = true;
    }
  }
  FatMount(const FatMount&) = delete;
  FatMount& operator=(const FatMount&) = delete;
  ~FatMount() {
    if (mounted_) Run(log_, {"fusermount", "-u", mount_.string()});
  }
  const std::string& why_not() const { return why_not_; }
  const fs::path& path() const { return mount_; }

 private:
  fs::path image_;
  fs::path mount_;
  fs::path log_;
  bool mounted_ = false;
  std::string why_not_;
};

// FAT, as on SD cards and USB sticks: no unnamed files, no hard links, no rename that never
// replaces, no owners, modes or attributes. Every save still keeps its promise, the closest
// way the file system allows.
TEST(SaveFileTest, SavesOnAFatFileSystem) {
  TempDir dir;
  const FatMount fat(dir);
  if (!fat.why_not().empty()) GTEST_SKIP() << fat.why_not();
  const ByteVector old_bytes(1000, 'o');
  const ByteVector new_bytes = BytePattern(576, 7, 3);
  ByteVector over_start = old_bytes;
  std::copy(new_bytes.begin(), new_bytes.end(), over_start.begin());
  struct Case {
    const char* name;
    SaveRule rule;
    bool existing;
    bool stale;  // a crashed save's sibling beside it
    const ByteVector& after;
  };
  const Case cases[] = {
      {"new.bmp", SaveRule::kReplaceWhole, false, false, new_bytes},
      {"over.bmp", SaveRule::kReplaceWhole, true, false, new_bytes},
      {"crashed.bmp", SaveRule::kReplaceWhole, true, true, new_bytes},
      {"newcrash.bmp", SaveRule::kReplaceWhole, false, true, new_bytes},
      {"new.bit", SaveRule::kOverwriteStart, false, false, new_bytes},
      {"over.bit", SaveRule::kOverwriteStart, true, false, over_start},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    const fs::path folder = fat.path() / (std::string(row.name) + ".d");
    fs::create_directory(folder);
    const fs::path file = folder / row.name;
    if (row.existing) WriteFile(file, old_bytes);
    if (row.stale) {
      WriteFile(folder / (save::SiblingPrefix<char>(row.name) + "0123456789abcdef.tmp"), {1});
    }
    EXPECT_NO_THROW(SaveFile(file, new_bytes, row.rule));
    EXPECT_EQ(ReadFile(file), row.after);
    EXPECT_EQ(EntriesIn(folder), 1) << "nothing left beside it";
  }
}

// Another program exchanges the target's name with a FIFO's, or a link's, over and over
// (renameat2 RENAME_EXCHANGE) while the file is saved: no save ever replaces what was swapped
// in, so that stays, and every file holds the old bytes or the new.
TEST(SaveFileTest, WhatIsSwappedInDuringASaveIsNeverReplaced) {
  for (const bool link : {false, true}) {
    SCOPED_TRACE(link ? "a link to a FIFO" : "a FIFO");
    TempDir dir;
    const fs::path target = dir / "t.bmp";
    const fs::path other = dir / "other";
    WriteFile(target, ByteVector(100, 'o'));
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    if (link) fs::create_symlink("fifo", other);
    if (!link) fs::rename(dir / "fifo", other);
    std::atomic<bool> stop = false;
    std::thread swapper([&] {
      while (!stop) ::renameat2(AT_FDCWD, target.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE);
    });
    for (int i = 0; i < 3000; ++i) {
      try {
        SaveFile(target, ByteVector(50, 'n'), SaveRule::kReplaceWhole);
      } catch (const std::system_error&) {
        // Refused while the FIFO held the name, or found changed: both are right.
      }
    }
    stop = true;
    swapper.join();
    int swapped_in = 0;
    int regular = 0;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      const fs::file_status status = fs::symlink_status(entry.path());
      if (fs::is_fifo(status) || fs::is_symlink(status)) ++swapped_in;
      if (fs::is_regular_file(status)) {
        ++regular;
        const ByteVector bytes = ReadFile(entry.path());
        EXPECT_TRUE(bytes == ByteVector(100, 'o') || bytes == ByteVector(50, 'n'));
      }
    }
    EXPECT_EQ(swapped_in, link ? 2 : 1) << "what was swapped in is still there";
    // A check that fails while the names keep moving swaps back what it finds, so the new
    // file can stay under the other program's name: never is a byte of either lost.
    EXPECT_GE(regular, 1);
  }
}

}  // namespace
}  // namespace dotloom
