// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// File > Open and File > Save As with the dialog already answered, each beside its floor:
// the system calls that move the same bytes and, for BMP, Qt's own decoder or encoder on the
// same picture in memory. The last group drives the real window and counts its repaints.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QByteArray>
#include <QEvent>
#include <QFileDialog>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "app/qt/frm_dotloom.h"
#include "bench/bench_support.h"
#include "commands/file_commands.h"
#include "image/bitfile_codec.h"
#include "platform/qt/image_conversion.h"
#include "platform/qt/path_conversion.h"

namespace dotloom::bench {
namespace {
namespace fs = std::filesystem;

constexpr int kBmpWidth = 96;
constexpr int kBmpHeight = 48;

// The files every benchmark works on, made once.
struct Fixture {
  Fixture() {
    ByteVector bits(BitfileCodec::BitfileSize);
    std::uint32_t state = 0x9E3779B9U;
    for (std::uint8_t& byte : bits) {
      state = state * 1664525U + 1013904223U;
      byte = static_cast<std::uint8_t>(state >> 24U);
    }
    WriteFile(dir / "open.bit", bits);
    WriteBmp24(dir / "open.bmp", kBmpWidth, kBmpHeight);
    bmp_bytes = ReadFile(dir / "open.bmp");
    // The canvas every save writes: a BMP background with a Bitfile drawn over it.
    ScriptedDialog bmp(dir / "open.bmp");
    RunOpenCommand(canvas, bmp);
    BitfileCodec::Decode(dir / "open.bit", canvas);
  }

  TempDir dir;
  ByteVector bmp_bytes;
  Canvas canvas;
};

Fixture& Files() {
  static Fixture fixture;
  return fixture;
}

// --- Open .bit -------------------------------------------------------------------------------

void OpenBitfile(benchmark::State& state) {
  ScriptedDialog dialog(Files().dir / "open.bit");
  Canvas canvas;
  for (auto _ : state) {
    RunOpenCommand(canvas, dialog);
    benchmark::DoNotOptimize(canvas);
  }
  if (canvas.Point(0, 0) == canvas.BackColor() && canvas.Point(1, 0) == canvas.BackColor()) {
    state.SkipWithError("the Bitfile was not drawn");
  }
}
BENCHMARK(OpenBitfile)->Name("command/Open .bit");

void OpenBitfileFloor(benchmark::State& state) {
  const std::string path = (Files().dir / "open.bit").string();
  std::array<std::uint8_t, BitfileCodec::BitfileSize> bytes{};
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    benchmark::DoNotOptimize(::read(fd, bytes.data(), bytes.size()));
    ::close(fd);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(OpenBitfileFloor)->Name("floor/open + read 576 + close");

// The same system calls the program makes: it also checks with fstat that it opened a
// regular file, so that a FIFO or a device is refused. Not the target's floor; it shows how
// much of the command's time is that check.
void OpenBitfileSameCalls(benchmark::State& state) {
  const std::string path = (Files().dir / "open.bit").string();
  std::array<std::uint8_t, BitfileCodec::BitfileSize> bytes{};
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat status {};
    benchmark::DoNotOptimize(::fstat(fd, &status));
    benchmark::DoNotOptimize(::pread(fd, bytes.data(), bytes.size(), 0));
    ::close(fd);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(OpenBitfileSameCalls)->Name("calls/open + fstat + pread 576 + close");

// --- Save As .bit ----------------------------------------------------------------------------

void SaveBitfile(benchmark::State& state) {
  ScriptedDialog dialog(Files().dir / "saved.bit");
  for (auto _ : state) RunSaveAsCommand(Files().canvas, dialog);
  if (fs::file_size(Files().dir / "saved.bit") != BitfileCodec::BitfileSize) {
    state.SkipWithError("the Bitfile was not written");
  }
}
BENCHMARK(SaveBitfile)->Name("command/Save As .bit");

void SaveBitfileFloor(benchmark::State& state) {
  const std::string path = (Files().dir / "floor.bit").string();
  const BitfileCodec::Bytes bytes = BitfileCodec::EncodeBytes(Files().canvas);
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    benchmark::DoNotOptimize(::write(fd, bytes.data(), bytes.size()));
    ::close(fd);
  }
}
BENCHMARK(SaveBitfileFloor)->Name("floor/open + write 576 + close");

void SaveBitfileSameCalls(benchmark::State& state) {
  const std::string path = (Files().dir / "calls.bit").string();
  const BitfileCodec::Bytes bytes = BitfileCodec::EncodeBytes(Files().canvas);
  for (auto _ : state) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    struct stat status {};
    benchmark::DoNotOptimize(::fstat(fd, &status));
    benchmark::DoNotOptimize(::pwrite(fd, bytes.data(), bytes.size(), 0));
    ::close(fd);
  }
}
BENCHMARK(SaveBitfileSameCalls)->Name("calls/open + fstat + pwrite 576 + close");

// The same check done with statx asking for the file type only, which spares the kernel
// gathering everything else fstat reports.
void SaveBitfileStatxCalls(benchmark::State& state) {
  const std::string path = (Files().dir / "statx.bit").string();
  const BitfileCodec::Bytes bytes = BitfileCodec::EncodeBytes(Files().canvas);
  for (auto _ : state) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    struct statx status {};
    benchmark::DoNotOptimize(::statx(fd, "", AT_EMPTY_PATH, STATX_TYPE, &status));
    benchmark::DoNotOptimize(::pwrite(fd, bytes.data(), bytes.size(), 0));
    ::close(fd);
  }
}
BENCHMARK(SaveBitfileStatxCalls)->Name("calls/open + statx(type) + pwrite 576 + close");

// --- Open .bmp -------------------------------------------------------------------------------

void OpenBmp(benchmark::State& state) {
  ScriptedDialog dialog(Files().dir / "open.bmp");
  Canvas canvas;
  for (auto _ : state) {
    RunOpenCommand(canvas, dialog);
    benchmark::DoNotOptimize(canvas);
  }
  if (canvas.Point(1, 1) != kBlack) state.SkipWithError("the BMP was not loaded");
}
BENCHMARK(OpenBmp)->Name("command/Open .bmp (96 x 48)");

void OpenBmpFloor(benchmark::State& state) {
  const std::string path = (Files().dir / "open.bmp").string();
  QByteArray bytes(static_cast<qsizetype>(Files().bmp_bytes.size()), Qt::Uninitialized);
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    benchmark::DoNotOptimize(::read(fd, bytes.data(), static_cast<std::size_t>(bytes.size())));
    ::close(fd);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "bmp");
    QImage image = reader.read();
    benchmark::DoNotOptimize(image);
  }
}
BENCHMARK(OpenBmpFloor)->Name("floor/open + read + close + QImageReader (96 x 48)");

