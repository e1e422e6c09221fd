// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// Every file command under injected faults: failing system calls (through the preloaded
// shim), hostile paths, file size limits and missing permissions. Each case runs the
// command in a forked child of this program and then checks, from outside, what it left.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "commands/file_commands.h"
#include "files/save_file.h"
#include "image/bitfile_codec.h"
#include "tests/faults/fault_plan.h"
#include "tests/support/bmp_writer.h"
#include "tests/support/test_support.h"

namespace dotloom {
namespace {
namespace fs = std::filesystem;
using namespace testing;

// One file command, run in this process (a forked child): VERB PATH [--fsize BYTES]
// [--as-nobody] [--repeat N]. It prints one "key value" per line: the calls the command made
// per class and in order, the descriptors open before and after, the canvas afterwards (its
// 576 Bitfile bytes and its picture), and whether a following Save As and Open worked, and
// returns 0 unless it found a fault itself: a descriptor left open, a heap that grew over
// repeats, or a next command that did not work.
template <typename Function>
Function Lookup(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_DEFAULT, name));
}

std::string Hex(const BitfileCodec::Bytes& bytes) {
  std::string out;
  char digits[3];
  for (const std::uint8_t byte : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", byte);
    out += digits;
  }
  return out;
}

std::uint64_t Hash(const Picture& picture) {
  std::uint64_t hash = 1469598103934665603ULL;
  for (const Colour colour : picture.pixels()) hash = (hash ^ colour) * 1099511628211ULL;
  return hash;
}

// A fresh folder for the next command, made by whoever the process now runs as.
bool NextCommandWorks(const Canvas& canvas) {
  const TempDir folder("/tmp");
  const fs::path bit = folder / "next.bit";
  const fs::path bmp = folder / "next.bmp";
  ScriptedDialog save_bit(bit);
  ScriptedDialog save_bmp(bmp);
  ScriptedDialog open_bmp(bmp);
  RunSaveAsCommand(canvas, save_bit);
  RunSaveAsCommand(canvas, save_bmp);
  const BitfileCodec::Bytes expected = BitfileCodec::Encode(canvas);
  const std::vector<std::uint8_t> written = ReadFile(bit);
  bool ok = written == std::vector<std::uint8_t>(expected.begin(), expected.end());
  Canvas reopened;
  RunOpenCommand(reopened, open_bmp);
  return ok && reopened.picture() == canvas.Image();
}

