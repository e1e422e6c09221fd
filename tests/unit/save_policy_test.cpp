// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The save rules against a system made up in memory, one that behaves as POSIX does (unnamed
// new files, rename over the target) and one that behaves as Windows does (a named new file,
// ReplaceFileW): races and full disks happen exactly where a row says.
#include "files/save_policy.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "tests/support/test_support.h"

namespace dotloom {
namespace {
using namespace testing;
using save::Result;
using save::Status;

enum class Profile { kPosix, kWindows };
enum class Profiles { kBoth, kPosixOnly, kWindowsOnly };

// What the made-up system refuses in a row.
enum class Refusal {
  kNone,
  kSiblingInFolder,  // the folder may not hold a new file
  kIdentity,         // what the target is does not take (the kernel drops a setgid bit)
  kSwap,             // the rename or ReplaceFileW over the target
  kReservation,      // the file system cannot reserve room
  kFolderSync,       // the folder cannot be opened to be synced
  kSiblingWrite,     // the new file's write fails midway
};

const ByteVector kNew(576, 'n');
constexpr char kTarget[] = "t";
constexpr char kSibling[] = "tmp";  // the sibling's name, whatever the scheme

struct FakeFile {
  ByteVector bytes;
  std::string identity;
  std::size_t reserved = 0;
  bool dirty = false;  // written since the last flush
};
using File = std::shared_ptr<FakeFile>;

struct Row {
  const char* name;
  Profiles profiles;
  SaveRule rule;
  bool exists = true;           // the target, before
  std::size_t old_size = 1000;  // its bytes: 'o' each
  int links = 1;                // a second name is "second"
  bool stale = false;           // a crash left a sibling
  std::size_t room = 1 << 20;   // free bytes on the disk
  Refusal refusal = Refusal::kNone;
  const char* newcomer_at = "";  // the step before which another program makes the target
  // After: every name and what it holds (N new, O old, C the newcomer's, S stale, N+O new
  // bytes over the start of the old), whether it threw and the target is the file it was.
  const char* after;
  bool throws = false;
  bool in_place = false;
};

// The system in memory. Each step is logged, and the newcomer appears where the row says.
class FakeSystem final : public save::SaveSystem {
 public:
  FakeSystem(const Row& row, Profile profile, std::map<std::string, File>& names,
             std::size_t capacity)
      : row_(row), profile_(profile), names_(names), capacity_(capacity) {}

