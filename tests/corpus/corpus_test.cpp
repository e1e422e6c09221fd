// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// Hostile and odd input files through the real commands: Open the file, then Save As a
// Bitfile, and compare the 576 bytes with what the file should give. A file that must not
// load leaves the previous picture (and so the saved Bitfile) exactly as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <span>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#if !defined(_WIN32) && !defined(__EMSCRIPTEN__)
#include <dlfcn.h>
#endif

#include "commands/file_commands.h"
#include "image/bitfile_codec.h"
#include "image/bmp_layout.h"
#include "image/bmp_read.h"
#include "image/bmp_rle.h"
#include "tests/support/bmp_writer.h"
#include "tests/support/test_support.h"

namespace dotloom {
namespace {
namespace fs = std::filesystem;
using namespace testing;
using Coding = BmpForm::Coding;

// The heap counters of the fault shim, when it is preloaded (not under valgrind).
// The shim is Linux's: the Windows build and the page's never count.
struct Heap {
#if defined(_WIN32) || defined(__EMSCRIPTEN__)
  long (*peak)() = nullptr;
  long (*live)() = nullptr;
  void (*reset)() = nullptr;
#else
  long (*peak)() = reinterpret_cast<long (*)()>(::dlsym(RTLD_DEFAULT, "dotloom_heap_peak"));
  long (*live)() = reinterpret_cast<long (*)()>(::dlsym(RTLD_DEFAULT, "dotloom_heap_live"));
  void (*reset)() = reinterpret_cast<void (*)()>(::dlsym(RTLD_DEFAULT, "dotloom_heap_reset_peak"));
#endif
  bool available() const { return peak != nullptr && live != nullptr && reset != nullptr; }
  // How far above what was live before it the heap grew while run ran; -1 when not counted.
  long PeakOf(const std::function<void()>& run) const {
    if (!available()) {
      run();
      return -1;
    }
    const long before = live();
    reset();
    run();
    return peak() - before;
  }
};

// The memory bounds below are only checked where the heap is counted: make sure that is
// wherever the shim was meant to be preloaded.
TEST(CorpusSetupTest, HeapIsCountedWhenTheShimIsPreloaded) {
  const char* preload = std::getenv("LD_PRELOAD");
  if (preload == nullptr || std::string(preload).find("dotloom_fault_shim") == std::string::npos) {
    GTEST_SKIP() << "run without the fault shim: memory bounds are not checked";
  }
  const Heap heap;
  ASSERT_TRUE(heap.available());
  const long before = heap.live();
  const std::vector<char> block(1 << 20);
  EXPECT_GE(heap.live() - before, 1 << 20);
}

// The picture every case starts from: no pixel of it is black inside the Bitfile area,
// except one, so that a failed load shows as exactly this Bitfile.
Picture Previous() {
  Picture picture(99, 52, Rgb(9, 9, 9));
  picture.Set(40, 40, kBlack);
  return picture;
}

const ByteVector& FailedBits() {
  static const ByteVector bits = BitfileOf([](int x, int y) { return x == 40 && y == 40; });
  return bits;
}

struct Outcome {
  bool loaded = false;
  ByteVector bits;
  long heap_peak = -1;  // bytes above what was live before the Open, when counted
  Picture image;        // the canvas after the Open
};

// The Linux and the Windows build must agree on every file: loaded with the same 99 x 52
// pixels, or refused. Each test folds what every file gave, in order, into one digest, and
// both builds must reach the one agreement.txt holds for that test. With
// DOTLOOM_CORPUS_TRACE set, every file's own digest is printed, so that the outputs of the
// two builds can be compared line by line to find the file they disagree on.
class Agreement {
 public:
  void Add(const Outcome& run) {
    std::uint64_t one = kOffset;
    Fold(one, run.loaded ? 1U : 0U);
    Fold(one, static_cast<std::uint32_t>(run.image.width()));
    Fold(one, static_cast<std::uint32_t>(run.image.height()));
    for (const Colour colour : run.image.pixels()) Fold(one, colour);
    if (std::getenv("DOTLOOM_CORPUS_TRACE") != nullptr) {
      std::printf("case %d: %d %016llx\n", cases_, run.loaded ? 1 : 0,
                  static_cast<unsigned long long>(one));
    }
    Fold(digest_, static_cast<std::uint32_t>(one));
    Fold(digest_, static_cast<std::uint32_t>(one >> 32U));
    ++cases_;
  }

