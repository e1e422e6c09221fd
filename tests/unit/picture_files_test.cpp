// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "commands/picture_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "tests/support/bmp_writer.h"
#include "tests/support/test_support.h"

namespace dotloom {
namespace {
namespace fs = std::filesystem;
using testing::ByteVector;
using testing::TempDir;
using testing::WriteFile;

TEST(PictureFilesTest, SavedPictureLoadsBackExactly) {
  TempDir dir;
  Picture picture(99, 52, kWhite);
  picture.Set(0, 0, kBlack);
  picture.Set(98, 51, kBlack);
  picture.Set(5, 5, Rgb(1, 1, 1));
  picture.Set(6, 5, Rgb(0x12, 0x34, 0x56));
  SavePicture(picture, dir / "p.bmp");
  // Both builds write the same file: a 24-bit bottom-up BMP with a 40-byte header.
  const ByteVector header = {0x42, 0x4D, 0x26, 0x3D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x36,
                             0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00, 0x63, 0x00, 0x00, 0x00,
                             0x34, 0x00, 0x00, 0x00, 0x01, 0x00, 0x18, 0x00, 0x00, 0x00, 0x00,
                             0x00, 0xF0, 0x3C, 0x00, 0x00, 0x61, 0x0F, 0x00, 0x00, 0x61, 0x0F,
                             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  const ByteVector saved = testing::ReadFile(dir / "p.bmp");
  ASSERT_EQ(saved.size(), 15654U);
  EXPECT_EQ(ByteVector(saved.begin(), saved.begin() + 54), header);
  // The bottom row comes first: (0, 51) white, then (98, 51) black.
  EXPECT_EQ(ByteVector(saved.begin() + 54, saved.begin() + 57), ByteVector(3, 0xFF));
  EXPECT_EQ(ByteVector(saved.begin() + 54 + 3 * 98, saved.begin() + 54 + 3 * 99), ByteVector(3, 0));
  EXPECT_EQ(LoadPicture(dir / "p.bmp", 99, 52), picture);
  EXPECT_EQ(LoadPicture(dir / "p.bmp", 10, 100), picture.TopLeft(10, 52)) << "clipped on load";
}

TEST(PictureFilesTest, OnlyRegularBmpFilesLoad) {
  TempDir dir;
  WriteFile(dir / "png.bmp", testing::BlackPng());
  WriteFile(dir / "empty.bmp", {});
  WriteFile(dir / "text.bmp", ByteVector(64, 'a'));
  testing::BmpSpec spec;
  spec.width = 4;
  spec.height = 4;
  ByteVector truncated_header = testing::WriteBmp(spec, [](int, int) { return kBlack; });
  truncated_header.resize(20);
  WriteFile(dir / "header.bmp", truncated_header);
  fs::create_directory(dir / "folder.bmp");
  std::vector<fs::path> paths = {"png.bmp",    "empty.bmp",  "text.bmp",
                                 "header.bmp", "folder.bmp", "missing.bmp"};
#ifdef _WIN32
  // Device names, which Windows finds in every folder.
  paths.insert(paths.end(), {"CON.bmp", "NUL.bmp", "COM1.bmp", "LPT1.bmp", "AUX.bmp"});
#else
  ASSERT_EQ(::mkfifo((dir / "fifo.bmp").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", dir / "zero.bmp");
  paths.insert(paths.end(), {"fifo.bmp", "zero.bmp"});
#endif
  const int descriptors = testing::OpenDescriptorCount();
  for (const fs::path& name : paths) {
    EXPECT_ANY_THROW(LoadPicture(dir.path() / name, 99, 52)) << name;
  }
  EXPECT_EQ(testing::OpenDescriptorCount(), descriptors);
}

TEST(PictureFilesTest, NamesThatAreNotAsciiWork) {
  TempDir dir;
  const fs::path name = dir.path() / fs::path(u8"Grüße aus Köln.bmp");
  SavePicture(Picture(3, 3, kBlack), name);
  EXPECT_EQ(LoadPicture(name, 99, 52), Picture(3, 3, kBlack));
}

}  // namespace
}  // namespace dotloom
