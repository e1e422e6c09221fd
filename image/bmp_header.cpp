// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "image/bmp_header.h"

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

namespace dotloom::bmp {
namespace {

constexpr std::uint64_t kFileHeaderSize = 14;

std::uint32_t U16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} | (std::uint32_t{bytes[at + 1]} << 8U);
}

std::uint32_t U32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return U16(bytes, at) | (U16(bytes, at + 2) << 16U);
}

std::int32_t S32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::int32_t>(U32(bytes, at));
}

std::int32_t S16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::int16_t>(U16(bytes, at));
}

[[noreturn]] void Refuse(const std::string& why) { throw BmpError("BMP refused: " + why); }

bool KnownInfoSize(std::uint32_t size) {
  return size == 12 || size == 40 || size == 64 || size == 108 || size == 124;
}

bool KnownCoding(int bits, std::uint32_t compression, std::uint32_t info_size) {
  switch (compression) {
    case 0:
      return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    case 1:
      return bits == 8;
    case 2:
      return bits == 4;
    case 3:
      // In a 64-byte OS/2 header, 3 means Huffman coding, which the decoder does not know.
      return (bits == 16 || bits == 32) && info_size != 64;
    default:
      return false;
  }
}

// Replays the RLE decoder's moves over a map of the bytes it writes. The decoder keeps
// one pointer into the image buffer, rows bottom-up, and clips runs only against the end
// of the first row it writes; the map follows it exactly, so what it calls painted is
// what the decoder writes.
class RleWalk {
 public:
  // indices, when given, receives the palette index of every pixel written, in the
  // decoder's layout (one byte a pixel, rows top-down, decoded_row_bytes apart).
  RleWalk(const Layout& layout, std::span<const std::uint8_t> stream,
          std::vector<std::uint8_t>* indices = nullptr)
      : stream_(stream),
        width_(static_cast<std::int64_t>(layout.width)),
        height_(static_cast<std::int64_t>(layout.height)),
        line_(static_cast<std::int64_t>(layout.decoded_row_bytes)),
        four_bits_(layout.compression == Compression::kRle4),
        painted_(static_cast<std::size_t>(layout.decoded_bytes), false),
        indices_(indices) {
    if (indices_ != nullptr) indices_->assign(static_cast<std::size_t>(layout.decoded_bytes), 0);
  }

  void Run() {
    std::int64_t y = 0;
    std::int64_t p = (height_ - 1) * line_;
    const std::int64_t end = p + width_;
    while (y < height_) {
      std::uint8_t b = 0;
      if (!Next(b)) break;  // the decoder stops quietly; unpainted pixels are caught below
      if (b != 0) {
        const std::int64_t count = std::min<std::int64_t>(b, end - p);
        const std::size_t colour = at_;
        Need(1);  // the colour (or pair of colours) to repeat
        Paint(p, count);
        Record(p, count, [&](std::int64_t i) {
          const std::uint8_t c = stream_[colour];
          return four_bits_ ? static_cast<std::uint8_t>((i % 2 == 0 ? c >> 4U : c) & 0x0FU) : c;
        });
        p += count;
        continue;
      }
      if (!Next(b) || b == 1) break;  // end of bitmap
      if (b == 0) {                   // end of line
        x_ = 0;
        ++y;
        p = (height_ - y - 1) * line_;
      } else if (b == 2) {  // delta: move right and up
        std::uint8_t dx = 0;
        std::uint8_t dy = 0;
        if (!Next(dx) || !Next(dy)) Refuse("RLE delta cut short");
        x_ += dx;
        y += dy;
        if (x_ >= width_) x_ = width_ - 1;
        if (y >= height_) y = height_ - 1;
        p = (height_ - y - 1) * line_ + x_;
      } else {  // absolute run of b pixels
        const std::int64_t count = std::min<std::int64_t>(b, end - p);
        const std::int64_t data = four_bits_ ? (count + 1) / 2 : count;
        const std::size_t first = at_;
        Need(data);
        Paint(p, count);
        Record(p, count, [&](std::int64_t i) {
          if (!four_bits_) return stream_[first + static_cast<std::size_t>(i)];
          const std::uint8_t pair = stream_[first + static_cast<std::size_t>(i / 2)];
          return static_cast<std::uint8_t>((i % 2 == 0 ? pair >> 4U : pair) & 0x0FU);
        });
        p += count;
        // Runs are padded to whole 16-bit words; the decoder's rule, even for clipped runs.
        const bool pad = four_bits_ ? ((((count & 3) + 1) & 2) == 2) : ((count & 1) == 1);
        if (pad) Skip();
      }
    }
    for (std::int64_t row = 0; row < height_; ++row) {
      const auto first = painted_.begin() + row * line_;
      if (!std::all_of(first, first + width_, [](bool set) { return set; })) {
        Refuse("RLE stream leaves pixels unpainted");
      }
    }
  }