  void Check() const {
    // The quick run under valgrind tries fewer files.
    if (cases_ == 0 || std::getenv("DOTLOOM_CORPUS_QUICK") != nullptr) return;
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    char got[17] = {};
    std::snprintf(got, sizeof got, "%016llx", static_cast<unsigned long long>(digest_));
    std::ifstream file(DOTLOOM_AGREEMENT_FILE);
    std::string line;
    while (std::getline(file, line)) {
      std::istringstream words(line);
      std::string name;
      std::string expected;
      if (line.starts_with("#") || !(words >> name >> expected)) continue;
      if (name == test) {
        EXPECT_EQ(got, expected) << "the files of " << test << " give other pixels than "
                                 << DOTLOOM_AGREEMENT_FILE << " records";
        return;
      }
    }
    ADD_FAILURE() << DOTLOOM_AGREEMENT_FILE << " has no line for " << test << " " << got;
  }

 private:
  static constexpr std::uint64_t kOffset = 14695981039346656037ULL;
  static void Fold(std::uint64_t& digest, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
      digest ^= (value >> (8 * i)) & 0xFFU;
      digest *= 1099511628211ULL;  // FNV-1a
    }
  }

  std::uint64_t digest_ = kOffset;
  int cases_ = 0;
};

class CorpusTest : public ::testing::Test {
 protected:
  // Open path, then Save As a Bitfile; checks what must hold whatever the file was.
  Outcome OpenThenSave(const fs::path& path) {
    Canvas canvas;
    canvas.SetPicture(Previous());
    canvas.PSet(97, 50);
    ScriptedDialog open(path);
    Outcome run;
    run.heap_peak = heap_.PeakOf([&] { RunOpenCommand(canvas, open); });
    run.loaded = canvas.picture() != Previous();
    EXPECT_NE(canvas.Point(97, 50), kBlack) << "the drawing is cleared";
    run.image = canvas.Image();
    for (const Colour colour : run.image.pixels()) EXPECT_EQ(colour & 0xFF000000U, 0U);
    const fs::path out = dir_ / "out.bit";
    ScriptedDialog save(out);
    RunSaveAsCommand(canvas, save);
    run.bits = ReadFile(out);
    fs::remove(out);
    const std::string name = path.filename().string();
    if (!run.loaded && !name.ends_with("bit")) {
      EXPECT_EQ(run.bits, FailedBits()) << path;
    }
    return run;
  }

  Outcome OpenBytes(const ByteVector& bytes, const std::string& name = "in.bmp") {
    WriteFile(dir_ / name, bytes);
    Outcome run = OpenThenSave(dir_ / name);
    agreement_.Add(run);
    if (run.heap_peak >= 0) {
      EXPECT_LE(static_cast<std::uint64_t>(run.heap_peak), bmp::kReadMemoryBound)
          << "Open of " << bytes.size() << " bytes";
    }
    return run;
  }

  void TearDown() override { agreement_.Check(); }

