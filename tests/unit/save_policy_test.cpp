// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The save rules against a system made up in memory, one that behaves as POSIX does (unnamed
// new files, rename over the target) and one that behaves as Windows does (a named new file,
// ReplaceFileW): races and full disks happen exactly where a row says.
#include "files/save_policy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <sstream>
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
  kSwap,             // the exchange (refused) or the move (failing) over the target
  kReservation,      // the file system cannot reserve room
  kFolderSync,       // the folder cannot be opened to be synced
  kSiblingWrite,     // the new file's write fails midway
  kFreeName,         // no naming that never replaces (FAT: no hard link, no RENAME_NOREPLACE)
};

enum class Outcome { kCreated, kReplaced, kInPlace, kThrows };

const ByteVector kNew(576, 'n');
constexpr char kTarget[] = "t";
constexpr char kSibling[] = "tmp";         // what a crashed save left
constexpr char kOwnSibling[] = "sibling";  // this save's sibling, while it has a name
constexpr char kOldIdentity[] = "setgid, group staff";

struct FakeFile {
  ByteVector bytes;
  std::string identity;
  std::size_t reserved = 0;
  bool dirty = false;  // written since the last flush
  std::size_t allocated() const { return std::max(bytes.size(), reserved); }
};
using File = std::shared_ptr<FakeFile>;

struct Row {
  const char* name;
  Profiles profiles;
  SaveRule rule;
  // Before: "t" the target of 1000 bytes 'o' ("t100": 100), "second" a second link to it,
  // "tmp" what a crashed save left. After: every name and what it holds (N new, O old, C the
  // newcomer's 1000 bytes 'c', S stale; N+O the new bytes over the start of the old).
  const char* before;
  std::size_t room;  // free bytes on the disk
  Refusal refusal;
  const char* newcomer_at;  // the step before which another program makes the target
  const char* after;
  Outcome outcome;
};

// The system in memory: a map of names to files, several names for a linked file.
class FakeSystem final : public save::SaveSystem {
 public:
  FakeSystem(const Row& row, Profile profile, std::map<std::string, File>& names,
             std::size_t capacity)
      : row_(row), posix_(profile == Profile::kPosix), names_(names), capacity_(capacity) {}

  std::uint64_t OpenTarget() override {
    Step("OpenTarget");
    looked_ = target_ = Find(kTarget);
    target_open_ = looked_ != nullptr;
    return static_cast<std::uint64_t>(std::count_if(
        names_.begin(), names_.end(), [&](const auto& entry) { return entry.second == looked_; }));
  }
  Status CreateTarget() override {
    Step("CreateTarget");
    if (Find(kTarget)) return Failure(Result::kNameTaken);
    created_ = target_ = names_[kTarget] = std::make_shared<FakeFile>();
    target_open_ = true;
    return {};
  }
  Status ReserveTarget(std::uint64_t size) override {
    if (row_.refusal == Refusal::kReservation) return Failure(Result::kRefused);
    if (size > target_->allocated() && Used() + (size - target_->allocated()) > capacity_) {
      return Failure(Result::kNoRoom);
    }
    target_->reserved = static_cast<std::size_t>(size);
    return {};
  }
  Status WriteTarget(std::span<const std::uint8_t> bytes, bool whole) override {
    const Status written = Write(*target_, bytes, 0);
    if (!written.ok()) return written;
    if (whole) target_->bytes.resize(bytes.size());
    target_->dirty = !whole;
    target_open_ = false;
    return {};
  }
  void RemoveStaleSiblings() override { names_.erase(kSibling); }
  Status WriteSibling(std::span<const std::uint8_t> bytes) override {
    Step("WriteSibling");
    if (row_.refusal == Refusal::kSiblingInFolder || row_.refusal == Refusal::kFolderSync) {
      return Failure(Result::kRefused);
    }
    // Windows makes it under a name of its own; POSIX unnamed.
    sibling_ = std::make_shared<FakeFile>(FakeFile{{}, "fresh"});
    if (!posix_) names_[kOwnSibling] = sibling_;
    const Status written = Write(*sibling_, bytes, 0);
    sibling_->dirty = !written.ok();
    return written;
  }
  Status CarryIdentity() override {
    if (row_.refusal == Refusal::kIdentity) return Failure(Result::kRefused);
    sibling_->identity = looked_->identity;
    return {};
  }
  Status SwapIn() override {
    Step("SwapIn");
    if (row_.refusal == Refusal::kSwap) {
      return Failure(posix_ ? Result::kRefused : Result::kFailed);
    }
    // Only over the file it looked at: anything swapped in meanwhile stays.
    if (Find(kTarget) != looked_) return Failure(Result::kFailed);
    names_.erase(kOwnSibling);
    names_[kTarget] = sibling_;
    target_open_ = false;  // the old file, gone
    return {};
  }
  Status TakeFreeName() override {
    Step("TakeFreeName");
    if (row_.refusal == Refusal::kFreeName) return Failure(Result::kRefused);
    if (Find(kTarget)) return Failure(Result::kNameTaken);
    names_.erase(kOwnSibling);
    names_[kTarget] = sibling_;
    return {};
  }
  void Drop() noexcept override {
    if (sibling_ && Find(kOwnSibling) == sibling_) names_.erase(kOwnSibling);
    sibling_.reset();
    if (created_ && Find(kTarget) == created_) names_.erase(kTarget);
    target_open_ = false;
  }

