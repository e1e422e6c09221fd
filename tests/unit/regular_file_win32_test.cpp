// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The Windows file layer where it differs from the POSIX one: what a save may replace.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

#include "files/regular_file.h"
#include "files/replace_file_contents.h"
#include "tests/support/test_support.h"

namespace dotloom {
namespace {
namespace fs = std::filesystem;
using testing::ByteVector;
using testing::EntriesIn;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

DWORD Attributes(const fs::path& path) { return ::GetFileAttributesW(path.c_str()); }

// Closes on scope exit; for files a test holds open as another program would.
class Held {
 public:
  explicit Held(HANDLE handle) : handle_(handle) {}
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  ~Held() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

HANDLE OpenShared(const fs::path& path, DWORD share) {
  return ::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Every target a save must leave exactly as it was, with nothing new beside it.
TEST(ReplaceFileContentsWin32Test, TargetsNeverReplaced) {
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> make;
  };
  const ByteVector old_bytes(10, 7);
  const Case cases[] = {
      {"read-only.bmp",
       [&](const fs::path& path) {
         WriteFile(path, old_bytes);
         ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
       }},
      {"folder.bmp", [](const fs::path& path) { fs::create_directory(path); }},
      {"CON.bmp", nullptr},
      {"NUL.bmp", nullptr},
      {"COM1.bmp", nullptr},
      {"LPT1.bmp", nullptr},
      {"no-such-folder/x.bmp", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path target = dir / c.name;
    if (c.make) c.make(target);
    const int entries = EntriesIn(dir.path());
    const DWORD attributes = Attributes(target);
    const int handles = testing::OpenDescriptorCount();
    EXPECT_THROW(ReplaceFileContents(target, ByteVector{1, 2, 3}), std::system_error);
    EXPECT_EQ(EntriesIn(dir.path()), entries) << "no temporary file is left behind";
    EXPECT_EQ(Attributes(target), attributes);
    EXPECT_EQ(testing::OpenDescriptorCount(), handles);
    if (fs::is_regular_file(target)) {
      EXPECT_EQ(ReadFile(target), old_bytes);
      ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
  }
}

// A target that another program has open: replaced only when that program lets files be
// deleted under it (as Windows' own editors do), else the save fails and changes nothing.
TEST(ReplaceFileContentsWin32Test, TargetHeldOpenByAnotherProgram) {
  struct Case {
    const char* how;
    DWORD share;
    bool replaced;
  };
  const Case cases[] = {
      {"shared for reading only", FILE_SHARE_READ, false},
      {"shared for reading and writing", FILE_SHARE_READ | FILE_SHARE_WRITE, false},
      {"shared for everything", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    TempDir dir;
    const fs::path target = dir / "held.bmp";
    WriteFile(target, ByteVector(10, 7));
    {
      const Held held(OpenShared(target, c.share));
      ASSERT_TRUE(held.ok());
      if (c.replaced) {
        EXPECT_NO_THROW(ReplaceFileContents(target, ByteVector{1, 2, 3}));
      } else {
        EXPECT_THROW(ReplaceFileContents(target, ByteVector{1, 2, 3}), std::system_error);
      }
    }
    EXPECT_EQ(ReadFile(target), (c.replaced ? ByteVector{1, 2, 3} : ByteVector(10, 7)));
    EXPECT_EQ(EntriesIn(dir.path()), 1) << "no temporary or backup file is left behind";
  }
}

// What a replaced file keeps: its attributes, and every name it has.
TEST(ReplaceFileContentsWin32Test, ReplacedFileKeepsWhatItWas) {
  for (const DWORD attribute : {DWORD{FILE_ATTRIBUTE_HIDDEN}, DWORD{FILE_ATTRIBUTE_ARCHIVE}}) {
    SCOPED_TRACE(attribute);
    TempDir dir;
    const fs::path target = dir.path() / fs::path(u8"Grüße.bmp");
    WriteFile(target, ByteVector(100, 7));
    ASSERT_TRUE(::SetFileAttributesW(target.c_str(), attribute));
    ReplaceFileContents(target, ByteVector{1, 2, 3});
    EXPECT_EQ(ReadFile(target), (ByteVector{1, 2, 3}));
    EXPECT_NE(Attributes(target) & attribute, 0U);
    EXPECT_EQ(EntriesIn(dir.path()), 1);
  }
  TempDir dir;
  ReplaceFileContents(dir / "new.bmp", ByteVector{4, 5});
  EXPECT_EQ(ReadFile(dir / "new.bmp"), (ByteVector{4, 5}));
  EXPECT_EQ(EntriesIn(dir.path()), 1);
  // A file with a second name (a hard link) is written where it is, so both names show the
  // new bytes, shorter or longer than the old.
  WriteFile(dir / "linked.bmp", ByteVector(100, 7));
  ASSERT_TRUE(
      ::CreateHardLinkW((dir / "other.bmp").c_str(), (dir / "linked.bmp").c_str(), nullptr));
  for (const ByteVector& bytes : {ByteVector{1, 2, 3}, ByteVector(1000, 9)}) {
    ReplaceFileContents(dir / "linked.bmp", bytes);
    EXPECT_EQ(ReadFile(dir / "linked.bmp"), bytes);
    EXPECT_EQ(ReadFile(dir / "other.bmp"), bytes);
    EXPECT_EQ(EntriesIn(dir.path()), 3);
  }
}

}  // namespace
}  // namespace dotloom