 private:
  bool Next(std::uint8_t& byte) {
    if (at_ >= stream_.size()) return false;
    byte = stream_[at_++];
    return true;
  }
  void Need(std::int64_t count) {
    const auto wanted = static_cast<std::size_t>(count);
    if (stream_.size() - at_ < wanted) Refuse("RLE run cut short");
    at_ += wanted;
  }
  void Skip() {
    if (at_ < stream_.size()) ++at_;
  }
  template <typename Value>
  void Record(std::int64_t from, std::int64_t count, const Value& value) {
    if (indices_ == nullptr) return;
    for (std::int64_t i = 0; i < count; ++i) {
      (*indices_)[static_cast<std::size_t>(from + i)] = value(i);
    }
  }
  void Paint(std::int64_t from, std::int64_t count) {
    // The columns of x_ follow every run, as the decoder's do; only deltas read them.
    x_ += count;
    std::fill(painted_.begin() + from, painted_.begin() + from + count, true);
  }

  std::span<const std::uint8_t> stream_;
  std::size_t at_ = 0;
  std::int64_t width_;
  std::int64_t height_;
  std::int64_t line_;
  std::int64_t x_ = 0;
  bool four_bits_;
  std::vector<bool> painted_;
  std::vector<std::uint8_t>* indices_;
};

}  // namespace