  bool target_open() const { return target_open_; }

 private:
  // Another program puts a file under the target's name just before the row's step.
  void Step(const std::string& name) {
    if (name == row_.newcomer_at) {
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
  std::size_t Used() const {
    std::vector<const FakeFile*> files;
    for (const auto& [name, file] : names_) files.push_back(file.get());
    if (sibling_) files.push_back(sibling_.get());
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    std::size_t used = 0;
    for (const FakeFile* file : files) used += file->allocated();
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
      if (at >= file.allocated() && Used() + 1 > capacity_) return Failure(Result::kNoRoom);
      if (at >= file.bytes.size()) file.bytes.resize(at + 1);
      file.bytes[at] = bytes[i];
      file.dirty = true;
    }
    return {};
  }

  const Row& row_;
  const bool posix_;
  std::map<std::string, File>& names_;
  const std::size_t capacity_;
  File looked_;
  File target_;
  File created_;
  File sibling_;
  bool target_open_ = false;
};

std::string Describe(const ByteVector& bytes) {
  const auto all = [&](char c, std::size_t from) {
    return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(),
                       [c](std::uint8_t b) { return b == static_cast<std::uint8_t>(c); });
  };
  if (bytes == kNew) return "N";
  if (bytes == ByteVector{'s'}) return "S";
  if (!bytes.empty() && all('o', 0)) return "O";
  if (bytes.size() == 1000 && all('c', 0)) return "C";
  if (bytes.size() > kNew.size() && std::equal(kNew.begin(), kNew.end(), bytes.begin())) {
    if (all('o', kNew.size())) return "N+O";
    if (all('c', kNew.size())) return "N+C";
  }
  return "?" + std::to_string(bytes.size());
}