  TempDir dir_;
  Heap heap_;
  Agreement agreement_;
};

// The picture the variants draw: black pixels in an uneven pattern that shows any flip,
// mirror or shift, among colours that are all near black but not black.
bool Black(int x, int y) { return (x * 3 + y * 5) % 7 == 0 || x == 2 * y; }

constexpr Colour kNotBlack[] = {Rgb(8, 8, 8), kWhite, Rgb(8, 0, 0), Rgb(0, 8, 0), Rgb(0, 0, 8)};

std::uint32_t DirectPixel(int x, int y) { return Black(x, y) ? kBlack : kNotBlack[(x + y) % 5]; }

struct Variant {
  const char* name;
  BmpForm form;
};

BmpForm Form(int bits, Coding coding, int info_size = 40) {
  BmpForm form;
  form.width = 100;
  form.height = 50;
  form.bits = bits;
  form.coding = coding;
  form.info_size = info_size;
  if (bits <= 8) {
    const int entries = 1 << bits;
    for (int i = 0; i < entries; ++i) {
      form.palette.push_back(i == 1   ? kBlack
                             : i == 0 ? Rgb(1, 1, 1)
                                      : Rgb(0, 0, static_cast<std::uint8_t>(i)));
    }
  }
  return form;
}

std::vector<Variant> Variants() {
  std::vector<Variant> variants;
  const auto add = [&](const char* name, BmpForm form) { variants.push_back({name, form}); };
  for (const int info : {40, 12, 64, 108, 124}) {
    for (const int bits : {1, 4, 8, 16, 24, 32}) add("plain", Form(bits, Coding::kRgb, info));
  }
  BmpForm mono = Form(1, Coding::kRgb);
  mono.palette = {kWhite, kBlack};
  add("1 bit, white first", mono);
  mono.palette = {kBlack, kWhite};
  add("1 bit, black first", mono);
  for (const int info : {40, 108, 124}) {
    add("rle8", Form(8, Coding::kRle8, info));
    add("rle4", Form(4, Coding::kRle4, info));
    BmpForm fields = Form(16, Coding::kBitfields, info);
    fields.masks = {0xF800, 0x07E0, 0x001F, 0};
    add("bitfields 565", fields);
    fields = Form(32, Coding::kBitfields, info);
    fields.masks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0};
    add("bitfields 32, red low", fields);
  }
  BmpForm used = Form(8, Coding::kRgb);
  used.palette.resize(2);
  used.colours_used = 2;
  add("8 bits, 2 colours used", used);
  BmpForm alpha = Form(32, Coding::kBitfields, 124);
  alpha.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
  add("bitfields 32 with alpha", alpha);
  for (const int bits : {1, 4, 8, 16, 24, 32}) {
    BmpForm top = Form(bits, Coding::kRgb);
    top.top_down = true;
    add("top-down", top);
  }
  // Of a picture taller than the canvas only the top rows are read: the last rows of a
  // bottom-up file, the first of a top-down one.
  for (const int info : {12, 40, 124}) {
    for (const int bits : {1, 4, 8, 16, 24, 32}) {
      BmpForm tall = Form(bits, Coding::kRgb, info);
      tall.height = 70;
      add("taller than the canvas", tall);
      if (info == 12) continue;
      tall.top_down = true;
      add("taller than the canvas, top-down", tall);
    }
  }
  BmpForm tall_fields = Form(16, Coding::kBitfields, 40);
  tall_fields.masks = {0xF800, 0x07E0, 0x001F, 0};
  tall_fields.height = 70;
  add("bitfields 565, taller than the canvas", tall_fields);
  BmpForm small = Form(24, Coding::kRgb);
  small.width = 20;
  small.height = 10;
  add("smaller than the Bitfile", small);
  // Forms that real programs write beyond the common ones.
  add("2 bits", Form(2, Coding::kRgb));
  BmpForm long_palette = Form(4, Coding::kRgb);
  long_palette.palette.resize(40, Rgb(0, 0, 7));
  long_palette.colours_used = 40;
  add("palette longer than the depth names", long_palette);
  for (const int info : {16, 36, 64}) {
    add("OS/2 2.x", Form(8, Coding::kRgb, info));
    add("OS/2 2.x", Form(24, Coding::kRgb, info));
  }
  add("OS/2 2.x RLE24", Form(24, Coding::kRle24, 64));
  add("OS/2 2.x RLE8", Form(8, Coding::kRle8, 64));
  add("64 bits", Form(64, Coding::kRgb));
  const std::array<std::uint32_t, 4> wide[] = {
      {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000},  // 10-10-10-2
      {0xFFE00000, 0x001FFC00, 0x000003FF, 0},           // 11-11-10
      {0x0000E000, 0x00001FF8, 0x00000007, 0},           // 3-10-3
      {0x00007C00, 0x000003E0, 0x0000001F, 0x00008000},  // 1-5-5-5
  };
  for (const auto& masks : wide) {
    const int bits = masks[0] > 0xFFFF ? 32 : 16;
    for (const int info : {40, 52, 56, 124}) {
      BmpForm fields = Form(bits, Coding::kBitfields, info);
      fields.masks = masks;
      add("wide or narrow bit fields", fields);
    }
    BmpForm alpha_fields = Form(bits, Coding::kAlphaBitfields, 40);
    alpha_fields.masks = masks;
    add("alpha bit fields", alpha_fields);
  }
  return variants;
}