int RunCommand(const std::vector<std::string>& argv) {
  const std::string command = argv.at(0);
  const fs::path path = argv.at(1);
  long repeat = 1;
  std::optional<FileSizeLimit> fsize;
  for (std::size_t i = 2; i < argv.size(); ++i) {
    const std::string option = argv[i];
    if (option == "--fsize" && i + 1 < argv.size()) {
      // Lifted again for the next command.
      fsize.emplace(std::stoull(argv.at(++i)));
    } else if (option == "--as-nobody") {
      if (::geteuid() == 0 && !BecomeNobody()) return 3;
    } else if (option == "--repeat" && i + 1 < argv.size()) {
      repeat = std::stol(argv.at(++i));
    }
  }

  const auto arm = Lookup<void (*)(int)>("dotloom_fault_arm");
  const auto count = Lookup<long (*)(const char*)>("dotloom_fault_count");
  const auto record = Lookup<const char* (*)()>("dotloom_fault_record");
  const auto heap_live = Lookup<long (*)()>("dotloom_heap_live");

  // A canvas with a picture and a drawing, so that what a failure keeps can be told apart.
  Canvas canvas;
  Picture picture(20, 10, Rgb(0x40, 0x80, 0xC0));
  picture.Set(3, 4, kBlack);
  canvas.SetPicture(picture);
  BitfileCodec::Bytes drawing{};
  const ByteVector pattern = BytePattern(drawing.size(), 7);
  std::copy(pattern.begin(), pattern.end(), drawing.begin());
  BitfileCodec::Decode(drawing, canvas);

  const int descriptors_before = OpenDescriptorCount();
  long heap_after_warm_up = 0;
  if (arm != nullptr) arm(1);
  for (long i = 0; i < repeat; ++i) {
    if (i == 100 && heap_live != nullptr) heap_after_warm_up = heap_live();
    ScriptedDialog dialog(path);
    if (command == "open") {
      RunOpenCommand(canvas, dialog);
    } else {
      RunSaveAsCommand(canvas, dialog);
    }
  }
  const long heap_at_end = heap_live != nullptr ? heap_live() : 0;
  if (arm != nullptr) arm(0);
  const int descriptors_after = OpenDescriptorCount();

  int faults = 0;
  if (count != nullptr) {
    std::printf("calls");
    for (const char* name : kFaultClasses) std::printf(" %s=%ld", name, count(name));
    std::printf("\n");
  }
  if (record != nullptr) std::printf("record %s\n", record());
  std::printf("descriptors %d %d\n", descriptors_before, descriptors_after);
  if (descriptors_after != descriptors_before) ++faults;
  if (repeat > 100 && heap_live != nullptr) {
    const long growth = heap_at_end - heap_after_warm_up;
    std::printf("heap_growth %ld\n", growth);
    if (growth > 4096) ++faults;
  }
  std::printf("canvas %s\n", Hex(BitfileCodec::Encode(canvas)).c_str());
  std::printf("picture %dx%d %llx\n", canvas.picture().width(), canvas.picture().height(),
              static_cast<unsigned long long>(Hash(canvas.picture())));
  fsize.reset();
  const bool next = NextCommandWorks(canvas);
  std::printf("next %s\n", next ? "ok" : "failed");
  if (!next) ++faults;
  std::fflush(stdout);
  return faults == 0 ? 0 : 1;
}

struct Outcome {
  int status = -1;  // the exit code, or -1 when the command's child did not exit normally
  std::map<std::string, std::string> values;
  std::string output;
  std::string Get(const std::string& key) const {
    const auto found = values.find(key);
    return found == values.end() ? std::string() : found->second;
  }
};

// Runs a command in a child of this program, which runs with the shim preloaded, under the
// given fault (DOTLOOM_FAULT_* entries).
Outcome Drive(const std::vector<std::string>& arguments,
              const std::vector<std::string>& environment = {}) {
  std::fflush(stdout);  // nothing of this process's own output goes to the child's
  const ChildOutcome child = RunInChild([&] {
    for (const std::string& entry : environment) {
      const auto equals = entry.find('=');
      ::setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
    }
    const auto reconfigure = Lookup<void (*)()>("dotloom_fault_reconfigure");
    if (reconfigure != nullptr) reconfigure();
    return RunCommand(arguments);
  });
  Outcome outcome;
  outcome.status = child.status;
  outcome.output = child.output;
  std::istringstream lines(outcome.output);
  std::string line;
  while (std::getline(lines, line)) {
    const auto space = line.find(' ');
    if (space != std::string::npos) outcome.values[line.substr(0, space)] = line.substr(space + 1);
  }
  return outcome;
}

// The environment that makes the shim fail the nth call of a class in the given way.
std::vector<std::string> Fault(const std::string& call, int nth, const std::string& kind) {
  return {"DOTLOOM_FAULT_CLASS=" + call, "DOTLOOM_FAULT_NTH=" + std::to_string(nth),
          "DOTLOOM_FAULT_KIND=" + kind};
}

// "open=1 read=2 ..." as numbers per class.
std::map<std::string, int> Calls(const Outcome& outcome) {
  std::map<std::string, int> calls;
  std::istringstream words(outcome.Get("calls"));
  std::string word;
  while (words >> word) {
    const auto equals = word.find('=');
    calls[word.substr(0, equals)] = std::stoi(word.substr(equals + 1));
  }
  return calls;
}

ByteVector SmallBmp() {
  BmpForm form;
  form.width = 30;
  form.height = 20;
  form.bits = 8;
  form.palette = {kBlack, kWhite, Rgb(1, 1, 1), Rgb(200, 10, 10)};
  form.colours_used = 4;
  return WriteBmp(form, [](int x, int y) { return static_cast<std::uint32_t>((x * y + x) % 4); });
}

