// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "image/bmp_rle.h"

#include <algorithm>
#include <array>
#include <vector>

#include "image/bmp_pixels.h"

namespace dotloom::bmp {
namespace {

// Reads a file front to back through a buffer of kStreamChunk bytes, so that a stream of
// any length costs the same memory.
class StreamReader {
 public:
  StreamReader(const ReadAtFunction& read, std::uint64_t from, std::uint64_t end)
      : read_(read), next_(from), end_(end) {}

  bool Next(std::uint8_t& byte) {
    if (at_ == size_) {
      if (next_ >= end_) return false;
      buffer_.resize(kStreamChunk);
      const auto want =
          static_cast<std::size_t>(std::min<std::uint64_t>(kStreamChunk, end_ - next_));
      size_ = read_(std::span<std::uint8_t>(buffer_.data(), want), next_);
      at_ = 0;
      if (size_ == 0) {
        end_ = next_;  // the file shrank; what is left of it ends here
        return false;
      }
      next_ += size_;
    }
    byte = buffer_[at_++];
    return true;
  }

  // A byte that must be there: a run or a delta cut short is refused.
  std::uint8_t Need() {
    std::uint8_t byte = 0;
    if (!Next(byte)) throw BmpError("BMP refused: RLE stream cut short inside a code");
    return byte;
  }

 private:
  const ReadAtFunction& read_;
  std::uint64_t next_;
  std::uint64_t end_;
  std::vector<std::uint8_t> buffer_;
  std::size_t at_ = 0;
  std::size_t size_ = 0;
};

// How many codes a stream may hold: a real file moves on by at least one pixel with each run
// or delta and ends each row once, so twice that is more than any real file needs. What
// comes after it is taken as the end of the bitmap, so the work of one file follows its
// picture, never its length.
std::uint64_t CodeBudget(const Layout& layout) {
  const auto width = static_cast<std::uint64_t>(layout.width);
  const auto height = static_cast<std::uint64_t>(layout.height);
  return 2 * (width * height + height + 1);
}

class RleDecoder {
 public:
  RleDecoder(const Layout& layout, StreamReader& stream, Picture& picture)
      : layout_(layout), stream_(stream), picture_(picture), codes_left_(CodeBudget(layout)) {}

  void Run() {
    const std::int64_t height = layout_.height;
    while (row_ < height) {
      if (codes_left_ == 0) return;
      --codes_left_;
      std::uint8_t count = 0;
      if (!stream_.Next(count)) return Ended();
      if (count != 0) {
        Repeat(count);
        continue;
      }
      std::uint8_t code = 0;
      if (!stream_.Next(code)) return Ended();
      if (code == 0) {  // end of line
        x_ = 0;
        ++row_;
      } else if (code == 1) {  // end of bitmap
        return;
      } else if (code == 2) {  // delta: right and up
        x_ += stream_.Need();
        row_ += stream_.Need();
      } else {
        Absolute(code);
      }
    }
  }

 private:
  // Without an end of bitmap the stream must have reached the last pixel.
  void Ended() const {
    const std::int64_t last = layout_.height - 1;
    if (row_ > last || (row_ == last && x_ >= layout_.width)) return;
    throw BmpError("BMP refused: RLE stream ends before its last pixel");
  }

  Colour Indexed(std::uint32_t index) const { return PaletteColour(layout_.palette, index); }

  Colour ReadBgr() {
    const std::uint8_t blue = stream_.Need();
    const std::uint8_t green = stream_.Need();
    return Rgb(stream_.Need(), green, blue);
  }

  // How many of the next count pixels of the row fall inside the picture kept: none for a
  // row that is not shown or a run past the row's end, so such a run costs one step.
  int Shown(int count) const {
    const std::int64_t y = layout_.height - 1 - row_;
    if (y >= picture_.height() || x_ >= picture_.width()) return 0;
    return static_cast<int>(std::min<std::int64_t>(count, picture_.width() - x_));
  }

  // Paints the next pixels of the row; x_ stays where the run began.
  void Paint(int offset, Colour colour) {
    picture_.Set(static_cast<int>(x_ + offset), static_cast<int>(layout_.height - 1 - row_),
                 colour);
  }

  // count pixels of one colour, or of two alternating colours for RLE4.
  void Repeat(int count) {
    std::array<Colour, 2> pair = {};
    if (layout_.compression == Compression::kRle24) {
      pair[0] = pair[1] = ReadBgr();
    } else {
      const std::uint8_t value = stream_.Need();
      if (layout_.compression == Compression::kRle8) {
        pair[0] = pair[1] = Indexed(value);
      } else {
        pair = {Indexed(value >> 4U), Indexed(value & 0x0FU)};
      }
    }
    const int shown = Shown(count);
    for (int i = 0; i < shown; ++i) Paint(i, pair[static_cast<std::size_t>(i % 2)]);
    x_ += count;
  }

  // count pixels given one by one, padded to a whole number of 16-bit words.
  void Absolute(int count) {
    const int shown = Shown(count);
    int bytes = 0;
    std::uint8_t nibbles = 0;  // RLE4: the byte holding this pixel and the next
    for (int i = 0; i < count; ++i) {
      Colour colour = kTransparent;
      if (layout_.compression == Compression::kRle24) {
        colour = ReadBgr();
        bytes += 3;
      } else if (layout_.compression == Compression::kRle8) {
        colour = Indexed(stream_.Need());
        ++bytes;
      } else if (i % 2 == 0) {
        nibbles = stream_.Need();
        ++bytes;
        colour = Indexed(nibbles >> 4U);
      } else {
        colour = Indexed(nibbles & 0x0FU);
      }
      if (i < shown) Paint(i, colour);
    }
    x_ += count;
    // The padding may be missing at the very end of a file.
    std::uint8_t padding = 0;
    if (bytes % 2 == 1) stream_.Next(padding);
  }

  const Layout& layout_;
  StreamReader& stream_;
  Picture& picture_;
  std::uint64_t codes_left_;
  std::int64_t x_ = 0;
  std::int64_t row_ = 0;  // counted from the bottom
};

}  // namespace

void DecodeRle(const Layout& layout, const ReadAtFunction& read, std::uint64_t file_size,
               Picture& picture) {
  StreamReader stream(read, layout.pixel_offset, file_size);
  RleDecoder(layout, stream, picture).Run();
}

}  // namespace dotloom::bmp
