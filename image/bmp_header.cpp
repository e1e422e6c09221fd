// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "image/bmp_header.h"

#include <algorithm>
#include <array>
#include <climits>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "files/regular_file.h"

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

 private:
  const ReadAtFunction& read_;
  std::uint64_t next_;
  std::uint64_t end_;
  std::vector<std::uint8_t> buffer_;
  std::size_t at_ = 0;
  std::size_t size_ = 0;
};

// Replays the RLE decoder's moves over the bytes it writes. The decoder keeps one pointer
// into the image buffer, rows bottom-up, and clips runs only against the end of the first
// row it writes; the walk follows it exactly, so what it calls painted is what the decoder
// writes. Neither the image nor the stream is held: the pixels not yet painted are kept as
// gaps, and the values only of the top-left keep_width x keep_rows pixels the canvas shows.
class RleWalk {
 public:
  RleWalk(const Layout& layout, StreamReader& stream, int keep_width, int keep_rows)
      : stream_(stream),
        width_(static_cast<std::int64_t>(layout.width)),
        height_(static_cast<std::int64_t>(layout.height)),
        line_(static_cast<std::int64_t>(layout.decoded_row_bytes)),
        four_bits_(layout.compression == Compression::kRle4),
        keep_width_(keep_width),
        keep_end_(static_cast<std::int64_t>(keep_rows) * line_),
        kept_(static_cast<std::size_t>(keep_width) * static_cast<std::size_t>(keep_rows), 0) {}

  void Run() {
    std::int64_t y = 0;
    Reach(0);
    std::int64_t p = (height_ - 1) * line_;
    const std::int64_t end = p + width_;
    std::array<std::uint8_t, 255> data{};
    while (y < height_) {
      std::uint8_t b = 0;
      if (!stream_.Next(b)) break;  // the decoder stops quietly; unpainted pixels are caught below
      if (b != 0) {
        const std::int64_t count = std::min<std::int64_t>(b, end - p);
        std::uint8_t colour = 0;  // the colour (or pair of colours) to repeat
        if (!stream_.Next(colour)) Refuse("RLE run cut short");
        Paint(p, count, [&](std::int64_t i) { return four_bits_ ? Nibble(colour, i) : colour; });
        p += count;
        continue;
      }
      if (!stream_.Next(b) || b == 1) break;  // end of bitmap
      if (b == 0) {                           // end of line
        x_ = 0;
        ++y;
        if (y < height_) Reach(y);
        p = (height_ - y - 1) * line_;
      } else if (b == 2) {  // delta: move right and up
        std::uint8_t dx = 0;
        std::uint8_t dy = 0;
        if (!stream_.Next(dx) || !stream_.Next(dy)) Refuse("RLE delta cut short");
        x_ += dx;
        y += dy;
        if (x_ >= width_) x_ = width_ - 1;
        if (y >= height_) y = height_ - 1;
        Reach(y);
        p = (height_ - y - 1) * line_ + x_;
      } else {  // absolute run of b pixels
        const std::int64_t count = std::min<std::int64_t>(b, end - p);
        const std::int64_t bytes = four_bits_ ? (count + 1) / 2 : count;
        for (std::int64_t i = 0; i < bytes; ++i) {
          if (!stream_.Next(data[static_cast<std::size_t>(i)])) Refuse("RLE run cut short");
        }
        Paint(p, count, [&](std::int64_t i) {
          return four_bits_ ? Nibble(data[static_cast<std::size_t>(i / 2)], i)
                            : data[static_cast<std::size_t>(i)];
        });
        p += count;
        // Runs are padded to whole 16-bit words; the decoder's rule, even for clipped runs.
        const bool pad = four_bits_ ? ((((count & 3) + 1) & 2) == 2) : ((count & 1) == 1);
        std::uint8_t ignored = 0;
        if (pad) stream_.Next(ignored);
      }
    }
    if (reached_ < height_ - 1 || !gaps_.empty()) Refuse("RLE stream leaves pixels unpainted");
  }

  // Row by row from the top, keep_width values each.
  const std::vector<std::uint8_t>& kept() const { return kept_; }

