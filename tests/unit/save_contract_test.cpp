// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// What every build's file layer promises alike, run on each system's own file layer.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <span>
#include <string>
#include <system_error>
#include <tuple>
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
const char* const kDrive = "Z:";  // where Wine finds the machine's own folders
std::uint64_t Identity(const fs::path& path) {
  const UniqueFile file(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  BY_HANDLE_FILE_INFORMATION information{};
  ::GetFileInformationByHandle(file.get(), &information);
  return (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
}
// A pipe server of the test's own, listening without blocking, and a mailslot: whether any
// client reached them is asked after the fact.
HANDLE PipeServer(const std::string& name) {
  return ::CreateNamedPipeW((L"\\\\.\\pipe\\" + fs::path(name).wstring()).c_str(),
                            PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_NOWAIT,
                            PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
}
// A listening pipe without a client answers ERROR_PIPE_LISTENING; one a client reached,
// ERROR_PIPE_CONNECTED, or ERROR_NO_DATA once the client has gone again.
bool SawClient(const UniqueFile& server) {
  return ::ConnectNamedPipe(server.get(), nullptr) != FALSE ||
         ::GetLastError() != ERROR_PIPE_LISTENING;
}
HANDLE Mailslot(const std::string& name) {
  return ::CreateMailslotW((L"\\\\.\\mailslot\\" + fs::path(name).wstring()).c_str(), 0, 0,
                           nullptr);
}
bool GotMessage(const UniqueFile& mailslot) {
  DWORD messages = 0;
  return !::GetMailslotInfo(mailslot.get(), nullptr, nullptr, &messages, nullptr) || messages != 0;
}
// What a file is beyond its bytes and identity: its attributes here, its mode on Linux.
constexpr DWORD kMark = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
void Mark(const fs::path& path) { ::SetFileAttributesW(path.c_str(), kMark); }
bool Marked(const fs::path& path) { return (::GetFileAttributesW(path.c_str()) & kMark) == kMark; }
#else
constexpr int kDiskFull = ENOSPC;
const char* const kDrive = "";
std::uint64_t Identity(const fs::path& path) {
  struct stat status {};
  ::stat(path.c_str(), &status);
  return status.st_ino;
}
constexpr fs::perms kMark = fs::perms::owner_read | fs::perms::owner_write;
void Mark(const fs::path& path) { fs::permissions(path, kMark); }
bool Marked(const fs::path& path) {
  return (fs::status(path).permissions() & fs::perms::all) == kMark;
}
#endif

// A save over what is there: a file is replaced whole, keeping its mode or attributes; one
// with a second name (a hard link) is written where it is, longer or shorter, so that both
// names show the new bytes. On small_disk.sh's 64 KiB disk an old 48 KiB file and the new
// 40 KiB one do not fit side by side, so the file is written where it is; where even that
// has no room, the save fails whole and nothing on the disk changes.
TEST(SaveContractTest, ReplacesWritesInPlaceOrFailsWhole) {
  const char* disk = std::getenv("DOTLOOM_SMALL_DISK");
  TempDir dir;
  const ByteVector new_bytes = BytePattern(40 * 1024, 1);
  fs::path folder;
  fs::path file;
  const auto linked = [&](std::size_t size) {
    WriteFile(file, ByteVector(size, 0x0B));
    fs::create_hard_link(file, folder / "second.bmp");
  };
  struct Case {
    const char* name;
    bool small_disk;
    bool in_place;
    int error;  // 0 when the save succeeds
    std::function<void()> setup;
  };
  const Case cases[] = {
      {"an ordinary file", false, false, 0, [&] { WriteFile(file, ByteVector(100, 7)); }},
      {"a new file", false, false, 0, [] {}},
      {"two links, longer", false, true, 0, [&] { linked(8 * 1024); }},
      {"two links, shorter", false, true, 0, [&] { linked(48 * 1024); }},
      {"room for one copy only", true, true, 0,
       [&] { WriteFile(file, ByteVector(48 * 1024, 11)); }},
      {"a new file without room", true, false, kDiskFull,
       [&] { WriteFile(folder / "other.bmp", ByteVector(48 * 1024, 0x0B)); }},
#ifndef _WIN32  // Wine reserves no room, so there a stand-in finds the disk full
      {"two links, a small old file and a full disk", true, true, kDiskFull,
       [&] {
         linked(8 * 1024);
         std::ofstream filler(folder / "filler", std::ios::binary);
         const char block[4096] = {};
         while (filler.write(block, sizeof block) && filler.flush()) {
         }
       }},
#endif
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    if (row.small_disk && disk == nullptr) continue;  // run through small_disk.sh
    folder = row.small_disk ? fs::path(kDrive + std::string(disk)) / "case" : dir / row.name;
    file = folder / fs::path(u8"Grüße.bmp");
    fs::create_directory(folder);
    row.setup();
    const bool existed = fs::exists(file);
    if (existed) Mark(file);
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
    if (existed) {
      EXPECT_EQ(ReadFile(file), error == 0 ? new_bytes : old_bytes);
      EXPECT_TRUE(Marked(file));
      EXPECT_TRUE(!row.in_place || Identity(file) == identity) << "written where it is";
    }
    if (fs::exists(folder / "second.bmp")) {
      EXPECT_EQ(ReadFile(folder / "second.bmp"), ReadFile(file));
    }
    EXPECT_EQ(EntriesIn(folder), entries + (existed || error != 0 ? 0 : 1))
        << "nothing left beside it";
    if (row.small_disk) fs::remove_all(folder);
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
#endif
  // Names that reach a pipe or a mailslot on Windows ({} for the name), and streams of the
  // file p.bmp and of the missing q.bit. There each pipe and mailslot is the test's own,
  // which must see no client and get nothing; on Linux these are ordinary names, each a FIFO.
  const char* const pipes[] = {
      "\\\\?\\pipe\\{}",         "//?/pipe/{}",
      "\\??\\pipe\\{}",          "\\\\?\\GLOBALROOT\\Device\\NamedPipe\\{}",
      "\\\\.\\pipe\\{}",         "\\\\?\\UNC\\localhost\\pipe\\{}",
      "\\\\localhost\\pipe\\{}", "\\\\.\\pipe\\{}:stream.bit",
      "\\\\?\\pipe\\{}::$DATA"};
  const char* const mailslots[] = {"\\\\?\\mailslot\\{}", "//?/mailslot/{}", "\\\\.\\mailslot\\{}",
                                   "\\??\\mailslot\\{}"};
  const char* const streams[] = {"p.bmp:s.bmp", "p.bmp::$DATA", "p.bmp:s:$DATA", "q.bit:s.bit"};
#ifdef _WIN32
  const std::string id = "dotloom-" + std::to_string(::GetCurrentProcessId()) + "-";
  {  // The control: the test's own client is seen, so a name that reached a server shows.
    const UniqueFile server(PipeServer(id + "control"));
    const UniqueFile client(::CreateFileW(fs::path("\\\\.\\pipe\\" + id + "control").c_str(),
                                          GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(server.valid() && client.valid());
    EXPECT_TRUE(SawClient(server));
  }
  std::vector<std::pair<UniqueFile, bool>> servers;  // and whether each is a pipe
  WriteFile(dir / "p.bmp", ByteVector(10, 7));
#else
  const std::string id = "dotloom-";
#endif
  for (const char* stream : streams) {
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((dir / stream).c_str(), 0600), 0) << stream;
#endif
    rows.push_back({stream, dir / stream});
  }
  int n = 0;
  for (const auto& [forms, pipe] :
       {std::pair<std::span<const char* const>, bool>{pipes, true}, {mailslots, false}}) {
    for (std::string path : forms) {
      const std::string name = id + std::to_string(++n) + (pipe ? ".bit" : ".bmp");
      path.replace(path.find("{}"), 2, name);
#ifdef _WIN32
      servers.emplace_back(pipe ? PipeServer(name) : Mailslot(name), pipe);
      ASSERT_TRUE(servers.back().first.valid()) << path;
      rows.push_back({path, path});
#else
      const fs::path fifo = dir / fs::path(path).relative_path();
      fs::create_directories(fifo.parent_path());
      ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << path;
      rows.push_back({path, fifo});
#endif
    }
  }
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
  for (const auto& [server, pipe] : servers)
    EXPECT_FALSE(pipe ? SawClient(server) : GotMessage(server));
  EXPECT_EQ(ReadFile(dir / "p.bmp"), ByteVector(10, 7));
  for (const char* file : {"read-only.bit", "read-only.bmp"}) {
    EXPECT_EQ(ReadFile(dir / file), ByteVector(10, 0xAA));
    EXPECT_NE(::GetFileAttributesW((dir / file).c_str()) & FILE_ATTRIBUTE_READONLY, 0U);
  }
#endif
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
  EXPECT_EQ(EntriesIn(dir.path()), entries) << "nothing made beside them";
}

}  // namespace
}  // namespace dotloom
