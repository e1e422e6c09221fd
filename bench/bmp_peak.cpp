// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// Peak memory of File > Open on one BMP file, one process per measurement:
//
//   dotloom_bmp_peak make FILE SIDE   writes a SIDE x SIDE 24-bit BMP
//   dotloom_bmp_peak make-gap FILE OFFSET
//                                     writes a sparse 2 x 2 24-bit BMP whose pixels start at
//                                     byte OFFSET (up to 4 GiB - 1)
//   dotloom_bmp_peak make-tail FILE TAIL
//                                     writes a 2 x 2 RLE8 BMP followed by TAIL sparse bytes,
//                                     which its end of bitmap makes meaningless
//   dotloom_bmp_peak open FILE        runs Open on it, then prints the peak
//   dotloom_bmp_peak none FILE        does everything but the Open, then prints the peak
//   dotloom_bmp_peak qt FILE          decodes it with QImageReader straight from the file
//   dotloom_bmp_peak rows FILE        reads and decodes only the 52 rows that can be shown
//
// "none" is the baseline: the same process, libraries and canvas, without the command. "qt"
// is what Qt's decoder alone needs for the whole picture, with no copy of the file. "open"
// also prints the wall time of the command itself.
//
// Both small pictures are mid grey with a black pixel at (1, 1), like the large ones.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "commands/file_commands.h"

namespace {

long PeakKib() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;  // KiB on Linux
}

// A 2 x 2 BMP with a 40-byte header: bits, coding and palette as given, up to its pixels.
using dotloom::testing::BmpForm;

std::vector<std::uint8_t> Header(int bits, BmpForm::Coding coding,
                                 const std::vector<dotloom::Colour>& palette) {
  return dotloom::testing::BmpHeader({.width = 2,
                                      .height = 2,
                                      .bits = bits,
                                      .coding = coding,
                                      .palette = palette,
                                      .colours_used = static_cast<std::uint32_t>(palette.size())},
                                     0);
}

// Writes head at 0 and tail at the end of a file of size bytes, the rest left as a hole.
bool WriteSparse(const char* path, const std::vector<std::uint8_t>& head,
                 const std::vector<std::uint8_t>& tail, std::uint64_t size) {
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  const bool ok = ::ftruncate(fd, static_cast<off_t>(size)) == 0 &&
                  ::pwrite(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size()) &&
                  ::pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(size - tail.size())) ==
                      static_cast<ssize_t>(tail.size());
  return ::close(fd) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace dotloom;
  const std::string mode = argc >= 3 ? argv[1] : "";
  if (mode == "make" && argc == 4) {
    const int side = std::atoi(argv[3]);
    std::printf("%llu\n",
                static_cast<unsigned long long>(bench::WriteGreyBmp(argv[2], side, side)));
    return 0;
  }
  if (mode == "make-gap" && argc == 4) {
    const auto offset = static_cast<std::uint32_t>(std::stoull(argv[3]));
    std::vector<std::uint8_t> head = Header(24, BmpForm::Coding::kRgb, {});
    dotloom::testing::PutField(head, 10, offset);
    // Bottom-up: the stored first row is the lower one, (1, 1) its second pixel.
    std::vector<std::uint8_t> rows(16, 0x80);
    for (int i = 3; i < 6; ++i) rows[static_cast<std::size_t>(i)] = 0;
    return WriteSparse(argv[2], head, rows, std::uint64_t{offset} + rows.size()) ? 0 : 1;
  }
  if (mode == "make-tail" && argc == 4) {
    std::vector<std::uint8_t> head =
        Header(8, BmpForm::Coding::kRle8, {Rgb(0x80, 0x80, 0x80), kBlack});
    // Lower row: grey, black; upper row: two grey; end of bitmap.
    const std::vector<std::uint8_t> stream = {1, 0, 1, 1, 0, 0, 2, 0, 0, 0, 0, 1};
    head.insert(head.end(), stream.begin(), stream.end());
    return WriteSparse(argv[2], head, {0}, head.size() + std::stoull(argv[3])) ? 0 : 1;
  }
  if (mode == "qt" && argc == 3) {
    QImageReader::setAllocationLimit(0);  // no limit: this is the floor, not the program
    QFile file(QString::fromLocal8Bit(argv[2]));
    QImageReader reader(&file, "bmp");
    const QImage image = reader.read();
    std::printf("peak_kib=%ld opened=%d\n", PeakKib(), image.isNull() ? 0 : 1);
    return 0;
  }
  if (mode == "rows" && argc == 3) {
    const int rows = bench::DecodeTopRows(argv[2], Canvas::kHeight);
    std::printf("peak_kib=%ld opened=%d\n", PeakKib(), rows > 0 ? 1 : 0);
    return 0;
  }
  if ((mode != "open" && mode != "none") || argc != 3) {
    std::fprintf(stderr,
                 "usage: %s make FILE SIDE | make-gap FILE OFFSET | make-tail FILE TAIL | "
                 "open FILE | none FILE | qt FILE | rows FILE\n",
                 argv[0]);
    return 2;
  }
  Canvas canvas;
  bench::ScriptedDialog dialog(argv[2]);
  const auto start = std::chrono::steady_clock::now();
  if (mode == "open") RunOpenCommand(canvas, dialog);
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  const bool opened = canvas.Point(1, 1) == kBlack;
  std::printf("peak_kib=%ld opened=%d ms=%.3f\n", PeakKib(), opened ? 1 : 0, took.count());
  return 0;
}
