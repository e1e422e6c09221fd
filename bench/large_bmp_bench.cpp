// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// File > Open of 24-bit BMP files from 100 x 100 to 8000 x 8000 pixels. Only the top-left
// corner can be shown, so the time is what it costs to get there from a large file.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "commands/file_commands.h"

namespace dotloom::bench {
namespace {
namespace fs = std::filesystem;

struct BmpFile {
  fs::path path;
  std::uint64_t size = 0;
};

// Each size is written once, on first use, and removed at exit.
const BmpFile& FileOfSide(int side) {
  static TempDir dir;
  static std::map<int, BmpFile> files;
  BmpFile& file = files[side];
  if (file.size == 0) {
    file.path = dir / ("side-" + std::to_string(side) + ".bmp").c_str();
    file.size = WriteBmp24(file.path, side, side);
  }
  return file;
}

void OpenLargeBmp(benchmark::State& state) {
  const BmpFile& file = FileOfSide(static_cast<int>(state.range(0)));
  FixedDialog dialog(file.path);
  Canvas canvas;
  for (auto _ : state) {
    RunOpenCommand(canvas, dialog);
    benchmark::DoNotOptimize(canvas);
  }
  // The marked pixel at (1, 1) is black only when the picture arrived.
  state.counters["opened"] = canvas.Point(1, 1) == kBlack ? 1 : 0;
  state.counters["file_MB"] = static_cast<double>(file.size) / 1e6;
}
BENCHMARK(OpenLargeBmp)
    ->Name("command/Open .bmp 24 bpp, side")
    ->Arg(100)
    ->Arg(1000)
    ->Arg(4000)
    ->Arg(8000)
    ->Unit(benchmark::kMillisecond);

// Floors: reading the whole file, and Qt's decoder on the whole picture straight from the file.

void ReadWholeFile(benchmark::State& state) {
  const BmpFile& file = FileOfSide(static_cast<int>(state.range(0)));
  std::vector<char> bytes(file.size);
  for (auto _ : state) {
    const int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
    benchmark::DoNotOptimize(::read(fd, bytes.data(), bytes.size()));
    ::close(fd);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(ReadWholeFile)
    ->Name("floor/open + read whole file + close, side")
    ->Arg(100)
    ->Arg(1000)
    ->Arg(4000)
    ->Arg(8000)
    ->Unit(benchmark::kMillisecond);

void QtDecodeWholeFile(benchmark::State& state) {
  const BmpFile& file = FileOfSide(static_cast<int>(state.range(0)));
  QImageReader::setAllocationLimit(0);
  for (auto _ : state) {
    QFile device(QString::fromStdString(file.path.string()));
    QImageReader reader(&device, "bmp");
    QImage image = reader.read();
    benchmark::DoNotOptimize(image);
  }
}
BENCHMARK(QtDecodeWholeFile)
    ->Name("floor/QImageReader on the file, whole picture, side")
    ->Arg(100)
    ->Arg(1000)
    ->Arg(4000)
    ->Arg(8000)
    ->Unit(benchmark::kMillisecond);

// What Open would cost if it read only what it can show: the header and the 52 top rows.
void DecodeShownRows(benchmark::State& state) {
  const BmpFile& file = FileOfSide(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(DecodeTopRows(file.path, Canvas::kHeight));
  if (DecodeTopRows(file.path, Canvas::kHeight) == 0) state.SkipWithError("did not decode");
}
BENCHMARK(DecodeShownRows)
    ->Name("floor/read header + 52 top rows + QImage::fromData, side")
    ->Arg(100)
    ->Arg(1000)
    ->Arg(4000)
    ->Arg(8000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace dotloom::bench

BENCHMARK_MAIN();