ByteVector Write(const BmpForm& form) {
  if (form.bits <= 8) {
    const int entries = std::min(static_cast<int>(form.palette.size()), 1 << form.bits);
    int black = 0;
    while (form.palette[static_cast<std::size_t>(black)] != kBlack) ++black;
    return WriteBmp(form, [&](int x, int y) -> std::uint32_t {
      if (Black(x, y)) return static_cast<std::uint32_t>(black);
      int index = (x + y) % entries;
      if (index == black) index = (index + 1) % entries;
      return static_cast<std::uint32_t>(index);
    });
  }
  return WriteBmp(form, DirectPixel);
}

// Whether a colour packs to 0 in fields this narrow, and so reads back black.
bool Vanishes(Colour colour, const BmpForm& form) {
  if (form.coding != Coding::kBitfields && form.coding != Coding::kAlphaBitfields) return false;
  const std::uint8_t components[] = {Red(colour), Green(colour), Blue(colour)};
  for (std::size_t i = 0; i < 3; ++i) {
    const int width = std::popcount(form.masks[i]);
    if (width >= 8 ? components[i] != 0 : (components[i] >> (8 - width)) != 0) return false;
  }
  return true;
}

ByteVector Expected(const BmpForm& form) {
  return BitfileOf([&](int x, int y) {
    return x < form.width && y < form.height &&
           (Black(x, y) || (form.bits > 8 && Vanishes(DirectPixel(x, y), form)));
  });
}

TEST_F(CorpusTest, EveryVariantConvertsToTheRightBitfile) {
  for (const Variant& variant : Variants()) {
    SCOPED_TRACE(std::string(variant.name) + ", " + std::to_string(variant.form.bits) +
                 " bits, header " + std::to_string(variant.form.info_size));
    const Outcome run = OpenBytes(Write(variant.form));
    EXPECT_TRUE(run.loaded);
    EXPECT_EQ(run.bits, Expected(variant.form));
  }
}