// True when after is before with some prefix of written laid over it, as a Bitfile save
// that failed midway leaves it: bytes already written stay written, nothing else changes.
bool PrefixOver(const ByteVector& after, const ByteVector& written, const ByteVector& before) {
  for (std::size_t m = 0; m <= written.size(); ++m) {
    ByteVector expected = before;
    if (expected.size() < m) expected.resize(m);
    std::copy_n(written.begin(), m, expected.begin());
    if (after == expected) return true;
  }
  return false;
}

// True when every write of a run is synced before its file is renamed or linked into place,
// and before the command ends: a save that counts as done must survive a power loss.
bool WritesSyncedBeforePlaced(const std::string& record) {
  std::istringstream calls(record);
  bool unsynced = false;
  std::string call;
  while (calls >> call) {
    if (call == "write") unsynced = true;
    if (call == "fsync") unsynced = false;
    if (call == "rename" && unsynced) return false;
  }
  return !unsynced;
}

class FaultInjectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Lookup<void (*)(int)>("dotloom_fault_arm") == nullptr) {
      GTEST_SKIP() << "needs the fault shim preloaded (LD_PRELOAD), as CTest runs it";
    }
    fs::permissions(dir_.path(),
                    fs::perms::all & ~fs::perms::others_write & ~fs::perms::group_write);
  }

  // Lays out the files every case starts from, removing what an earlier case left.
  void Reset() {
    for (const auto& entry : fs::directory_iterator(dir_.path())) fs::remove_all(entry.path());
    WriteFile(dir_ / "in.bit", BytePattern(576, 13, 1));
    WriteFile(dir_ / "in.bmp", SmallBmp());
    WriteFile(dir_ / "out.bit", old_bit_);
    WriteFile(dir_ / "out.bmp", old_bmp_);
  }

  std::string At(const fs::path& name) const { return (dir_ / name).string(); }

  TempDir dir_;
  const ByteVector old_bit_ = BytePattern(1000, 13, 5);
  const ByteVector old_bmp_ = ByteVector{'o', 'l', 'd'};
};

struct Command {
  const char* verb;
  const char* file;
};
constexpr Command kCommands[] = {
    {"open", "in.bit"}, {"open", "in.bmp"}, {"save", "out.bit"}, {"save", "out.bmp"}};

TEST_F(FaultInjectionTest, EveryFailingCallOfEveryCommandLeavesAConsistentState) {
  std::vector<Command> commands(std::begin(kCommands), std::end(kCommands));
  commands.push_back({"save", "new.bit"});  // saves to names that do not exist yet
  commands.push_back({"save", "new.bmp"});
  for (const Command& command : commands) {
    SCOPED_TRACE(std::string(command.verb) + " " + command.file);
    const bool fresh = std::string(command.file).starts_with("new");
    const bool save = std::string(command.verb) == "save";
    const bool bitfile = std::string(command.file).ends_with(".bit");
    // What success and failure look like, from a run without faults and one on a missing file.
    Reset();
    const Outcome clean = Drive({command.verb, At(command.file)});
    ASSERT_EQ(clean.status, 0) << clean.output;
    const ByteVector written = ReadFile(dir_ / command.file);
    const Outcome missing = Drive({"open", At("missing.bmp")});
    ASSERT_EQ(missing.status, 0) << missing.output;
    const std::map<std::string, int> calls = Calls(clean);
    EXPECT_GT(calls.at("open"), 0);
    if (save && !bitfile) {
      EXPECT_TRUE(WritesSyncedBeforePlaced(clean.Get("record"))) << clean.output;
    }

    for (const auto& [name, count] : calls) {
      for (int k = 1; k <= count; ++k) {
        for (const char* kind : kFaultKinds) {
          // Only reads and writes can come up short, and only reads can find an early end.
          if (std::string(kind) == "SHORT" && name != "read" && name != "write") continue;
          if (std::string(kind) == "EOF" && name != "read") continue;
          SCOPED_TRACE(name + " #" + std::to_string(k) + " " + kind);
          Reset();
          const Outcome run = Drive({command.verb, At(command.file)}, Fault(name, k, kind));
          ASSERT_EQ(run.status, 0) << run.output;  // no crash, no descriptor left, next works
          // Short transfers are carried on: they must not change the outcome. A file
          // that ends early is read as far as it goes; a BMP is then refused as a whole.
          const bool harmless = std::string(kind) == "SHORT";
          if (!save) {
            const bool succeeded = run.Get("canvas") == clean.Get("canvas") &&
                                   run.Get("picture") == clean.Get("picture");
            const bool failed = run.Get("picture") == missing.Get("picture") &&
                                run.Get("canvas") == missing.Get("canvas");
            EXPECT_TRUE(succeeded || (!harmless && failed)) << run.output;
          } else if (bitfile) {
            const ByteVector after = ReadFile(dir_ / command.file);
            if (harmless) {
              EXPECT_EQ(after, written);
            } else {
              EXPECT_TRUE(PrefixOver(after, ByteVector(written.begin(), written.begin() + 576),
                                     fresh ? ByteVector{} : old_bit_));
            }
          } else {
            const bool exists = fs::exists(dir_ / command.file);
            const ByteVector after = ReadFile(dir_ / command.file);
            const ByteVector& before = fresh ? ByteVector{} : old_bmp_;
            EXPECT_TRUE(after == written || (!harmless && (fresh ? !exists : after == before)));
            EXPECT_EQ(EntriesIn(dir_.path()), 4 + (fresh && exists ? 1 : 0))
                << "no temporary file is left";
          }
        }
      }
    }
  }
}