TEST(SavePolicyTest, DecisionTable) {
  using enum SaveRule;
  using enum Profiles;
  using enum Refusal;
  using enum Outcome;
  constexpr std::size_t kPlenty = 1 << 20;
  const Row rows[] = {
      // A new name: made whole, never over a newcomer.
      {"new file", kBoth, kReplaceWhole, "", kPlenty, kNone, "", "t=N", kCreated},
      {"new file, no room", kBoth, kReplaceWhole, "", 575, kNone, "", "", kThrows},
      {"new file, a crash's temporary left", kBoth, kReplaceWhole, "tmp", kPlenty, kNone, "", "t=N",
       kCreated},
      {"new file, its write failing midway", kBoth, kReplaceWhole, "", kPlenty, kSiblingWrite, "",
       "", kThrows},
      {"a target that appears during the save is never overwritten", kBoth, kReplaceWhole, "",
       kPlenty, kNone, "TakeFreeName", "t=C", kThrows},
      {"a name another program makes between the look and the create", kBoth, kReplaceWhole, "",
       kPlenty, kNone, "WriteSibling", "t=C", kThrows},
      {"new file where no name can be taken without replacing: created exclusively", kBoth,
       kReplaceWhole, "tmp", kPlenty, kFreeName, "", "t=N", kCreated},
      {"new file created exclusively, a name made before the create", kBoth, kReplaceWhole, "",
       kPlenty, kFreeName, "CreateTarget", "t=C", kThrows},
      {"new file in a folder that may not hold a sibling: created exclusively", kBoth,
       kReplaceWhole, "", kPlenty, kSiblingInFolder, "", "t=N", kCreated},
      {"new file created exclusively, no room: what it made is removed", kBoth, kReplaceWhole, "",
       575, kSiblingInFolder, "", "", kThrows},
      // Over a file: whole where a copy carries everything, else in place.
      {"one link: replaced whole", kBoth, kReplaceWhole, "t", kPlenty, kNone, "", "t=N", kReplaced},
      {"two links: in place", kBoth, kReplaceWhole, "t second", kPlenty, kNone, "", "second=N t=N",
       kInPlace},
      {"two links, a shorter old file", kBoth, kReplaceWhole, "t100 second", kPlenty, kNone, "",
       "second=N t=N", kInPlace},
      {"no room for a copy: in place", kBoth, kReplaceWhole, "t", 575, kNone, "", "t=N", kInPlace},
      {"in place on a full disk whose reservation fails: nothing changes", kBoth, kReplaceWhole,
       "t100 second", 200, kNone, "", "second=O t=O", kThrows},
      {"a file system that cannot reserve room", kBoth, kReplaceWhole, "t second", kPlenty,
       kReservation, "", "second=N t=N", kInPlace},
      {"a folder that may not hold a new file: in place", kBoth, kReplaceWhole, "t", kPlenty,
       kSiblingInFolder, "", "t=N", kInPlace},
      {"a crash's temporary removed before the save", kBoth, kReplaceWhole, "t tmp", kPlenty, kNone,
       "", "t=N", kReplaced},
      {"the copy's write failing midway", kBoth, kReplaceWhole, "t", kPlenty, kSiblingWrite, "",
       "t=O", kThrows},
      {"another file put under the name during the save stays", kBoth, kReplaceWhole, "t", kPlenty,
       kNone, "SwapIn", "t=C", kThrows},
      {"setgid file saved by a user outside its group: in place", kPosixOnly, kReplaceWhole, "t",
       kPlenty, kIdentity, "", "t=N", kInPlace},
      {"a folder that cannot be synced: in place", kPosixOnly, kReplaceWhole, "t", kPlenty,
       kFolderSync, "", "t=N", kInPlace},
      {"a rename the folder refuses (a bind mount): in place", kPosixOnly, kReplaceWhole, "t",
       kPlenty, kSwap, "", "t=N", kInPlace},
      {"the move failing: nothing changes", kWindowsOnly, kReplaceWhole, "t", kPlenty, kSwap, "",
       "t=O", kThrows},
      // The Bitfile's rule: the start overwritten in place, never truncated.
      {"over a longer file", kBoth, kOverwriteStart, "t", kPlenty, kNone, "", "t=N+O", kInPlace},
      {"over a longer file with two links", kBoth, kOverwriteStart, "t second", kPlenty, kNone, "",
       "second=N+O t=N+O", kInPlace},
      {"a new file", kBoth, kOverwriteStart, "", kPlenty, kNone, "", "t=N", kCreated},
      {"a name made between the look and the create is looked at again", kBoth, kOverwriteStart, "",
       kPlenty, kNone, "CreateTarget", "t=N+C", kCreated},
  };
  for (const Row& row : rows) {
    for (const Profile profile : {Profile::kPosix, Profile::kWindows}) {
      if (row.profiles == (profile == Profile::kPosix ? kWindowsOnly : kPosixOnly)) continue;
      SCOPED_TRACE(std::string(row.name) +
                   (profile == Profile::kPosix ? " (POSIX)" : " (Windows)"));
      std::map<std::string, File> names;
      std::size_t used = 0;
      std::istringstream before(row.before);
      for (std::string name; before >> name;) {
        if (name == "second") {
          names[name] = names[kTarget];
          continue;
        }
        const bool stale = name == kSibling;
        const std::size_t size = stale ? 1 : name == kTarget ? 1000 : std::stoul(name.substr(1));
        names[stale ? kSibling : kTarget] = std::make_shared<FakeFile>(
            FakeFile{ByteVector(size, stale ? 's' : 'o'), stale ? "stale" : kOldIdentity});
        used += size;
      }
      const File old = names.count(kTarget) ? names[kTarget] : nullptr;
      FakeSystem system(row, profile, names, used + row.room);
      bool threw = false;
      try {
        save::Save(system, kNew, row.rule);
      } catch (const std::system_error&) {
        threw = true;
      }
      EXPECT_EQ(threw, row.outcome == kThrows);
      std::string after;
      for (const auto& [name, file] : names) {
        after += (after.empty() ? "" : " ") + name + "=" + Describe(file->bytes);
      }
      EXPECT_EQ(after, row.after);
      if (old && *row.newcomer_at == '\0') {
        EXPECT_EQ(names[kTarget] == old, row.outcome != kReplaced) << "the same file";
      }
      if (threw || !names.count(kTarget)) continue;
      EXPECT_FALSE(system.target_open()) << "the target closed, its close checked";
      if (row.rule == kReplaceWhole) {
        EXPECT_FALSE(names[kTarget]->dirty) << "flushed before success";
        if (old) {
          EXPECT_EQ(names[kTarget]->identity, kOldIdentity);
        }
      }
    }
  }
}

// One scheme of temporary names on both systems: hidden, of one length whatever the name,
// found by a prefix that is one for every save of a file and another for another file, and
// each save's own past it, so that no other save can take it.
TEST(SavePolicyTest, SiblingNames) {
  const std::string names[] = {
      save::SiblingName<char>("a.bmp"),
      save::SiblingName<char>("b.bmp"),
      save::SiblingName<char>(std::string(250, 'x')),
      save::SiblingName<char>("Gr\xc3\xbc\xc3\x9f"
                              "e.bmp"),
      save::SiblingName<wchar_t>(L"a.bmp"),
      save::SiblingName<wchar_t>(std::wstring(250, L'x')),
      save::SiblingName<wchar_t>(L"Gr\u00fc\u00dfe.bmp"),
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(name.size(), 47U);
    EXPECT_TRUE(name.starts_with(".~dotloom-") && name.ends_with(".tmp"));
  }
  EXPECT_TRUE(names[0].starts_with(save::SiblingPrefix<char>("a.bmp")));
  EXPECT_FALSE(names[1].starts_with(save::SiblingPrefix<char>("a.bmp")));
  EXPECT_NE(names[0], save::SiblingName<char>("a.bmp")) << "each save its own";
  EXPECT_EQ(save::SiblingPrefix<char>("a.bmp"), save::SiblingPrefix<wchar_t>(L"a.bmp"))
      << "an ASCII name hashes alike in either width";
}

}  // namespace
}  // namespace dotloom