TEST_F(CorpusTest, BoundaryHeadersLoadExactlyOrFailCleanly) {
  // Consistent files at the edges of the sizes: each loads exactly.
  for (const auto& [width, height] : std::vector<std::pair<int, int>>{
           {1, 48}, {96, 48}, {97, 48}, {96, -48}, {16384, 1}, {16385, 1}, {1, 1}, {2, 16384}}) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    BmpForm form = Form(24, Coding::kRgb);
    form.width = width;
    form.height = height < 0 ? -height : height;
    form.top_down = height < 0;
    const Outcome run = OpenBytes(Write(form));
    EXPECT_TRUE(run.loaded);
    EXPECT_EQ(run.bits, Expected(form));
  }

  // The same fields patched into a small file: only what still fits loads.
  const BmpForm base_form = [] {
    BmpForm form = Form(8, Coding::kRgb);
    form.width = 12;
    form.height = 8;
    return form;
  }();
  const ByteVector base = Write(base_form);
  struct Patch {
    const char* field;
    std::size_t at;
    std::uint32_t value;
    bool loads;
  };
  const std::uint32_t palette_end = 14 + 40 + 256 * 4;
  const Patch patches[] = {
      {"width 0", 18, 0, false},
      {"width 1", 18, 1, true},
      {"width 96", 18, 96, false},
      {"width 97", 18, 97, false},
      {"width 16384", 18, 16384, false},
      {"width 16385", 18, 16385, false},
      {"width -1", 18, 0xFFFFFFFF, false},
      {"height 48", 22, 48, false},
      {"height -48", 22, static_cast<std::uint32_t>(-48), false},
      {"height -8", 22, static_cast<std::uint32_t>(-8), true},
      {"height 0", 22, 0, false},
      {"height INT_MIN", 22, 0x80000000U, false},
      {"height 1", 22, 1, true},
      {"colours 0", 46, 0, true},
      {"colours 1", 46, 1, true},
      {"colours 2", 46, 2, true},
      {"colours 256", 46, 256, true},
      {"colours 257", 46, 257, true},  // read as far as 8 bits can name
      {"colours 0xFFFFFFFF", 46, 0xFFFFFFFF, true},
      {"offset 0", 10, 0, false},
      {"offset in header", 10, 30, false},
      {"offset in palette", 10, palette_end - 4, false},
      {"offset past end", 10, static_cast<std::uint32_t>(base.size()), false},
      {"offset 0xFFFFFFFF", 10, 0xFFFFFFFF, false},
      {"planes 2", 26, 0x00080002, false},
      {"bits 7", 28, 7, false},
      {"compression 4", 30, 4, false},
      {"compression RLE8", 30, 1, false},
      {"info size 14", 14, 14, false},  // too short for OS/2 2.x's first fields
      {"info size 15", 14, 15, false},
      {"info size 41", 14, 41, false},
      {"info size 0xFFFFFFFF", 14, 0xFFFFFFFF, false},
  };
  for (const Patch& patch : patches) {
    SCOPED_TRACE(patch.field);
    ByteVector bytes = base;
    PutField(bytes, patch.at, patch.value);
    const Outcome run = OpenBytes(bytes);
    EXPECT_EQ(run.loaded, patch.loads);
    // Pixels that name a colour past the palette's end show white: with one colour left,
    // the black ones (colour 1) are gone.
    if (run.loaded && std::string(patch.field) == "colours 1") {
      EXPECT_EQ(run.bits, BitfileOf([](int, int) { return false; }));
    } else if (run.loaded && std::string(patch.field).starts_with("colours")) {
      EXPECT_EQ(run.bits, Expected(base_form));
    }
  }
  // Red masks that are wide, have a hole or cover the others. The writer puts red 8 in the
  // mask's top bits, which the hole of 0x00FF00FF drops: that colour reads black.
  for (const std::uint32_t red : {0x3FF00000U, 0x00FF00FFU, 0xFFFFFFFFU}) {
    BmpForm form = Form(32, Coding::kBitfields);
    form.masks = {red, 0x0000FF00, 0x000000FF, 0};
    const Outcome run = OpenBytes(Write(form));
    EXPECT_TRUE(run.loaded) << std::hex << red;
    EXPECT_EQ(run.bits, BitfileOf([&](int x, int y) {
                return Black(x, y) || (red == 0x00FF00FFU && DirectPixel(x, y) == Rgb(8, 0, 0));
              }))
        << std::hex << red;
  }
  // A header of 118 bytes that declares 5000 x 5000 x 24 bits, and kin: refused before
  // anything is allocated for the image.
  for (const int bits : {1, 8, 24, 32}) {
    BmpForm huge = Form(bits, Coding::kRgb);
    huge.width = 1;
    huge.height = 1;
    ByteVector bytes = Write(huge);
    PutField(bytes, 18, 5000);
    PutField(bytes, 22, 5000);
    const Outcome run = OpenBytes(bytes);
    EXPECT_FALSE(run.loaded);
    if (run.heap_peak >= 0) {
      EXPECT_LT(run.heap_peak, 2 * 1024 * 1024) << bits;
    }
  }
}