// Saves past RLIMIT_FSIZE (SIGXFSZ ignored, as the driver does): a Bitfile keeps exactly the
// bytes below the limit, a BMP is all or nothing and leaves nothing beside it.
TEST_F(FaultInjectionTest, FileSizeLimitsKeepTheSaveRules) {
  Reset();
  const Outcome clean_bit = Drive({"save", At("fresh.bit")});
  const Outcome clean_bmp = Drive({"save", At("fresh.bmp")});
  const ByteVector bit = ReadFile(dir_ / "fresh.bit");
  const ByteVector bmp = ReadFile(dir_ / "fresh.bmp");
  for (const int limit : {0, 1, 100, 575, 577, 4096, 15000}) {
    SCOPED_TRACE(limit);
    Reset();
    for (const char* name : {"out.bit", "out.bmp", "new.bit", "new.bmp"}) {
      const Outcome run = Drive({"save", At(name), "--fsize", std::to_string(limit)});
      ASSERT_EQ(run.status, 0) << run.output;
    }
    // Reading is not limited: both opens still draw what their files hold.
    for (const char* name : {"in.bit", "in.bmp"}) {
      const Outcome run = Drive({"open", At(name), "--fsize", std::to_string(limit)});
      ASSERT_EQ(run.status, 0) << run.output;
      EXPECT_EQ(run.Get("canvas"), Drive({"open", At(name)}).Get("canvas"));
    }
    // A Bitfile keeps exactly the bytes below the limit, over the old file or alone.
    const auto kept = static_cast<std::ptrdiff_t>(std::min(576, limit));
    ByteVector out_bit = old_bit_;
    std::copy(bit.begin(), bit.begin() + kept, out_bit.begin());
    EXPECT_EQ(ReadFile(dir_ / "out.bit"), out_bit);
    EXPECT_EQ(ReadFile(dir_ / "new.bit"), ByteVector(bit.begin(), bit.begin() + kept));
    EXPECT_EQ(ReadFile(dir_ / "out.bmp"),
              static_cast<std::size_t>(limit) >= bmp.size() ? bmp : old_bmp_);
    EXPECT_EQ(fs::exists(dir_ / "new.bmp"), static_cast<std::size_t>(limit) >= bmp.size());
    EXPECT_EQ(EntriesIn(dir_.path()), fs::exists(dir_ / "new.bmp") ? 6 : 5);
  }
}

