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
#include <fstream>
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
    file.size = WriteGreyBmp(file.path, side, side);
  }
  return file;
}

// Opens file again and again; its pixel (x, y) is black only when the picture arrived.
void MeasureOpen(benchmark::State& state, const BmpFile& file, int x, int y) {
  ScriptedDialog dialog(file.path);
  Canvas canvas;
  for (auto _ : state) {
    RunOpenCommand(canvas, dialog);
    benchmark::DoNotOptimize(canvas);
  }
  state.counters["opened"] = canvas.Point(x, y) == kBlack ? 1 : 0;
  state.counters["file_MB"] = static_cast<double>(file.size) / 1e6;
}

void OpenLargeBmp(benchmark::State& state) {
  MeasureOpen(state, FileOfSide(static_cast<int>(state.range(0))), 1, 1);
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

// Two RLE8 files whose Open must cost about the same: a real 16384 x 16384 picture, fully
// coded in runs of 255 pixels (2.2 MB), and a hostile 1 x 1 picture whose stream is 128 MB of
// runs that never end their row. The reader stops the hostile stream once it holds more codes
// than its picture could use.
const BmpFile& RleFile(bool hostile) {
  static TempDir dir;
  static std::map<bool, BmpFile> files;
  BmpFile& file = files[hostile];
  if (file.size != 0) return file;
  testing::BmpForm form;
  form.bits = 8;
  form.coding = testing::BmpForm::Coding::kRle8;
  form.palette = {kWhite, kBlack};
  form.colours_used = 2;
  ByteVector row;
  std::uint32_t rows = 0;
  if (hostile) {
    form.width = form.height = 1;
    for (int i = 0; i < 1 << 20; ++i) row.insert(row.end(), {0xFF, 0x01});
    rows = 64;  // 64 chunks of 2 MiB
  } else {
    form.width = form.height = 16384;
    for (int x = 0; x < form.width; x += 255) {
      row.insert(row.end(), {static_cast<std::uint8_t>(std::min(255, form.width - x)),
                             static_cast<std::uint8_t>(x / 255 % 2 == 0 ? 1 : 0)});
    }
    row.insert(row.end(), {0, 0});
    rows = 16384;
  }
  const auto pixel_bytes = static_cast<std::uint32_t>(row.size() * rows + 2);
  file.path = dir / (hostile ? "hostile.bmp" : "real.bmp");
  std::ofstream out(file.path, std::ios::binary);
  const ByteVector header = testing::BmpHeader(form, pixel_bytes);
  out.write(reinterpret_cast<const char*>(header.data()),
            static_cast<std::streamsize>(header.size()));
  for (std::uint32_t i = 0; i < rows; ++i) {
    out.write(reinterpret_cast<const char*>(row.data()), static_cast<std::streamsize>(row.size()));
  }
  out.write("\0\1", 2);
  out.close();
  file.size = header.size() + pixel_bytes;
  return file;
}

// Both pictures start with a run of colour 1, black, at the top left.
void OpenRle(benchmark::State& state) { MeasureOpen(state, RleFile(state.range(0) == 1), 0, 0); }
BENCHMARK(OpenRle)
    ->Name("command/Open .bmp RLE8, 0 = real 16384 x 16384, 1 = hostile 128 MB 1 x 1")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace dotloom::bench

BENCHMARK_MAIN();