 private:
  // More gaps than this at once are refused: a stream that paints as the format means to
  // leaves at most a few.
  static constexpr std::size_t kMaxGaps = std::size_t{1} << 14U;

  static std::uint8_t Nibble(std::uint8_t pair, std::int64_t i) {
    return (i & 1) == 0 ? static_cast<std::uint8_t>(pair >> 4U)
                        : static_cast<std::uint8_t>(pair & 0x0FU);
  }

  // Rows up to y are now within the decoder's reach; each starts unpainted.
  void Reach(std::int64_t y) {
    for (; reached_ < y; ++reached_) {
      const std::int64_t start = (height_ - reached_ - 2) * line_;
      gaps_.emplace(start, start + width_);
      if (gaps_.size() > kMaxGaps) Refuse("RLE stream leaves too many pixels unpainted");
    }
  }

  template <typename Value>
  void Paint(std::int64_t from, std::int64_t count, const Value& value) {
    // The columns of x_ follow every run, as the decoder's do; only deltas read them.
    x_ += count;
    if (count <= 0) return;
    const std::int64_t to = from + count;
    auto gap = gaps_.upper_bound(from);
    if (gap != gaps_.begin() && std::prev(gap)->second > from) --gap;
    while (gap != gaps_.end() && gap->first < to) {
      const auto [start, stop] = *gap;
      gap = gaps_.erase(gap);
      if (start < from) gaps_.emplace(start, from);
      if (stop > to) {
        gaps_.emplace(to, stop);
        break;
      }
    }
    for (std::int64_t i = 0; i < count && from + i < keep_end_; ++i) {
      const std::int64_t column = (from + i) % line_;
      if (column < keep_width_) {
        kept_[static_cast<std::size_t>((from + i) / line_ * keep_width_ + column)] = value(i);
      }
    }
  }

  StreamReader& stream_;
  std::int64_t width_;
  std::int64_t height_;
  std::int64_t line_;
  std::int64_t x_ = 0;
  bool four_bits_;
  std::int64_t keep_width_;
  std::int64_t keep_end_;  // the kept pixels lie before this position
  std::vector<std::uint8_t> kept_;
  std::int64_t reached_ = -1;
  std::map<std::int64_t, std::int64_t> gaps_;  // unpainted [start, stop) ranges, by start
};

void PutLittle(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) {
    bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

std::uint64_t PaletteEnd(const Layout& layout) {
  std::uint64_t end = kFileHeaderSize + layout.info_size;
  if (layout.compression == Compression::kBitfields && layout.info_size == 40) end += 12;
  return end +
         (layout.info_size == 12 ? 3U : 4U) * static_cast<std::uint64_t>(layout.palette_entries);
}

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
  const ReadAtFunction read = [&](std::span<std::uint8_t> buffer, std::uint64_t offset) {
    if (offset >= file.size()) return std::size_t{0};
    const auto at = static_cast<std::size_t>(offset);
    const std::size_t count = std::min(buffer.size(), file.size() - at);
    std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(at), count, buffer.begin());
    return count;
  };
  StreamReader stream(read, layout.pixel_offset, file.size());
  RleWalk(layout, stream, 0, 0).Run();
}