// Files and folders the user may not read or write. As root, the driver drops to nobody.
TEST_F(FaultInjectionTest, MissingPermissionsFailCleanly) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
  Reset();
  const fs::perms mine = fs::perms::owner_read | fs::perms::owner_write;
  for (const char* name : {"in.bit", "in.bmp"}) fs::permissions(dir_ / name, mine);
  for (const char* name : {"out.bit", "out.bmp"}) {
    fs::permissions(dir_ / name, mine | fs::perms::group_read | fs::perms::others_read);
  }
  const Outcome missing = Drive({"open", At("missing.bmp")});
  for (const Command& command : kCommands) {
    const Outcome run = Drive({command.verb, At(command.file), "--as-nobody"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.Get("picture"), missing.Get("picture"));
  }
  for (const char* name : {"new.bit", "new.bmp"}) {
    ASSERT_EQ(Drive({"save", At(name), "--as-nobody"}).status, 0);
  }
  EXPECT_EQ(ReadFile(dir_ / "out.bit"), old_bit_);
  EXPECT_EQ(ReadFile(dir_ / "out.bmp"), old_bmp_);
  EXPECT_EQ(EntriesIn(dir_.path()), 4);
}

// A BMP save killed at each step, or failing with a temporary file that has a name: the old
// file stays whole until the rename, and at most one file is left beside it, named for what
// it is. Without O_TMPFILE the new contents have a name from the start.
TEST_F(FaultInjectionTest, SavesKilledOrFailingMidwayLeaveNoDebris) {
  Reset();
  const Outcome clean = Drive({"save", At("fresh.bmp")});
  ASSERT_EQ(clean.status, 0) << clean.output;
  const ByteVector written = ReadFile(dir_ / "fresh.bmp");
  const std::string no_tmpfile = "DOTLOOM_FAULT_NO_TMPFILE=1";
  struct Case {
    const char* file;
    const char* call;  // the class and number of the call it stops at
    int nth;
    const char* kind;
    bool unnamed;  // O_TMPFILE allowed
    bool saved;    // the file holds the new picture afterwards
    int debris;    // files that may be left beside it
  };
  const Case cases[] = {
      {"out.bmp", "write", 1, "KILL", true, false, 0},   // writing the unnamed file
      {"out.bmp", "fsync", 1, "KILL", true, false, 0},   // written, not yet named
      {"out.bmp", "rename", 1, "KILL", true, false, 0},  // about to name it
      {"out.bmp", "rename", 2, "KILL", true, false, 1},  // named, about to rename
      {"out.bmp", "fsync", 2, "KILL", true, true, 0},    // renamed, folder not yet synced
      {"new.bmp", "rename", 1, "KILL", true, false, 0},  // about to link the new name
      {"out.bmp", "write", 1, "KILL", false, false, 1},
      {"out.bmp", "rename", 1, "KILL", false, false, 1},
      {"out.bmp", "write", 1, "EIO", false, false, 0},
      {"out.bmp", "fsync", 1, "EIO", false, false, 0},
      {"out.bmp", "rename", 1, "EIO", false, false, 0},
      {"new.bmp", "write", 1, "EIO", false, false, 0},
      {"new.bmp", "rename", 1, "KILL", false, false, 1},
      {"new.bmp", "rename", 1, "EIO", false, false, 0},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(std::string(row.file) + " " + row.call + " #" + std::to_string(row.nth) + " " +
                 row.kind + (row.unnamed ? "" : ", named"));
    Reset();
    std::vector<std::string> environment = Fault(row.call, row.nth, row.kind);
    if (!row.unnamed) environment.push_back(no_tmpfile);
    const Outcome run = Drive({"save", At(row.file)}, environment);
    EXPECT_EQ(run.status, std::string(row.kind) == "KILL" ? -1 : 0) << run.output;
    const bool fresh = std::string(row.file) == "new.bmp";
    if (row.saved) {
      EXPECT_EQ(ReadFile(dir_ / row.file), written);
    } else if (fresh) {
      EXPECT_FALSE(fs::exists(dir_ / row.file));
    } else {
      EXPECT_EQ(ReadFile(dir_ / row.file), old_bmp_);
    }
    int debris = 0;
    for (const auto& entry : fs::directory_iterator(dir_.path())) {
      const std::string name = entry.path().filename().string();
      if (name == "in.bit" || name == "in.bmp" || name == "out.bit" || name == "out.bmp" ||
          name == row.file) {
        continue;
      }
      ++debris;
      EXPECT_TRUE(name.starts_with(".~dotloom-") && name.ends_with(".tmp")) << name;
    }
    EXPECT_LE(debris, row.debris);
  }
  // The next save of the file goes on as if nothing had happened, and removes what was left.
  for (const bool unnamed : {true, false}) {
    Reset();
    std::vector<std::string> environment =
        unnamed ? Fault("rename", 2, "KILL") : Fault("write", 1, "KILL");
    if (!unnamed) environment.push_back(no_tmpfile);
    EXPECT_EQ(Drive({"save", At("out.bmp")}, environment).status, -1);
    ASSERT_EQ(EntriesIn(dir_.path()), 5);
    const Outcome next = Drive({"save", At("out.bmp")},
                               unnamed ? std::vector<std::string>{} : std::vector{no_tmpfile});
    EXPECT_EQ(next.status, 0) << next.output;
    EXPECT_EQ(ReadFile(dir_ / "out.bmp"), written);
    EXPECT_EQ(EntriesIn(dir_.path()), 4) << "what the killed save left is gone";
  }
}