Layout CheckHeader(std::span<const std::uint8_t> head, std::uint64_t file_size) {
  if (head.size() > file_size) head = head.first(static_cast<std::size_t>(file_size));
  if (head.size() < kFileHeaderSize + 4) Refuse("too short for a header");
  if (head[0] != 'B' || head[1] != 'M') Refuse("no BM signature");

  Layout layout;
  layout.info_size = U32(head, 14);
  if (!KnownInfoSize(layout.info_size)) Refuse("unknown info header size");
  if (head.size() < kFileHeaderSize + layout.info_size) Refuse("header cut short");

  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint32_t planes = 0;
  std::uint32_t compression = 0;
  std::uint32_t colours_used = 0;
  if (layout.info_size == 12) {
    width = S16(head, 18);
    height = S16(head, 20);
    planes = U16(head, 22);
    layout.bits_per_pixel = static_cast<int>(U16(head, 24));
  } else {
    width = S32(head, 18);
    height = S32(head, 22);
    planes = U16(head, 26);
    layout.bits_per_pixel = static_cast<int>(U16(head, 28));
    compression = U32(head, 30);
    colours_used = U32(head, 46);
  }
  const int bits = layout.bits_per_pixel;
  if (planes != 1) Refuse("planes must be 1");
  if (!KnownCoding(bits, compression, layout.info_size)) Refuse("unknown coding");
  layout.compression = static_cast<Compression>(compression);

  if (width <= 0) Refuse("width must be positive");
  if (height == 0 || height == INT_MIN) Refuse("height out of range");
  layout.width = width;
  layout.top_down = height < 0;
  layout.height = height < 0 ? -height : height;
  const auto w = static_cast<std::uint64_t>(layout.width);
  const auto h = static_cast<std::uint64_t>(layout.height);
  if (w * h > kMaxPixels) Refuse("too many pixels");
  // RLE rows are written bottom-up by definition.
  if (layout.top_down && layout.compression != Compression::kNone &&
      layout.compression != Compression::kBitfields) {
    Refuse("top-down RLE");
  }

  std::uint64_t palette_start = kFileHeaderSize + layout.info_size;
  if (layout.compression == Compression::kBitfields) {
    if (layout.info_size == 40) {
      palette_start += 12;  // the three masks follow the header
      if (head.size() < palette_start) Refuse("bit masks cut short");
    }
    // The decoder scales each field by 256 / (field + 1): a field wider than 8 bits, or with
    // holes, would come out as 0 and turn every pixel black.
    const int masks = layout.info_size == 40 ? 3 : 4;
    for (int i = 0; i < masks; ++i) {
      std::uint32_t mask = U32(head, kFileHeaderSize + 40 + 4 * static_cast<std::size_t>(i));
      while (mask != 0 && (mask & 1U) == 0) mask >>= 1U;
      if (mask > 0xFF) Refuse("bit mask wider than 8 bits");
    }
  }
  if (bits <= 8) {
    if (colours_used > 256) Refuse("palette larger than 256 colours");
    layout.palette_entries = colours_used != 0 ? static_cast<int>(colours_used) : 1 << bits;
  }
  const std::uint64_t entry_size = layout.info_size == 12 ? 3 : 4;
  const std::uint64_t palette_end =
      palette_start + entry_size * static_cast<std::uint64_t>(layout.palette_entries);

  layout.pixel_offset = U32(head, 10);
  if (layout.pixel_offset < palette_end) Refuse("pixel data overlaps the header or palette");
  if (layout.pixel_offset >= file_size) Refuse("pixel data past the end of the file");

  layout.row_bytes = (w * static_cast<std::uint64_t>(bits) + 31) / 32 * 4;
  if (layout.compression == Compression::kRle4 || layout.compression == Compression::kRle8) {
    layout.bytes_needed = file_size;
  } else {
    layout.bytes_needed = layout.pixel_offset + layout.row_bytes * h;
    if (layout.bytes_needed > file_size) Refuse("pixel rows cut short");
  }

  if (bits == 1) {
    layout.decoded_format = DecodedFormat::kMono;
    layout.decoded_row_bytes = (w + 31) / 32 * 4;
  } else if (bits <= 8) {
    layout.decoded_format = DecodedFormat::kIndexed8;
    layout.decoded_row_bytes = (w + 3) / 4 * 4;
  } else {
    layout.decoded_format = DecodedFormat::kRgb32;
    layout.decoded_row_bytes = 4 * w;
  }
  layout.decoded_bytes = layout.decoded_row_bytes * h;
  if (layout.decoded_bytes > 2 * file_size + 12 * kMiB) Refuse("image too large for its file");
  return layout;
}

void CheckRleStream(const Layout& layout, std::span<const std::uint8_t> file) {
  if (layout.compression != Compression::kRle4 && layout.compression != Compression::kRle8) {
    return;
  }
  if (layout.pixel_offset >= file.size()) Refuse("RLE stream missing");
  RleWalk(layout, file.subspan(static_cast<std::size_t>(layout.pixel_offset))).Run();
}

std::vector<std::uint8_t> ExpandRle(const Layout& layout, std::span<const std::uint8_t> file) {
  if (layout.compression != Compression::kRle4 && layout.compression != Compression::kRle8) {
    Refuse("not an RLE image");
  }
  if (layout.pixel_offset >= file.size()) Refuse("RLE stream missing");
  std::vector<std::uint8_t> indices;
  RleWalk(layout, file.subspan(static_cast<std::size_t>(layout.pixel_offset)), &indices).Run();
  return indices;
}

void SetStoredHeight(std::span<std::uint8_t> head, const Layout& layout, int rows) {
  const std::int32_t height = layout.top_down ? -rows : rows;
  const auto bits = static_cast<std::uint32_t>(height);
  const std::size_t at = layout.info_size == 12 ? 20 : 22;
  const std::size_t bytes = layout.info_size == 12 ? 2 : 4;
  if (head.size() < at + bytes) Refuse("header cut short");
  for (std::size_t i = 0; i < bytes; ++i) {
    head[at + i] = static_cast<std::uint8_t>(bits >> (8 * i));
  }
}

Layout Check(std::span<const std::uint8_t> file) {
  const Layout layout = CheckHeader(file, file.size());
  CheckRleStream(layout, file);
  return layout;
}

}  // namespace dotloom::bmp
