// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "files/regular_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "tests/support/test_support.h"

namespace dotloom {
namespace {
namespace fs = std::filesystem;
using testing::ByteVector;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

int EntriesIn(const fs::path& folder) {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++count;
  return count;
}

TEST(ReplaceFileContentsTest, ReplacesContentAndKeepsTheFileMode) {
  TempDir dir;
  WriteFile(dir / "a.bmp", ByteVector(100, 1));
  fs::permissions(dir / "a.bmp", fs::perms::owner_read | fs::perms::owner_write);
  ReplaceFileContents(dir / "a.bmp", ByteVector{1, 2, 3});
  EXPECT_EQ(ReadFile(dir / "a.bmp"), (ByteVector{1, 2, 3}));
  EXPECT_EQ(fs::status(dir / "a.bmp").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(EntriesIn(dir.path()), 1) << "no temporary file is left behind";
}

TEST(ReplaceFileContentsTest, WritesThroughASymbolicLinkAndKeepsTheLink) {
  TempDir dir;
  fs::create_directory(dir / "real");
  WriteFile(dir / "real" / "target.bmp", ByteVector{9});
  fs::create_symlink("real/target.bmp", dir / "link.bmp");
  ReplaceFileContents(dir / "link.bmp", ByteVector{4, 5});
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "link.bmp")));
  EXPECT_EQ(ReadFile(dir / "real" / "target.bmp"), (ByteVector{4, 5}));
}

TEST(ReplaceFileContentsTest, RefusesWhatIsNotARegularFile) {
  TempDir dir;
  fs::create_directory(dir / "folder.bmp");
  fs::create_symlink("loop.bmp", dir / "loop.bmp");
  std::vector<std::string> names = {"folder.bmp", "loop.bmp"};
  const fs::path null = testing::PrivateDevice(dir.path(), "null", "null");
  if (!null.empty()) {
    fs::create_symlink("null", dir / "null.bmp");
    names.insert(names.end(), {"null", "null.bmp"});
  }
  for (const std::string& name : names) {
    EXPECT_THROW(ReplaceFileContents(dir / name, ByteVector{1}), std::system_error) << name;
  }
  EXPECT_THROW(ReplaceFileContents(dir / "none" / "x.bmp", ByteVector{1}), std::system_error);
  if (!null.empty()) {
    EXPECT_TRUE(fs::is_character_file(null)) << "a device must never be replaced";
  }
  EXPECT_EQ(EntriesIn(dir.path()), null.empty() ? 2 : 4);
}

// A write that fails midway (here past the file size limit) must leave the old file as it
// was. Run in a child process, as the limit and the ignored signal would outlive the test.
TEST(ReplaceFileContentsTest, FailedWriteLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  const ByteVector old_bytes(10, 7);
  WriteFile(dir / "a.bmp", old_bytes);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{100, 100};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    try {
      ReplaceFileContents(dir / "a.bmp", ByteVector(1000, 1));
    } catch (const std::system_error& error) {
      ::_exit(error.code().value() == EFBIG ? 0 : 2);
    }
    ::_exit(1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(dir / "a.bmp"), old_bytes);
  EXPECT_EQ(EntriesIn(dir.path()), 1);
}

TEST(RegularFileTest, OpeningAFifoWithoutAWriterDoesNotBlock) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  // A blocking open would hang here for ever; the test runner's timeout would catch it.
  EXPECT_THROW(RegularFile::OpenForReading(dir / "fifo"), std::system_error);
  EXPECT_THROW(RegularFile::OpenForWriting(dir / "fifo"), std::system_error);
}

}  // namespace
}  // namespace dotloom