// A thousand failing commands in one process leave the descriptors and the heap as they were.
TEST_F(FaultInjectionTest, AThousandFailuresLeaveNoTrace) {
  Reset();
  fs::create_directory(dir_ / "folder.bit");
  std::vector<std::vector<std::string>> runs = {
      {"open", At("missing.bmp")},
      {"open", At("folder.bit")},
      {"save", At(fs::path("no") / "x.bit")},
  };
  if (!PrivateDevice(dir_.path(), "full", "full").empty()) {
    fs::create_symlink("full", dir_ / "full.bmp");
    runs.push_back({"save", At("full.bmp")});
  }
  for (std::vector<std::string> args : runs) {
    args.insert(args.end(), {"--repeat", "1000"});
    const Outcome run = Drive(args);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.Get("heap_growth"), "0") << run.output;
  }
  // And through the shim: every write fails.
  for (const char* name : {"out.bit", "out.bmp"}) {
    const Outcome run = Drive({"save", At(name), "--repeat", "1000"},
                              {"DOTLOOM_FAULT_CLASS=write", "DOTLOOM_FAULT_NTH=1",
                               "DOTLOOM_FAULT_EVERY=1", "DOTLOOM_FAULT_KIND=ENOSPC"});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.Get("heap_growth"), "0") << run.output;
  }
  EXPECT_EQ(ReadFile(dir_ / "out.bmp"), old_bmp_);
}

// Two saves of one file at once, each in a loop, on a file system without unnamed files
// (the shim refuses O_TMPFILE, as FAT, NFSv3 and CIFS do): neither takes over or removes the
// other's sibling, so reads beside them only ever find one whole file or another.
TEST(SaveRaceTest, TwoSavesAtOnceNeverShowAPartialFile) {
  if (Lookup<void (*)(int)>("dotloom_fault_arm") == nullptr) GTEST_SKIP() << "needs the shim";
  TempDir dir;
  const fs::path target = dir / "t.bmp";
  const ByteVector old_bytes(3000, 'a');
  WriteFile(target, old_bytes);
  const fs::path stop = dir / "stop";
  std::vector<pid_t> savers;
  for (const auto& [byte, size] : {std::pair{'b', 2000}, std::pair{'c', 4000}}) {
    std::fflush(stdout);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {  // a saver, until the reads are done: exits 0 when a save of its worked
      ::setenv("DOTLOOM_FAULT_NO_TMPFILE", "1", 1);
      const ByteVector bytes(static_cast<std::size_t>(size), static_cast<std::uint8_t>(byte));
      bool saved = false;
      while (!fs::exists(stop)) {
        try {
          SaveFile(target, bytes, SaveRule::kReplaceWhole);
          saved = true;
        } catch (const std::system_error&) {
          // Found changed by the other save: nothing written, and the next one goes on.
        }
      }
      ::_exit(saved ? 0 : 1);
    }
    savers.push_back(pid);
  }
  std::map<char, int> seen;
  int partial = 0;
  constexpr int kReads = 20000;
  for (int i = 0; i < kReads; ++i) {
    const ByteVector bytes = ReadFile(target);
    const char first = bytes.empty() ? '?' : static_cast<char>(bytes[0]);
    const std::size_t size = first == 'a' ? 3000 : first == 'b' ? 2000 : 4000;
    if (bytes == ByteVector(size, static_cast<std::uint8_t>(first))) {
      ++seen[first];
    } else {
      ++partial;
    }
  }
  WriteFile(stop, {});
  for (const pid_t pid : savers) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "each saver saved";
  }
  EXPECT_EQ(partial, 0) << "of " << kReads << " reads";
  EXPECT_GT(seen['b'] + seen['c'], 0) << "the saves went on beside the reads";
  EXPECT_EQ(EntriesIn(dir.path()), 2) << "the file and the stop mark";
}

