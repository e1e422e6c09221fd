// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "commands/file_commands.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "commands/picture_files.h"
#include "image/bitfile_codec.h"
#include "tests/support/bmp_writer.h"
#include "tests/support/test_support.h"

namespace dotloom {
namespace {
namespace fs = std::filesystem;
using namespace testing;

void Open(Canvas& canvas, const std::optional<fs::path>& answer) {
  ScriptedDialog dialog({answer});
  RunOpenCommand(canvas, dialog);
  EXPECT_EQ(dialog.shown(), 1);
}

void SaveAs(const Canvas& canvas, const std::optional<fs::path>& answer) {
  ScriptedDialog dialog({answer});
  RunSaveAsCommand(canvas, dialog);
}

class FileCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_ / "old.bit", BitfileWith({{106, 0x20}}));  // pixel (10, 13)
    WriteGreyBmp(dir_ / "grey.bmp", 4, 4);
    WriteFile(dir_ / "junk.bmp", ByteVector(200, 'j'));
    canvas_.PSet(50, 50);
  }

  TempDir dir_;
  Canvas canvas_;
};

TEST_F(FileCommandsTest, OpenWithoutAPathChangesNothing) {
  canvas_.SetPicture(Picture(2, 2, kGrey));
  const Picture before = canvas_.Image();
  Open(canvas_, fs::path());
  Open(canvas_, std::nullopt);
  EXPECT_EQ(canvas_.Image(), before);
}

TEST_F(FileCommandsTest, CancelAfterASuccessfulOpenDoesNothing) {
  ScriptedDialog dialog(std::deque<std::optional<fs::path>>{dir_ / "old.bit", fs::path()});
  RunOpenCommand(canvas_, dialog);
  canvas_.PSet(0, 0);
  RunOpenCommand(canvas_, dialog);
  EXPECT_EQ(canvas_.Point(0, 0), kBlack) << "the cancelled open must not clear";
  EXPECT_EQ(canvas_.Point(10, 13), kBlack);
}

TEST_F(FileCommandsTest, OpenClearsForEveryChosenPathThenDrawsByKind) {
  struct Case {
    const char* name;
    bool bit_pixel;  // (10, 13) from old.bit
    bool bmp_pixel;  // (1, 1) from grey.bmp
  };
  for (const Case& c : {Case{"old.bit", true, false}, Case{"OLD.BIT-copy", false, false},
                        Case{"missing.bit", false, false}, Case{"photo.gif", false, false},
                        Case{"grey.bmp", false, true}, Case{"missing.bmp", false, false}}) {
    SCOPED_TRACE(c.name);
    Canvas canvas;
    canvas.PSet(50, 50);
    Open(canvas, dir_ / c.name);
    EXPECT_NE(canvas.Point(50, 50), kBlack) << "cleared";
    EXPECT_EQ(canvas.Point(10, 13) == kBlack, c.bit_pixel);
    EXPECT_EQ(canvas.Point(1, 1) == kBlack, c.bmp_pixel);
  }
}

TEST_F(FileCommandsTest, BitfileOpenedOverABmpLiesOnTopOfIt) {
  Open(canvas_, dir_ / "grey.bmp");
  Open(canvas_, dir_ / "old.bit");
  EXPECT_EQ(canvas_.Point(10, 13), kBlack);
  EXPECT_EQ(canvas_.Point(1, 1), kBlack);
  EXPECT_EQ(canvas_.Point(2, 2), kGrey);
  EXPECT_EQ(canvas_.Point(4, 4), canvas_.BackColor());
}

TEST_F(FileCommandsTest, NonPictureBmpClearsTheDrawingButKeepsThePicture) {
  Open(canvas_, dir_ / "grey.bmp");
  canvas_.PSet(30, 30);
  Open(canvas_, dir_ / "junk.bmp");
  EXPECT_EQ(canvas_.Point(30, 30), canvas_.BackColor());
  EXPECT_EQ(canvas_.Point(1, 1), kBlack);
  EXPECT_EQ(canvas_.Point(2, 2), kGrey);
}

// A Bitfile is written over the start of the file, never truncated: a longer file keeps
// its bytes from 576 on.
TEST_F(FileCommandsTest, SaveAsBitfileGivesBackTheOpenedFileOverTheStartOfAnyOther) {
  Open(canvas_, dir_ / "old.bit");
  const ByteVector old = ReadFile(dir_ / "old.bit");
  const ByteVector longer = BytePattern(1000, 7);
  for (const ByteVector& before : {ByteVector{}, ByteVector(10, 0xAA), longer}) {
    SCOPED_TRACE(before.size());
    if (!before.empty()) WriteFile(dir_ / "new.bit", before);
    SaveAs(canvas_, dir_ / "new.bit");
    ByteVector expected = old;
    if (before.size() > old.size())
      expected.insert(expected.end(), before.begin() + 576, before.end());
    EXPECT_EQ(ReadFile(dir_ / "new.bit"), expected);
    fs::remove(dir_ / "new.bit");
  }
}

TEST_F(FileCommandsTest, SaveAsWritesNothingForOtherKindsOrWithoutAPath) {
  SaveAs(canvas_, dir_ / "photo.png");
  SaveAs(canvas_, fs::path());
  SaveAs(canvas_, std::nullopt);
  EXPECT_FALSE(fs::exists(dir_ / "photo.png"));
}

TEST_F(FileCommandsTest, SaveAsBmpWritesTheWholeInteriorWithAllLayers) {
  const Canvas fresh(kGrey);
  SaveAs(fresh, dir_ / "fresh.bmp");
  EXPECT_EQ(LoadPicture(dir_ / "fresh.bmp", 1000, 1000), Picture(99, 52, kGrey));

  Open(canvas_, dir_ / "grey.bmp");
  Open(canvas_, dir_ / "old.bit");
  SaveAs(canvas_, dir_ / "both.bmp");
  EXPECT_EQ(LoadPicture(dir_ / "both.bmp", 1000, 1000), canvas_.Image());
}

// A name the file layer refuses, for each command: a folder here, as that layer's own test
// takes every such name. It fails as a missing file does (the canvas as opening a missing
// file leaves it), nothing changes, no descriptor stays open and the next command works.
TEST_F(FileCommandsTest, FailureMidwayLeavesNoFileOpenAndTheNextCommandWorks) {
  Open(canvas_, dir_ / "old.bit");
  Canvas missing = canvas_;
  Open(missing, dir_ / "missing.bmp");
  const int descriptors = OpenDescriptorCount();
  for (const char* name : {"folder.bit", "folder.bmp"}) {
    SCOPED_TRACE(name);
    fs::create_directory(dir_ / name);
    SaveAs(canvas_, dir_ / name);
    Open(canvas_, dir_ / name);
    EXPECT_EQ(BitfileCodec::Encode(canvas_), BitfileCodec::Encode(missing));
    EXPECT_EQ(canvas_.picture(), missing.picture());
    EXPECT_TRUE(fs::is_empty(dir_ / name));
  }
  EXPECT_EQ(OpenDescriptorCount(), descriptors);

  Open(canvas_, dir_ / "old.bit");
  SaveAs(canvas_, dir_ / "after.bit");
  EXPECT_EQ(ReadFile(dir_ / "after.bit"), ReadFile(dir_ / "old.bit"));
}

}  // namespace
}  // namespace dotloom