TEST_F(CorpusTest, ValidBmpCutAtEveryLengthFailsOrLoadsWhole) {
  for (const BmpForm& form : {Form(24, Coding::kRgb), Form(1, Coding::kRgb), Form(8, Coding::kRle8),
                              Form(4, Coding::kRle4), Form(16, Coding::kRgb, 12)}) {
    BmpForm small = form;
    small.width = 13;
    small.height = 9;
    const ByteVector whole = Write(small);
    const ByteVector expected = Expected(small);
    for (std::size_t length = 0; length < whole.size(); ++length) {
      const ByteVector cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
      const Outcome run = OpenBytes(cut);
      if (run.loaded) {
        EXPECT_EQ(run.bits, expected) << "cut at " << length;
      }
      // The same bytes from memory, as the fuzz target loads them: no read-count check
      // stands between a wrong header check and the decoder there.
      bool loaded_from_memory = false;
      try {
        Canvas canvas;
        canvas.SetPicture(bmp::Read(cut, Canvas::kWidth, Canvas::kHeight));
        loaded_from_memory = true;
        const BitfileCodec::Bytes bits = BitfileCodec::Encode(canvas);
        EXPECT_EQ(ByteVector(bits.begin(), bits.end()), expected) << "cut at " << length;
      } catch (const std::exception&) {  // refused, as it should be unless whole
      }
      EXPECT_EQ(loaded_from_memory, run.loaded) << "cut at " << length;
      // The header check alone refuses missing rows, so that no reader depends on a later
      // read coming up short to find them.
      if (small.coding != Coding::kRle8 && small.coding != Coding::kRle4) {
        EXPECT_THROW(bmp::ReadLayout(cut, cut.size()), bmp::BmpError) << "cut at " << length;
      }
    }
  }
}

TEST_F(CorpusTest, EveryHeaderAndPaletteByteAtEveryValue) {
  BmpForm form = Form(8, Coding::kRgb);
  form.width = 9;
  form.height = 5;
  form.palette = {kBlack, kWhite, Rgb(1, 1, 1), Rgb(0, 0, 200)};
  form.colours_used = 4;
  const auto index = [](int x, int y) {
    return static_cast<std::uint32_t>(Black(x, y) ? 0 : 1 + (x + y) % 3);
  };
  const ByteVector base = WriteBmp(form, index);
  const std::size_t header_and_palette = 14 + 40 + 4 * 4;
  // Fields that the picture does not depend on.
  const auto ignored = [](std::size_t at) {
    return (at >= 2 && at < 10) || (at >= 34 && at < 46) || (at >= 50 && at < 54) ||
           (at >= 54 && (at - 54) % 4 == 3);
  };
  // Under valgrind (DOTLOOM_CORPUS_QUICK set) every byte takes a spread of values instead
  // of all 256, to keep that run within minutes.
  std::vector<int> values;
  if (std::getenv("DOTLOOM_CORPUS_QUICK") != nullptr) {
    values = {0, 1, 2, 3, 4, 7, 8, 16, 31, 32, 64, 127, 128, 200, 254, 255};
  } else {
    for (int value = 0; value < 256; ++value) values.push_back(value);
  }
  for (std::size_t at = 0; at < header_and_palette; ++at) {
    for (const int value : values) {
      ByteVector bytes = base;
      bytes[at] = static_cast<std::uint8_t>(value);
      const Outcome run = OpenBytes(bytes);
      if (bytes == base || ignored(at)) {
        EXPECT_TRUE(run.loaded) << at << " = " << value;
        EXPECT_EQ(run.bits, Expected(form)) << at << " = " << value;
      } else if (at >= 54 && run.loaded) {
        // A palette colour changed: its pixels are black exactly when it became black.
        const std::size_t entry = (at - 54) / 4;
        std::vector<Colour> palette = form.palette;
        const std::size_t channel = 2 - (at - 54) % 4;  // stored blue, green, red
        palette[entry] = (palette[entry] & ~(0xFFU << (8 * channel))) |
                         (static_cast<Colour>(value) << (8 * channel));
        EXPECT_EQ(run.bits, BitfileOf([&](int x, int y) {
                    return x < form.width && y < form.height && palette[index(x, y)] == kBlack;
                  }))
            << at << " = " << value;
      } else if (run.loaded) {
        // Another reading of the same bytes must give the same picture: nothing undefined.
        EXPECT_EQ(OpenBytes(bytes).bits, run.bits) << at << " = " << value;
      }
    }
  }
}

