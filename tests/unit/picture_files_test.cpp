// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "commands/picture_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <filesystem>

#include "tests/support/test_support.h"

namespace dotloom {
namespace {
namespace fs = std::filesystem;
using testing::ByteVector;
using testing::TempDir;
using testing::WriteFile;

ByteVector Encoded(const QImage& image, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, format));
  return {bytes.begin(), bytes.end()};
}

TEST(PictureFilesTest, SavedPictureLoadsBackExactly) {
  TempDir dir;
  Picture picture(99, 52, kWhite);
  picture.Set(0, 0, kBlack);
  picture.Set(98, 51, kBlack);
  picture.Set(5, 5, Rgb(1, 1, 1));
  picture.Set(6, 5, Rgb(0x12, 0x34, 0x56));
  SavePicture(picture, dir / "p.bmp");
  EXPECT_EQ(LoadPicture(dir / "p.bmp", 99, 52), picture);
  EXPECT_EQ(LoadPicture(dir / "p.bmp", 10, 100), picture.TopLeft(10, 52)) << "clipped on load";
}

TEST(PictureFilesTest, OnlyRegularBmpFilesLoad) {
  TempDir dir;
  QImage image(4, 4, QImage::Format_RGB32);
  image.fill(Qt::black);
  WriteFile(dir / "png.bmp", Encoded(image, "PNG"));
  WriteFile(dir / "empty.bmp", {});
  WriteFile(dir / "text.bmp", ByteVector(64, 'a'));
  ByteVector truncated_header = Encoded(image, "BMP");
  truncated_header.resize(20);
  WriteFile(dir / "header.bmp", truncated_header);
  fs::create_directory(dir / "folder.bmp");
  ASSERT_EQ(::mkfifo((dir / "fifo.bmp").c_str(), 0600), 0);
  fs::create_symlink("/proc/self/status", dir / "proc.bmp");
  std::vector<std::string> names = {"png.bmp",    "empty.bmp",   "text.bmp", "header.bmp",
                                    "folder.bmp", "fifo.bmp",    "missing.bmp", "proc.bmp"};
  if (!testing::PrivateDevice(dir.path(), "zero.bmp", "zero").empty()) names.push_back("zero.bmp");
  const int descriptors = testing::OpenDescriptorCount();
  for (const std::string& name : names) {
    EXPECT_ANY_THROW(LoadPicture(dir / name, 99, 52)) << name;
  }
  EXPECT_EQ(testing::OpenDescriptorCount(), descriptors);
}

TEST(PictureFilesTest, NamesThatAreNotAsciiWork) {
  TempDir dir;
  const fs::path name = dir / "Grüße aus Köln.bmp";
  SavePicture(Picture(3, 3, kBlack), name);
  EXPECT_EQ(LoadPicture(name, 99, 52), Picture(3, 3, kBlack));
}

}  // namespace
}  // namespace dotloom