// --- Save As .bmp ----------------------------------------------------------------------------

QByteArray EncodeBmp(const QImage& image) {
  QByteArray encoded;
  QBuffer buffer(&encoded);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "bmp");
  writer.write(image);
  return encoded;
}

void SaveBmp(benchmark::State& state) {
  ScriptedDialog dialog(Files().dir / "saved.bmp");
  for (auto _ : state) RunSaveAsCommand(Files().canvas, dialog);
  if (!fs::exists(Files().dir / "saved.bmp")) state.SkipWithError("the BMP was not written");
}
BENCHMARK(SaveBmp)->Name("command/Save As .bmp (99 x 52)");

// The picture the command writes, already in Qt's form.
QImage CanvasSizedImage() { return ToQImage(Files().canvas.Image()); }

void SaveBmpFloor(benchmark::State& state) {
  const std::string path = (Files().dir / "floor.bmp").string();
  const QImage image = CanvasSizedImage();
  for (auto _ : state) {
    const QByteArray encoded = EncodeBmp(image);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    benchmark::DoNotOptimize(
        ::write(fd, encoded.constData(), static_cast<std::size_t>(encoded.size())));
    ::close(fd);
  }
}
BENCHMARK(SaveBmpFloor)->Name("floor/QImageWriter + open + write + close (99 x 52)");

