// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// What every build's file layer promises alike, run on each system's own file layer.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "files/regular_file.h"
#include "files/save_file.h"
#include "tests/support/test_support.h"

#ifdef _WIN32
#include <windows.h>

#include "base/unique_handle.h"
#else
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace dotloom {
namespace {
namespace fs = std::filesystem;
using namespace testing;

#ifdef _WIN32
constexpr int kDiskFull = ERROR_DISK_FULL;
std::uint64_t Identity(const fs::path& path) {
  const UniqueFile file(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  BY_HANDLE_FILE_INFORMATION information{};
  ::GetFileInformationByHandle(file.get(), &information);
  return (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
}
#else
constexpr int kDiskFull = ENOSPC;
std::uint64_t Identity(const fs::path& path) {
  struct stat status {};
  ::stat(path.c_str(), &status);
  return status.st_ino;
}
#endif

// A disk of 64 KiB (small_disk.sh's): an old 48 KiB file and the new 40 KiB one do not fit
// side by side, so the file is written where it is; where even that has no room, the save
// fails whole and nothing on the disk changes.
TEST(SaveContractTest, OnASmallDisk) {
  const char* disk = std::getenv("DOTLOOM_SMALL_DISK");
  if (disk == nullptr) GTEST_SKIP() << "needs the small disk of small_disk.sh";
#ifdef _WIN32
  const fs::path root = fs::path("Z:" + std::string(disk));
#else
  const fs::path root = disk;
#endif
  ByteVector new_bytes(40 * 1024);
  for (std::size_t i = 0; i < new_bytes.size(); ++i) new_bytes[i] = static_cast<std::uint8_t>(i);
  struct Case {
    const char* name;
    std::function<void(const fs::path& folder, const fs::path& file)> setup;
    int error;  // 0 when the save succeeds
  };
  const Case cases[] = {
      {"room for one copy only",
       [](const fs::path&, const fs::path& file) { WriteFile(file, ByteVector(48 * 1024, 0x0B)); },
       0},
      {"a new file without room",
       [](const fs::path& folder, const fs::path&) {
         WriteFile(folder / "other.bmp", ByteVector(48 * 1024, 0x0B));
       },
       kDiskFull},
      {"two links, a small old file and a full disk",
       [](const fs::path& folder, const fs::path& file) {
         WriteFile(file, ByteVector(8 * 1024, 0x0B));
         fs::create_hard_link(file, folder / "second.bmp");
         std::ofstream filler(folder / "filler", std::ios::binary);
         const char block[4096] = {};
         while (filler.write(block, sizeof block) && filler.flush()) {
         }
       },
       kDiskFull},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    const fs::path folder = root / "case";
    fs::create_directory(folder);
    const fs::path file = folder / "t.bmp";
    row.setup(folder, file);
    const bool existed = fs::exists(file);
    const ByteVector old_bytes = existed ? ReadFile(file) : ByteVector{};
    const std::uint64_t identity = existed ? Identity(file) : 0;
    const int entries = EntriesIn(folder);
    int error = 0;
    try {
      SaveFile(file, new_bytes, SaveRule::kReplaceWhole);
    } catch (const std::system_error& failure) {
      error = failure.code().value();
    }
    EXPECT_EQ(error, row.error);
    if (row.error == 0 || existed) {
      EXPECT_EQ(ReadFile(file), row.error == 0 ? new_bytes : old_bytes);
    }
    if (existed) {
      EXPECT_EQ(Identity(file), identity) << "written where it is";
    }
    if (fs::exists(folder / "second.bmp")) {
      EXPECT_EQ(ReadFile(folder / "second.bmp"), old_bytes);
    }
    EXPECT_EQ(EntriesIn(folder), entries + (row.error == 0 && !existed ? 1 : 0))
        << "nothing left beside it";
    fs::remove_all(folder);
  }
}

// Neither reading nor either save opens what is not a regular file, and a save makes nothing
// beside it and changes nothing: every row of the hostile table, and on Linux more that only
// this layer sees. There inotify sees every open of a node (an O_PATH look at it is not one),
// and a kernel file on proc or sysfs is refused although it looks regular. A blocking open of
// the FIFO, which has no writer, would hang here for ever; the test runner's timeout would
// catch it.
TEST(RegularFileTest, WhatIsNotARegularFileIsNeverOpened) {
  TempDir dir;
  const HostilePaths bit(dir.path(), "bit");
  const HostilePaths bmp(dir.path(), "bmp");
  std::vector<HostilePath> rows(bit.begin(), bit.end());
  rows.insert(rows.end(), bmp.begin(), bmp.end());
#ifndef _WIN32
  // Kernel files picked so that not even a faulty build could change the machine through
  // them: read-only ones, and this process's own name (the table's /proc rows).
  if (fs::exists("/sys/kernel/uevent_seqnum")) {
    fs::create_symlink("/sys/kernel/uevent_seqnum", dir / "sys-file");
    rows.push_back({"a sysfs file", dir / "sys-file"});
  }
  if (!PrivateDevice(dir.path(), "null", "null").empty()) {
    fs::create_symlink("null", dir / "null.bmp");
    rows.push_back({"a private null device", dir / "null"});
    rows.push_back({"a link to a private null device", dir / "null.bmp"});
  }
  // The names that reach a pipe, a mailslot or a stream on Windows are ordinary names here;
  // a FIFO under each is refused all the same.
  fs::create_directories(dir / "?" / "pipe");
  for (const char* windows_name : {"\\\\?\\pipe\\a.bit", "?/pipe/c.bmp", "\\??\\pipe\\d.bit",
                                   "\\\\?\\GLOBALROOT\\Device\\NamedPipe\\e.bit",
                                   "\\\\.\\pipe\\f.bit", "\\\\?\\mailslot\\m.bit", "p.bmp:s.bmp"}) {
    ASSERT_EQ(::mkfifo((dir / windows_name).c_str(), 0600), 0) << windows_name;
    rows.push_back({windows_name, dir / windows_name});
  }
#endif
  const int descriptors = OpenDescriptorCount();
  const int entries = EntriesIn(dir.path());
  for (const HostilePath& row : rows) {
    SCOPED_TRACE(row.what);
#ifndef _WIN32
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    // Only what exists can be watched for an open.
    const bool watched = ::inotify_add_watch(watch, row.path.c_str(), IN_OPEN) >= 0;
#endif
    if (row.refused_for_reading) {
      EXPECT_THROW(RegularFile::OpenForReading(row.path), std::system_error);
    }
    if (row.refused_for_writing) {
      for (const SaveRule rule : {SaveRule::kOverwriteStart, SaveRule::kReplaceWhole}) {
        EXPECT_THROW(SaveFile(row.path, ByteVector{5}, rule), std::system_error);
      }
    }
#ifndef _WIN32
    char events[4096];
    if (watched) {
      EXPECT_LT(::read(watch, events, sizeof events), 0) << "opened";
    }
    ::close(watch);
#endif
  }
  for (const HostilePaths* table : {&bit, &bmp}) {
    for (const fs::path& device : table->devices()) {
      EXPECT_TRUE(fs::is_character_file(device)) << "a device must never be replaced";
    }
    EXPECT_FALSE(table->SocketReached()) << "a command connected";
  }
  for (const char* file : {"file.bit", "file.bmp"}) EXPECT_EQ(ReadFile(dir / file), ByteVector{1});
#ifdef _WIN32
  EXPECT_EQ(ReadFile(dir / "read-only.bit"), ByteVector(10, 0xAA));
#endif
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
  EXPECT_EQ(EntriesIn(dir.path()), entries) << "nothing made beside them";
}

}  // namespace
}  // namespace dotloom