  save::Found Look() override {
    Step("Look");
    looked_ = Find(kTarget);
    if (!looked_) return {};
    std::uint64_t links = 0;
    for (const auto& [name, file] : names_) links += file == looked_ ? 1U : 0U;
    return {true, links};
  }
  Status CreateTarget() override {
    Step("CreateTarget");
    if (Find(kTarget)) return Failure(Result::kNameTaken);
    target_ = names_[kTarget] = std::make_shared<FakeFile>();
    target_open_ = true;
    return {};
  }
  Status OpenInPlace() override {
    Step("OpenInPlace");
    target_ = Find(kTarget);
    if (!target_) return Failure(Result::kFailed);
    target_open_ = true;
    return {};
  }
  Status ReserveTarget(std::uint64_t size) override {
    Step("ReserveTarget");
    if (row_.refusal == Refusal::kReservation) return Failure(Result::kUnsupported);
    if (size > Allocated(*target_) && Used() + (size - Allocated(*target_)) > capacity_) {
      return Failure(Result::kNoRoom);
    }
    target_->reserved = static_cast<std::size_t>(size);
    return {};
  }
  Status WriteTarget(std::span<const std::uint8_t> bytes, std::uint64_t offset) override {
    Step("WriteTarget");
    return Write(*target_, bytes, offset);
  }
  Status SetTargetLength(std::uint64_t size) override {
    Step("SetTargetLength");
    target_->bytes.resize(static_cast<std::size_t>(size));
    target_->dirty = true;
    return {};
  }
  Status FlushTarget() override {
    Step("FlushTarget");
    target_->dirty = false;
    return {};
  }
  Status CloseTarget() override {
    Step("CloseTarget");
    target_open_ = false;
    return {};
  }
  void RemoveStaleSibling() override {
    Step("RemoveStaleSibling");
    names_.erase(kSibling);
  }
  bool FolderSyncable() override {
    Step("FolderSyncable");
    return row_.refusal != Refusal::kFolderSync;
  }
  Status CreateSibling(bool /*replacing*/) override {
    Step("CreateSibling");
    if (row_.refusal == Refusal::kSiblingInFolder) return Failure(Result::kRefused);
    // Windows makes it under its name, exclusively; POSIX unnamed.
    if (profile_ == Profile::kWindows && Find(kSibling)) return Failure(Result::kNameTaken);
    sibling_ = std::make_shared<FakeFile>();
    sibling_->identity = "fresh";
    if (profile_ == Profile::kWindows) names_[kSibling] = sibling_;
    return {};
  }
  Status CarryIdentity() override {
    Step("CarryIdentity");
    if (row_.refusal == Refusal::kIdentity) return Failure(Result::kRefused);
    sibling_->identity = looked_->identity;
    return {};
  }
  Status WriteSibling(std::span<const std::uint8_t> bytes) override {
    Step("WriteSibling");
    return Write(*sibling_, bytes, 0);
  }
  Status FlushSibling() override {
    Step("FlushSibling");
    sibling_->dirty = false;
    return {};
  }
  Status SwapIn() override {
    Step("SwapIn");
    if (row_.refusal == Refusal::kSwap) {
      // A folder that refuses the rename on POSIX; ReplaceFileW failing on Windows.
      return Failure(profile_ == Profile::kPosix ? Result::kRefused : Result::kFailed);
    }
    if (profile_ == Profile::kPosix) {
      if (Find(kSibling)) return Failure(Result::kFailed);  // the link to name it
      names_[kSibling] = sibling_;
      if (Find(kTarget) != looked_) return Failure(Result::kFailed);
    }
    names_[kTarget] = sibling_;
    names_.erase(kSibling);
    return {};
  }
  Status TakeFreeName() override {
    Step("TakeFreeName");
    if (Find(kTarget)) return Failure(Result::kNameTaken);
    names_[kTarget] = sibling_;
    names_.erase(kSibling);
    return {};
  }
  Status SyncFolder() override {
    Step("SyncFolder");
    return {};
  }
  Status CloseSibling() override {
    Step("CloseSibling");
    return {};
  }
  void DropSibling() noexcept override {
    if (sibling_ && Find(kSibling) == sibling_) names_.erase(kSibling);
    sibling_.reset();
  }

  bool target_open() const { return target_open_; }

 private:
  void Step(const std::string& name) {
    if (name == row_.newcomer_at && !Find(kTarget)) {
      names_[kTarget] = std::make_shared<FakeFile>(FakeFile{ByteVector(1000, 'c'), "newcomer"});
    }
  }
  static Status Failure(Result result) {
    return {result, std::make_error_code(std::errc::io_error), "made up"};
  }
  File Find(const std::string& name) const {
    const auto found = names_.find(name);
    return found == names_.end() ? nullptr : found->second;
  }
  static std::size_t Allocated(const FakeFile& file) {
    return std::max(file.bytes.size(), file.reserved);
  }
  std::size_t Used() const {
    std::size_t used = 0;
    std::vector<const FakeFile*> counted;
    for (const auto& [name, file] : names_) {
      if (std::find(counted.begin(), counted.end(), file.get()) != counted.end()) continue;
      counted.push_back(file.get());
      used += Allocated(*file);
    }
    if (sibling_ && Find(kSibling) != sibling_) used += Allocated(*sibling_);
    return used;
  }
  // Writes byte by byte, as far as the disk has room: a full disk stops it midway.
  Status Write(FakeFile& file, std::span<const std::uint8_t> bytes, std::uint64_t offset) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (row_.refusal == Refusal::kSiblingWrite && &file == sibling_.get() &&
          i == bytes.size() / 2) {
        return Failure(Result::kFailed);
      }
      const auto at = static_cast<std::size_t>(offset) + i;
      if (at >= Allocated(file) && Used() + 1 > capacity_) return Failure(Result::kNoRoom);
      if (at >= file.bytes.size()) file.bytes.resize(at + 1);
      file.bytes[at] = bytes[i];
      file.dirty = true;
    }
    return {};
  }

  const Row& row_;
  const Profile profile_;
  std::map<std::string, File>& names_;
  const std::size_t capacity_;
  File looked_;
  File target_;
  File sibling_;
  bool target_open_ = false;
};