// Not the floor of the target but what explains the command's time: the same save done as
// safely as the command does it, through a temporary file flushed to disk and renamed.
void SaveBmpDurableFloor(benchmark::State& state) {
  const std::string path = (Files().dir / "durable.bmp").string();
  const QImage image = CanvasSizedImage();
  for (auto _ : state) {
    const QByteArray encoded = EncodeBmp(image);
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    benchmark::DoNotOptimize(
        ::write(fd, encoded.constData(), static_cast<std::size_t>(encoded.size())));
    ::fsync(fd);
    ::close(fd);
    ::rename(temporary.c_str(), path.c_str());
  }
}
BENCHMARK(SaveBmpDurableFloor)
    ->Name("floor/QImageWriter + temporary file + fsync + rename (99 x 52)");

// --- The real window: repaints per command ---------------------------------------------------

// Counts the paint events one widget receives.
class PaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return QObject::eventFilter(watched, event);
  }
};

// Answers the next file dialog the window shows with path, as a user typing it would, or
// cancels it when path is empty.
void AnswerNextDialog(const QString& path) {
  QTimer::singleShot(0, [path] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) {
      AnswerNextDialog(path);
      return;
    }
    if (path.isEmpty()) {
      dialog->reject();
      return;
    }
    dialog->selectFile(path);
    static_cast<QDialog*>(dialog)->accept();  // QFileDialog's own accept, as OK would
  });
}

void Settle() {
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

enum class Command { kOpen, kSaveAs, kCancelledOpen };

// Runs one menu command per iteration through the window and its real file dialog; reports
// the picture control's paint events per command. A cancelled Open does no work at all, so
// what it counts comes from the dialog alone: the window losing and regaining activation.
void WindowCommand(benchmark::State& state, Command command, const char* name) {
  frmDotloom window;
  window.show();
  Settle();
  PaintCounter counter;
  window.Picture1()->installEventFilter(&counter);
  const fs::path path = Files().dir / name;
  for (auto _ : state) {
    if (command == Command::kSaveAs) fs::remove(path);  // so that no overwrite question comes
    AnswerNextDialog(command == Command::kCancelledOpen ? QString() : ToQString(path));
    (command == Command::kSaveAs ? window.mnuSaveAs() : window.mnuFileOpen())->trigger();
    Settle();
  }
  state.counters["paints_per_command"] =
      static_cast<double>(counter.paints) / static_cast<double>(state.iterations());
  const Canvas& canvas = window.Picture1()->canvas();
  const bool drawn =
      canvas.Point(0, 0) != canvas.BackColor() || canvas.Point(1, 0) != canvas.BackColor();
  if (command == Command::kOpen && !drawn)
    state.SkipWithError("the window did not open the Bitfile");
  if (command == Command::kSaveAs && !fs::exists(path))
    state.SkipWithError("the window did not save");
}
BENCHMARK_CAPTURE(WindowCommand, open_bit, Command::kOpen, "open.bit")
    ->Name("window/Open .bit through the dialog")
    ->Iterations(20);
BENCHMARK_CAPTURE(WindowCommand, save_bit, Command::kSaveAs, "window.bit")
    ->Name("window/Save As .bit through the dialog")
    ->Iterations(20);
BENCHMARK_CAPTURE(WindowCommand, cancel, Command::kCancelledOpen, "")
    ->Name("window/Open cancelled in the dialog")
    ->Iterations(20);

// One repaint of the picture control, as after a command.
void Repaint(benchmark::State& state) {
  frmDotloom window;
  window.show();
  Settle();
  BitfileCodec::Decode(Files().dir / "open.bit", window.Picture1()->canvas());
  for (auto _ : state) window.Picture1()->repaint();
}
BENCHMARK(Repaint)->Name("window/PictureBox repaint");

}  // namespace
}  // namespace dotloom::bench

namespace {

QtMessageHandler previous_handler = nullptr;

// The offscreen platform warns on every dialog that it cannot pass size hints on.
void DropSizeHintWarnings(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (text.contains(QLatin1String("propagateSizeHints"))) return;
  if (previous_handler != nullptr) previous_handler(type, context, text);
}

}  // namespace

int main(int argc, char** argv) {
  // The window benchmarks need no screen, and the file dialog's remembered folders go to a
  // folder of their own rather than the user's settings.
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const dotloom::testing::TempDir settings;
  ::setenv("XDG_CONFIG_HOME", settings.path().c_str(), 1);
  ::setenv("XDG_CACHE_HOME", settings.path().c_str(), 1);
  previous_handler = qInstallMessageHandler(DropSizeHintWarnings);
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
