// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// Every file command under injected faults: failing system calls (through the preloaded
// shim), hostile paths, file size limits and missing permissions. Each case runs the
// command in a fresh fault_driver process and then checks, from outside, what it left.
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
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/faults/fault_plan.h"
#include "tests/support/bmp_writer.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace dotloom {
namespace {
namespace fs = std::filesystem;
using namespace testing;

struct Outcome {
  int status = -1;  // the exit code, or -1 when the driver did not exit normally
  std::map<std::string, std::string> values;
  std::string output;
  std::string Get(const std::string& key) const {
    const auto found = values.find(key);
    return found == values.end() ? std::string() : found->second;
  }
};

// Runs the driver with the shim preloaded and the given extra environment.
Outcome Drive(const std::vector<std::string>& arguments,
              const std::vector<std::string>& environment = {}) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (text.rfind("DOTLOOM_FAULT_", 0) != 0 && text.rfind("LD_PRELOAD=", 0) != 0) {
      env.push_back(text);
    }
  }
  env.push_back(std::string("LD_PRELOAD=") + DOTLOOM_FAULT_SHIM);
  env.push_back("QT_QPA_PLATFORM=offscreen");
  env.insert(env.end(), environment.begin(), environment.end());
  std::vector<std::string> argv = {DOTLOOM_FAULT_DRIVER};
  argv.insert(argv.end(), arguments.begin(), arguments.end());

  const ChildOutcome child = RunInChild([&] {
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    ::execve(args[0], args.data(), envp.data());
    return 127;
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

// False when the system cannot start the driver because it is a foreign program: a cross
// build's tests run under an emulator, and the driver they start needs the kernel to hand
// such programs to the emulator itself (binfmt_misc). The driver, given no command, only
// prints its usage, here to nowhere, and exits with 2.
bool DriverStarts() {
  constexpr int kForeign = 3;
  static const bool starts = [] {
    const ChildOutcome child = RunInChild([] {
      std::string driver = DOTLOOM_FAULT_DRIVER;
      char* argv[] = {driver.data(), nullptr};
      ::close(STDERR_FILENO);
      ::execve(argv[0], argv, environ);
      return errno == ENOEXEC ? kForeign : 127;
    });
    return child.status != kForeign;
  }();
  return starts;
}

class FaultInjectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DriverStarts()) {
      GTEST_SKIP() << "the system cannot run the cross-built fault driver: register the "
                      "emulator with binfmt_misc (scripts/build-arm64.sh does)";
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
  int cases = 0;
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
          ++cases;
          ASSERT_EQ(run.status, 0) << run.output;  // no crash, no descriptor left, next works
          // EINTR and short transfers are retried: they must not change the outcome. A file
          // that ends early is read as far as it goes; a BMP is then refused as a whole.
          const bool harmless = std::string(kind) == "EINTR" || std::string(kind) == "SHORT";
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
  std::printf("fault cases run: %d\n", cases);
  EXPECT_GT(cases, 40);
}

// Names that cannot be opened or written, each for every command: nothing changes, no
// descriptor stays open and the next command works.
TEST_F(FaultInjectionTest, HostilePathsFailCleanly) {
  int cases = 0;
  for (const char* ending : {"bit", "bmp"}) {
    SCOPED_TRACE(ending);
    Reset();
    const HostilePaths hostile(dir_.path(), ending);
    const Outcome missing = Drive({"open", At("missing.bmp")});
    for (const HostilePath& row : hostile) {
      for (const char* verb : {"open", "save"}) {
        SCOPED_TRACE(std::string(verb) + " " + row.what);
        const Outcome run = Drive({verb, row.path.string()});
        ++cases;
        ASSERT_EQ(run.status, 0) << run.output;
        if (std::string(verb) == "open") {
          EXPECT_EQ(run.Get("canvas"), missing.Get("canvas"));
        }
        EXPECT_EQ(run.Get("picture"), missing.Get("picture"));
      }
    }
    for (const fs::path& device : hostile.devices()) {
      EXPECT_TRUE(fs::is_character_file(device)) << "a device must never be replaced";
    }
    EXPECT_EQ(ReadFile(dir_ / (std::string("file.") + ending)), ByteVector{1});
  }
  std::printf("hostile path cases run: %d\n", cases);
}

// Saves past RLIMIT_FSIZE (SIGXFSZ ignored, as the driver does): a Bitfile keeps the
// bytes written before the limit, a BMP is all or nothing.
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
    EXPECT_TRUE(PrefixOver(ReadFile(dir_ / "out.bit"), bit, old_bit_));
    const ByteVector new_bit = ReadFile(dir_ / "new.bit");
    const auto kept = static_cast<std::ptrdiff_t>(std::min(576, limit));
    EXPECT_EQ(new_bit, ByteVector(bit.begin(), bit.begin() + kept));
    const ByteVector out_bmp = ReadFile(dir_ / "out.bmp");
    EXPECT_TRUE(out_bmp == old_bmp_ || out_bmp == bmp);
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

}  // namespace
}  // namespace dotloom