std::string Describe(const ByteVector& bytes, const ByteVector& old) {
  const auto same = [&](char c, std::size_t from) {
    for (std::size_t i = from; i < bytes.size(); ++i) {
      if (bytes[i] != static_cast<std::uint8_t>(c)) return false;
    }
    return true;
  };
  if (bytes == kNew) return "N";
  if (bytes == old) return "O";
  if (bytes.size() == 1000 && same('c', 0)) return "C";
  if (bytes == ByteVector{'s'}) return "S";
  if (bytes.size() > kNew.size() && ByteVector(bytes.begin(), bytes.begin() + 576) == kNew) {
    if (same('o', kNew.size())) return "N+O";
    if (same('c', kNew.size())) return "N+C";
  }
  return "?" + std::to_string(bytes.size());
}

TEST(SavePolicyTest, DecisionTable) {
  using enum SaveRule;
  using enum Profiles;
  const Row rows[] = {
      // A new name.
      {.name = "new file",
       .profiles = kBoth,
       .rule = kReplaceWhole,
       .exists = false,
       .after = "t=N"},
      {.name = "new file, no room",
       .profiles = kBoth,
       .rule = kReplaceWhole,
       .exists = false,
       .room = 575,
       .after = "",
       .throws = true},
      {.name = "new file, a crash's temporary left",
       .profiles = kBoth,
       .rule = kReplaceWhole,
       .exists = false,
       .stale = true,
       .after = "t=N"},
      {.name = "a target that appears during the save of a new file is never overwritten",
       .profiles = kBoth,
       .rule = kReplaceWhole,
       .exists = false,
       .newcomer_at = "TakeFreeName",
       .after = "t=C",
       .throws = true},
      {.name = "a name another program makes between the look and the create",
       .profiles = kBoth,
       .rule = kReplaceWhole,
       .exists = false,
       .newcomer_at = "CreateSibling",
       .after = "t=C",
       .throws = true},
      {.name = "new file, its write failing midway",
       .profiles = kBoth,
       .rule = kReplaceWhole,
       .exists = false,
       .refusal = Refusal::kSiblingWrite,
       .after = "",
       .throws = true},
      // Over an existing file: whole where a copy carries everything, else in place.
      {.name = "one link: replaced whole",
       .profiles = kBoth,
       .rule = kReplaceWhole,
       .after = "t=N"},
      {.name = "two links: in place, both names new",
       .profiles = kBoth,
       .rule = kReplaceWhole,
       .links = 2,
       .after = "second=N t=N",
       .in_place = true},
      {.name = "two links, shorter old file",
       .profiles = kBoth,
       .rule = kReplaceWhole,
       .old_size = 100,
       .links = 2,
       .after = "second=N t=N",
       .in_place = true},
      {.name = "no room for a copy: in place",
       .profiles = kBoth,
       .rule = kReplaceWhole,
       .room = 575,
       .after = "t=N",
       .in_place = true},
      {.name = "a full disk whose reservation fails: nothing changes",
       .profiles = kBoth,
       .rule = kReplaceWhole,
       .old_size = 100,
       .links = 2,
       .room = 200,
       .after = "second=O t=O",
       .throws = true,
       .in_place = true},
      {.name = "a file system that cannot reserve room",
       .profiles = kBoth,
       .rule = kReplaceWhole,
       .links = 2,
       .refusal = Refusal::kReservation,
       .after = "second=N t=N",
       .in_place = true},
      {.name = "a folder that may not hold a new file: in place",
       .profiles = kBoth,
       .rule = kReplaceWhole,
       .refusal = Refusal::kSiblingInFolder,
       .after = "t=N",
       .in_place = true},
      {.name = "a crash's temporary removed before the save",
       .profiles = kBoth,
       .rule = kReplaceWhole,
       .stale = true,
       .after = "t=N"},
      {.name = "the copy's write failing midway",
       .profiles = kBoth,
       .rule = kReplaceWhole,
       .refusal = Refusal::kSiblingWrite,
       .after = "t=O",
       .throws = true,
       .in_place = true},
      {.name = "setgid file saved by a user outside its group: in place",
       .profiles = kPosixOnly,
       .rule = kReplaceWhole,
       .refusal = Refusal::kIdentity,
       .after = "t=N",
       .in_place = true},
      {.name = "a folder that cannot be synced: in place",
       .profiles = kPosixOnly,
       .rule = kReplaceWhole,
       .refusal = Refusal::kFolderSync,
       .after = "t=N",
       .in_place = true},
      {.name = "a rename the folder refuses (a bind mount): in place",
       .profiles = kPosixOnly,
       .rule = kReplaceWhole,
       .refusal = Refusal::kSwap,
       .after = "t=N",
       .in_place = true},
      {.name = "ReplaceFileW failing: nothing changes",
       .profiles = kWindowsOnly,
       .rule = kReplaceWhole,
       .refusal = Refusal::kSwap,
       .after = "t=O",
       .throws = true,
       .in_place = true},
      // The Bitfile's rule: the start overwritten, never truncated.
      {.name = "over a longer file",
       .profiles = kBoth,
       .rule = kOverwriteStart,
       .after = "t=N+O",
       .in_place = true},
      {.name = "over a longer file with two links",
       .profiles = kBoth,
       .rule = kOverwriteStart,
       .links = 2,
       .after = "second=N+O t=N+O",
       .in_place = true},
      {.name = "a new file",
       .profiles = kBoth,
       .rule = kOverwriteStart,
       .exists = false,
       .after = "t=N"},
      {.name = "a name made between the look and the create is looked at again",
       .profiles = kBoth,
       .rule = kOverwriteStart,
       .exists = false,
       .newcomer_at = "CreateTarget",
       .after = "t=N+C"},
  };
  int runs = 0;
  for (const Row& row : rows) {
    for (const Profile profile : {Profile::kPosix, Profile::kWindows}) {
      if ((row.profiles == kPosixOnly && profile != Profile::kPosix) ||
          (row.profiles == kWindowsOnly && profile != Profile::kWindows)) {
        continue;
      }
      SCOPED_TRACE(std::string(row.name) +
                   (profile == Profile::kPosix ? " (POSIX)" : " (Windows)"));
      ++runs;
      const ByteVector old(row.old_size, 'o');
      std::map<std::string, File> names;
      if (row.exists) {
        names[kTarget] = std::make_shared<FakeFile>(FakeFile{old, "setgid, group staff"});
        if (row.links == 2) names["second"] = names[kTarget];
      }
      if (row.stale)
        names[kSibling] = std::make_shared<FakeFile>(FakeFile{ByteVector{'s'}, "stale"});
      const File before = names.count(kTarget) ? names[kTarget] : nullptr;
      std::size_t used = row.exists ? old.size() : 0;
      used += row.stale ? 1 : 0;
      FakeSystem system(row, profile, names, used + row.room);
      bool threw = false;
      try {
        save::Save(system, kNew, row.rule);
      } catch (const std::system_error&) {
        threw = true;
      }
      EXPECT_EQ(threw, row.throws);
      std::string after;
      for (const auto& [name, file] : names) {
        after += (after.empty() ? "" : " ") + name + "=" + Describe(file->bytes, old);
      }
      EXPECT_EQ(after, row.after);
      if (row.exists) {
        EXPECT_EQ(names[kTarget] == before, row.in_place);
      }
      if (!threw && names.count(kTarget)) {
        const FakeFile& saved = *names[kTarget];
        EXPECT_FALSE(system.target_open()) << "the target closed, its close checked";
        if (row.rule == kReplaceWhole) {
          EXPECT_FALSE(saved.dirty) << "flushed before success";
          if (row.exists) {
            EXPECT_EQ(saved.identity, "setgid, group staff");
          }
        }
      }
    }
  }
  EXPECT_EQ(runs, 42);
}