std::vector<std::uint8_t> ShownPart(const Layout& layout, std::span<const std::uint8_t> head,
                                    std::uint64_t file_size, const ReadAtFunction& read,
                                    int clip_width, int clip_height) {
  const int width = std::clamp(clip_width, 1, layout.width);
  const int rows = std::clamp(clip_height, 1, layout.height);
  const std::uint64_t palette_end = PaletteEnd(layout);
  if (head.size() < palette_end) Refuse("header cut short");
  const auto bits = static_cast<std::uint64_t>(layout.bits_per_pixel);
  const std::uint64_t row_bytes = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
  const std::uint64_t pixel_bytes = row_bytes * static_cast<std::uint64_t>(rows);

  std::vector<std::uint8_t> part(head.begin(),
                                 head.begin() + static_cast<std::ptrdiff_t>(palette_end));
  part.resize(static_cast<std::size_t>(palette_end + pixel_bytes), 0);
  std::uint8_t* const pixels = part.data() + palette_end;
  const bool rle =
      layout.compression == Compression::kRle4 || layout.compression == Compression::kRle8;
  // Where display row r (0 on top) goes in the new file, which keeps the old direction.
  const auto stored = [&](int r) {
    return static_cast<std::uint64_t>(layout.top_down ? r : rows - 1 - r);
  };
  if (rle) {
    StreamReader stream(read, layout.pixel_offset, file_size);
    RleWalk walk(layout, stream, width, rows);
    walk.Run();
    const std::vector<std::uint8_t>& kept = walk.kept();
    for (int r = 0; r < rows; ++r) {
      std::uint8_t* row = pixels + stored(r) * row_bytes;
      for (int x = 0; x < width; ++x) {
        const std::uint8_t value =
            kept[static_cast<std::size_t>(r) * static_cast<std::size_t>(width) +
                 static_cast<std::size_t>(x)];
        if (bits == 8) {
          row[x] = value;
        } else {
          row[x / 2] |= static_cast<std::uint8_t>((x & 1) == 0 ? value << 4U : value);
        }
      }
    }
  } else {
    // The top rows and left columns only, read where they lie: a gap before them, or rows
    // and columns past what is shown, cost nothing.
    const std::uint64_t first_stored =
        layout.top_down ? 0 : static_cast<std::uint64_t>(layout.height - rows);
    for (std::uint64_t s = 0; s < static_cast<std::uint64_t>(rows); ++s) {
      const std::uint64_t offset = layout.pixel_offset + (first_stored + s) * layout.row_bytes;
      const std::span<std::uint8_t> row(pixels + s * row_bytes,
                                        static_cast<std::size_t>(row_bytes));
      if (read(row, offset) != row.size()) Refuse("BMP file shrank while read");
    }
  }

  PutLittle(part, 2, static_cast<std::uint32_t>(part.size()), 4);
  PutLittle(part, 10, static_cast<std::uint32_t>(palette_end), 4);
  const std::int32_t height = layout.top_down ? -rows : rows;
  if (layout.info_size == 12) {
    PutLittle(part, 18, static_cast<std::uint32_t>(width), 2);
    PutLittle(part, 20, static_cast<std::uint32_t>(height), 2);
  } else {
    PutLittle(part, 18, static_cast<std::uint32_t>(width), 4);
    PutLittle(part, 22, static_cast<std::uint32_t>(height), 4);
    if (rle) PutLittle(part, 30, 0, 4);  // uncompressed now
    PutLittle(part, 34, static_cast<std::uint32_t>(pixel_bytes), 4);
  }
  return part;
}

std::vector<std::uint8_t> ReadShownPart(const std::filesystem::path& path, int clip_width,
                                        int clip_height) {
  // Opened by us, so that only a regular file is read and nothing blocks.
  RegularFile file = RegularFile::OpenForReading(path);
  const std::uint64_t size = file.Size();
  std::vector<std::uint8_t> head(
      static_cast<std::size_t>(std::min<std::uint64_t>(size, kHeadBytes)));
  head.resize(file.ReadAt(head, 0));
  const Layout layout = CheckHeader(head, size);
  std::vector<std::uint8_t> part = ShownPart(
      layout, head, size,
      [&](std::span<std::uint8_t> buffer, std::uint64_t offset) {
        return file.ReadAt(buffer, offset);
      },
      clip_width, clip_height);
  file.Close();
  return part;
}

std::vector<std::uint8_t> ShownPartOf(std::span<const std::uint8_t> file, int clip_width,
                                      int clip_height) {
  const Layout layout = CheckHeader(file, file.size());
  return ShownPart(
      layout, file, file.size(),
      [&](std::span<std::uint8_t> buffer, std::uint64_t offset) {
        if (offset >= file.size()) return std::size_t{0};
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), file.size() - offset));
        std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(offset), count, buffer.begin());
        return count;
      },
      clip_width, clip_height);
}

Layout Check(std::span<const std::uint8_t> file) {
  const Layout layout = CheckHeader(file, file.size());
  CheckRleStream(layout, file);
  return layout;
}

}  // namespace dotloom::bmp