// The work is bounded by the picture, not the file: of 4 MiB of runs that never end their row
// only the header and the first chunk of the stream are read. (RLE streams of every other
// kind are rows of PictureFilesTest's table.)
TEST_F(CorpusTest, RleWorkIsBoundedByThePicture) {
  for (const Coding coding : {Coding::kRle8, Coding::kRle4}) {
    const bool four = coding == Coding::kRle4;
    BmpForm form = Form(four ? 4 : 8, coding);
    form.width = 4;
    form.height = 2;
    const ByteVector runs = RunsPastTheRowEnd(four ? 0x11 : 0x01, 2 << 20);
    ByteVector hostile = BmpHeader(form, static_cast<std::uint32_t>(runs.size()));
    hostile.insert(hostile.end(), runs.begin(), runs.end());
    std::uint64_t read = 0;
    const Picture picture = bmp::Read(
        [&](std::span<std::uint8_t> buffer, std::uint64_t at) {
          const auto count =
              static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), hostile.size() - at));
          std::copy_n(hostile.begin() + static_cast<std::ptrdiff_t>(at), count, buffer.begin());
          read += count;
          return count;
        },
        hostile.size(), 99, 52);
    EXPECT_LE(read, bmp::kHeadBytes + bmp::kStreamChunk);
    EXPECT_EQ(picture.At(0, 1), kBlack);
    EXPECT_EQ(picture.At(0, 0), kTransparent);
  }
}

// What is not a file at all is the file layer's to refuse, and the commands' to survive
// (FileCommandsTest); here, files that are not BMPs.
TEST_F(CorpusTest, WhatIsNotABmpFailsCleanly) {
  BmpForm form;
  form.width = 4;
  form.height = 4;
  ByteVector header_cut_short = WriteBmp(form, [](int, int) { return kBlack; });
  header_cut_short.resize(20);
  const int descriptors = OpenDescriptorCount();
  EXPECT_FALSE(OpenBytes(BlackPng(), "png.bmp").loaded) << "only the BMP decoder may read a .bmp";
  EXPECT_FALSE(OpenBytes({}, "empty.bmp").loaded);
  EXPECT_FALSE(OpenBytes({'B', 'M'}, "bm.bmp").loaded);
  EXPECT_FALSE(OpenBytes(ByteVector(64, 'a'), "text.bmp").loaded);
  EXPECT_FALSE(OpenBytes(header_cut_short, "header.bmp").loaded);
  EXPECT_EQ(OpenDescriptorCount(), descriptors) << "a refused file is closed";
}

// A file's length is the file kind's business: a short file reads as 0 past its end, a long
// one only as far as 576 bytes. The codec takes bytes from memory of any length the same way.
TEST_F(CorpusTest, BitfilesOfEverySizeReadTheirFirst576Bytes) {
  for (const std::size_t size : {0UL, 1UL, 575UL, 576UL, 577UL, 4096UL}) {
    SCOPED_TRACE(size);
    for (const ByteVector& bytes : {BytePattern(size, 11, 3), ByteVector(size, 0xFF)}) {
      ByteVector expected(576, 0);
      std::copy_n(bytes.begin(), std::min<std::size_t>(size, 576), expected.begin());
      WriteFile(dir_ / "in.bit", bytes);
      Canvas canvas;
      ScriptedDialog open(dir_ / "in.bit");
      RunOpenCommand(canvas, open);
      const BitfileCodec::Bytes from_file = BitfileCodec::Encode(canvas);
      EXPECT_EQ(ByteVector(from_file.begin(), from_file.end()), expected);
      Canvas from_memory;
      BitfileCodec::Decode(bytes, from_memory);
      EXPECT_EQ(BitfileCodec::Encode(from_memory), BitfileCodec::Encode(canvas));
    }
  }
}