// One scheme of temporary names on both systems: hidden, of one length whatever the name,
// the same for each save of one file, and another for another file.
TEST(SavePolicyTest, SiblingNames) {
  const std::string long_name(250, 'x');
  const std::wstring wide_long(250, L'x');
  const std::string names[] = {
      save::SiblingName<char>("a.bmp"),
      save::SiblingName<char>("b.bmp"),
      save::SiblingName<char>(long_name),
      save::SiblingName<char>("Gr\xc3\xbc\xc3\x9f"
                              "e.bmp"),
      save::SiblingName<wchar_t>(L"a.bmp"),
      save::SiblingName<wchar_t>(wide_long),
      save::SiblingName<wchar_t>(L"Gr\u00fc\u00dfe.bmp"),
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(name.size(), 30U);
    EXPECT_TRUE(name.starts_with(".~dotloom-") && name.ends_with(".tmp"));
  }
  EXPECT_EQ(names[0], save::SiblingName<char>("a.bmp"));
  EXPECT_NE(names[0], names[1]);
  EXPECT_EQ(names[0], names[4]) << "an ASCII name hashes alike in either width";
  EXPECT_EQ(save::SiblingName<char>("a.bmp", "-0.old").size(), 32U);
}

}  // namespace
}  // namespace dotloom
