// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// Peak memory of File > Open on one BMP file, one process per measurement:
//
//   dotloom_bmp_peak make FILE SIDE   writes a SIDE x SIDE 24-bit BMP
//   dotloom_bmp_peak open FILE        runs Open on it, then prints the peak
//   dotloom_bmp_peak none FILE        does everything but the Open, then prints the peak
//   dotloom_bmp_peak qt FILE          decodes it with QImageReader straight from the file
//   dotloom_bmp_peak rows FILE        reads and decodes only the 52 rows that can be shown
//
// "none" is the baseline: the same process, libraries and canvas, without the command. "qt"
// is what Qt's decoder alone needs for the whole picture, with no copy of the file.

#include <sys/resource.h>

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/bench_support.h"
#include "commands/file_commands.h"

namespace {

long PeakKib() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;  // KiB on Linux
}

}  // namespace

int main(int argc, char** argv) {
  using namespace dotloom;
  const std::string mode = argc >= 3 ? argv[1] : "";
  if (mode == "make" && argc == 4) {
    const int side = std::atoi(argv[3]);
    std::printf("%llu\n", static_cast<unsigned long long>(bench::WriteBmp24(argv[2], side, side)));
    return 0;
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
    std::fprintf(stderr, "usage: %s make FILE SIDE | open FILE | none FILE | qt FILE | rows FILE\n",
                 argv[0]);
    return 2;
  }
  Canvas canvas;
  bench::FixedDialog dialog(argv[2]);
  if (mode == "open") RunOpenCommand(canvas, dialog);
  const bool opened = canvas.Point(1, 1) == kBlack;
  std::printf("peak_kib=%ld opened=%d\n", PeakKib(), opened ? 1 : 0);
  return 0;
}