// A device node another program makes under the new name just before each call of a save
// (after it looked and found the name free): the save never opens it, never replaces it, and
// never reports success over it. A Bitfile is created exclusively; a BMP takes its name by
// linking or by a rename that never replaces, with O_TMPFILE and without.
TEST(SaveRaceTest, ANameMadeDuringASaveIsNeverOpenedOrReplaced) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a private device node";
  if (Lookup<void (*)(int)>("dotloom_fault_arm") == nullptr) GTEST_SKIP() << "needs the shim";
  for (const auto& [name, unnamed] :
       {std::pair{"new.bit", true}, std::pair{"new.bmp", true}, std::pair{"new.bmp", false}}) {
    for (const char* call : {"open", "rename"}) {
      int made = 0;
      for (int nth = 1; nth <= 8; ++nth) {
        SCOPED_TRACE(std::string(name) + (unnamed ? "" : " named") + ", before " + call + " #" +
                     std::to_string(nth));
        TempDir dir;
        const fs::path target = dir / name;
        const std::string report = InChild([&] {
          ::setenv("DOTLOOM_FAULT_CLASS", call, 1);
          ::setenv("DOTLOOM_FAULT_NTH", std::to_string(nth).c_str(), 1);
          ::setenv("DOTLOOM_FAULT_KIND", "NODE", 1);
          ::setenv("DOTLOOM_FAULT_NODE", target.c_str(), 1);
          if (!unnamed) ::setenv("DOTLOOM_FAULT_NO_TMPFILE", "1", 1);
          Lookup<void (*)()>("dotloom_fault_reconfigure")();
          Lookup<void (*)(int)>("dotloom_fault_arm")(1);
          bool saved = true;
          try {
            SaveFile(
                target, ByteVector(100, 'n'),
                target.extension() == ".bit" ? SaveRule::kOverwriteStart : SaveRule::kReplaceWhole);
          } catch (const std::system_error&) {
            saved = false;
          }
          return "made " + std::to_string(Lookup<int (*)()>("dotloom_fault_node_made")()) +
                 " saved " + std::to_string(saved ? 1 : 0) + "\n";
        });
        if (report.starts_with("made 1")) {
          ++made;
          EXPECT_EQ(report, "made 1 saved 0\n");
          EXPECT_TRUE(fs::is_character_file(target)) << "the newcomer is still there";
        } else {
          EXPECT_EQ(report, "made 0 saved 1\n");
          EXPECT_EQ(ReadFile(target), ByteVector(100, 'n'));
        }
        EXPECT_EQ(EntriesIn(dir.path()), 1) << "nothing beside it";
      }
      if (std::string(call) == "open" || std::string(name) == "new.bmp") {  // a Bitfile: no renames
        EXPECT_GT(made, 0) << name << ": a node was made during the save, not only after it";
      }
    }
  }
}

}  // namespace
}  // namespace dotloom