TEST_F(CorpusTest, SparseGibibyteFilesAreReadOnlyAsFarAsNeeded) {
  for (const char* name : {"huge.bit", "huge.bmp"}) {
    const fs::path path = dir_ / name;
    WriteFile(path, ByteVector{1});
    fs::resize_file(path, std::uintmax_t{1} << 30U);
    Outcome run;
    const long peak = heap_.PeakOf([&] { run = OpenThenSave(path); });
    if (peak >= 0) {
      EXPECT_LT(peak, 1 << 20) << name << ": only the start is read";
    }
    EXPECT_FALSE(run.loaded);
    if (std::string(name) == "huge.bit") {
      EXPECT_EQ(run.bits,
                BitfileOf([](int x, int y) { return x + y == 0 || (x == 40 && y == 40); }));
    }
    fs::remove(path);
  }
  // Valid pictures in sparse files: a 1 x 1 picture whose pixel lies 1 GiB into the file, and
  // an RLE picture whose end of bitmap comes before a 512 MiB tail. Both load, at the cost of
  // their header and stream.
  BmpForm one = Form(24, Coding::kRgb);
  one.width = 1;
  one.height = 1;
  ByteVector gap = WriteBmp(one, [](int, int) { return kBlack; });
  const std::uint32_t gibibyte = 1U << 30U;
  PutField(gap, 10, gibibyte);
  const ByteVector rle = Write(Form(8, Coding::kRle8));
  const Outcome whole = OpenBytes(rle);
  ASSERT_TRUE(whole.loaded);
  struct Sparse {
    const char* name;
    ByteVector head;     // written at 0
    std::uint64_t size;  // of the whole file
    ByteVector tail;     // written at its end
    ByteVector bits;     // of the picture it loads
  };
  const Sparse sparse[] = {
      {"gap.bmp", ByteVector(gap.begin(), gap.begin() + 54), std::uint64_t{gibibyte} + 4,
       ByteVector(gap.begin() + 54, gap.end()), BitfileOf([](int x, int y) { return x + y == 0; })},
      {"tail.bmp", rle, rle.size() + (std::uint64_t{1} << 29U), {}, whole.bits},
  };
  for (const Sparse& file : sparse) {
    SCOPED_TRACE(file.name);
    const fs::path path = dir_ / file.name;
    {
      // Sparse where the file system allows it: only the head and the tail take room.
      WriteFile(path, file.head);
      fs::resize_file(path, file.size);
      std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
      out.seekp(static_cast<std::streamoff>(file.size - file.tail.size()));
      out.write(reinterpret_cast<const char*>(file.tail.data()),
                static_cast<std::streamsize>(file.tail.size()));
      out.close();
      ASSERT_TRUE(out.good());
    }
    Outcome run;
    const long peak = heap_.PeakOf([&] { run = OpenThenSave(path); });
    if (peak >= 0) {
      EXPECT_LT(peak, 1 << 20) << "only what the canvas shows is read";
    }
    EXPECT_TRUE(run.loaded);
    EXPECT_EQ(run.bits, file.bits);
    fs::remove(path);
  }
}

// Valid pictures far larger than the canvas: they load (past Qt's own 128 MiB guard) and
// only their top-left corner is kept.
TEST_F(CorpusTest, LargeValidPicturesLoadWithinTheBound) {
  const auto corner = [](int x, int y) -> std::uint32_t {
    return x < 96 && y < 48 && Black(x, y) ? kBlack : kWhite;
  };
  // RLE streams are walked whole, up to their end of bitmap, and only their corner kept.
  const struct {
    int bits;
    Coding coding;
    int size;
  } pictures[] = {{1, Coding::kRgb, 8192},
                  {8, Coding::kRgb, 8192},
                  {24, Coding::kRgb, 8192},
                  {8, Coding::kRle8, 2000},
                  {4, Coding::kRle4, 2000}};
  for (const auto& [bits, coding, size] : pictures) {
    SCOPED_TRACE(bits);
    BmpForm form = Form(bits, coding);
    form.width = size;
    form.height = size;
    if (bits == 1) form.palette = {kWhite, kBlack};
    if (bits == 8 || bits == 4) {
      form.palette = {kWhite, kBlack};
      form.colours_used = 2;
    }
    const bool direct = bits > 8;  // clang before 16 captures no structured binding
    const ByteVector bytes = WriteBmp(form, [&](int x, int y) -> std::uint32_t {
      if (direct) return corner(x, y);
      return corner(x, y) == kBlack ? 1U : 0U;
    });
    const Outcome run = OpenBytes(bytes);
    EXPECT_TRUE(run.loaded);
    EXPECT_EQ(run.bits, BitfileOf([](int x, int y) { return Black(x, y); }));
  }
}

}  // namespace
}  // namespace dotloom
