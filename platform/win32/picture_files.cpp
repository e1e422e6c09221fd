// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "commands/picture_files.h"

#include <objbase.h>
#include <wincodec.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "files/replace_file_contents.h"
#include "image/bmp_header.h"

namespace dotloom {
namespace {

using ByteVector = std::vector<std::uint8_t>;

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
// The resolution the Linux build writes into a saved BMP (about 100 dpi), so that both
// builds save the same bytes.
constexpr std::uint32_t kPixelsPerMetre = 3937;

std::uint32_t U16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} | (std::uint32_t{bytes[at + 1]} << 8U);
}

std::uint32_t U32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return U16(bytes, at) | (U16(bytes, at + 2) << 16U);
}

void Put16(ByteVector& out, std::size_t at, std::uint32_t value) {
  out[at] = static_cast<std::uint8_t>(value);
  out[at + 1] = static_cast<std::uint8_t>(value >> 8U);
}

void Put32(ByteVector& out, std::size_t at, std::uint32_t value) {
  Put16(out, at, value);
  Put16(out, at + 2, value >> 16U);
}

// A bottom-up BMP with a 40-byte header and a palette of 2^bits entries (none above 8 bits)
// and room for `rows` rows of width pixels; the caller fills the rows.
ByteVector PlainBmp(int width, int rows, int bits, std::span<const Colour> palette,
                    std::uint64_t& row_bytes) {
  row_bytes = (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bits) + 31) / 32 * 4;
  const std::size_t entries = bits <= 8 ? std::size_t{1} << static_cast<unsigned>(bits) : 0;
  const std::size_t offset = kFileHeaderSize + kInfoHeaderSize + 4 * entries;
  const std::uint64_t image_bytes = row_bytes * static_cast<std::uint64_t>(rows);
  ByteVector out(offset + static_cast<std::size_t>(image_bytes), 0);
  out[0] = 'B';
  out[1] = 'M';
  Put32(out, 2, static_cast<std::uint32_t>(out.size()));
  Put32(out, 10, static_cast<std::uint32_t>(offset));
  Put32(out, 14, kInfoHeaderSize);
  Put32(out, 18, static_cast<std::uint32_t>(width));
  Put32(out, 22, static_cast<std::uint32_t>(rows));
  Put16(out, 26, 1);
  Put16(out, 28, static_cast<std::uint32_t>(bits));
  Put32(out, 34, static_cast<std::uint32_t>(image_bytes));
  Put32(out, 38, kPixelsPerMetre);
  Put32(out, 42, kPixelsPerMetre);
  for (std::size_t i = 0; i < entries; ++i) {
    // Colours past the end of a short palette show white, as in the Linux build.
    const Colour colour = i < palette.size() ? palette[i] : kWhite;
    const std::size_t at = kFileHeaderSize + kInfoHeaderSize + 4 * i;
    out[at] = Blue(colour);
    out[at + 1] = Green(colour);
    out[at + 2] = Red(colour);
  }
  return out;
}

std::size_t PixelsStart(const ByteVector& bmp) { return U32(bmp, 10); }

// The file's palette: entries of 3 bytes after a 12-byte header, of 4 after the others.
std::vector<Colour> Palette(const bmp::Layout& layout, std::span<const std::uint8_t> head) {
  const std::size_t start = kFileHeaderSize + layout.info_size;
  const std::size_t entry = layout.info_size == 12 ? 3 : 4;
  std::vector<Colour> palette;
  for (int i = 0; i < layout.palette_entries && i < 256; ++i) {
    const std::size_t at = start + entry * static_cast<std::size_t>(i);
    palette.push_back(Rgb(head[at + 2], head[at + 1], head[at]));
  }
  return palette;
}

// A colour channel of a direct-colour pixel. Short fields are shifted up without filling the
// low bits (31 of 5 bits is 248), as the Linux build's decoder does; the header check has
// kept every field within 8 bits.
struct Channel {
  std::uint32_t mask = 0;
  unsigned shift = 0;
  unsigned width = 0;

  explicit Channel(std::uint32_t field_mask) : mask(field_mask) {
    while (mask != 0 && (mask >> shift & 1U) == 0) ++shift;
    while (width < 32 && (mask >> (shift + width) & 1U) != 0) ++width;
  }
  std::uint8_t Of(std::uint32_t pixel) const {
    if (mask == 0) return 0;
    return static_cast<std::uint8_t>(((pixel & mask) >> shift) << (8 - width));
  }
};

// Rewrites the top-left width x rows pixels of a checked BMP, file, as a plain BMP that every
// decoder reads the same way: a 40-byte header, rows bottom-up, a full palette padded with
// white, and only what the system's decoders agree on, namely palette images of 1, 4 or 8
// bits and 24- or 32-bit colour. What decoders read differently is turned into that here,
// exactly as the Linux build shows it: 16-bit colour and bit fields (Windows' converters fill
// the low bits of short fields, the Linux decoder does not). RLE streams never get here:
// bmp::ShownPart has already expanded them the way the Linux decoder does. Windows' and
// Wine's decoders then agree with the Linux build's pixel for pixel.
ByteVector Canonical(const bmp::Layout& layout, std::span<const std::uint8_t> file, int width,
                     int rows) {
  // Stored row of image row r (0 on top), and where that row goes in the bottom-up output.
  const auto stored_row = [&](int r) {
    const int j = layout.top_down ? r : layout.height - 1 - r;
    return file.subspan(static_cast<std::size_t>(layout.pixel_offset +
                                                 layout.row_bytes * static_cast<std::uint64_t>(j)),
                        static_cast<std::size_t>(layout.row_bytes));
  };
  std::uint64_t row_bytes = 0;
  const auto out_row = [&](ByteVector& out, int r) {
    return out.data() + PixelsStart(out) +
           static_cast<std::size_t>(rows - 1 - r) * static_cast<std::size_t>(row_bytes);
  };

  const int bits = layout.bits_per_pixel;
  const bool direct_as_is =
      layout.compression == bmp::Compression::kNone && (bits == 24 || bits == 32);
  if (bits <= 8 || direct_as_is) {
    // Pixels are packed from the left, so the shown columns are the start of each row.
    const std::vector<Colour> palette = bits <= 8 ? Palette(layout, file) : std::vector<Colour>{};
    ByteVector out = PlainBmp(width, rows, bits, palette, row_bytes);
    for (int r = 0; r < rows; ++r) {
      std::copy_n(stored_row(r).data(), static_cast<std::size_t>(row_bytes), out_row(out, r));
    }
    return out;
  }

  // 16-bit colour, and bit fields of 16 or 32 bits: to 24 bits.
  std::uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (layout.compression == bmp::Compression::kBitfields) {
    for (std::size_t i = 0; i < 3; ++i) masks[i] = U32(file, kFileHeaderSize + 40 + 4 * i);
  } else if (bits == 32) {
    masks[0] = 0x00FF0000;
    masks[1] = 0x0000FF00;
    masks[2] = 0x000000FF;
  }
  const Channel red(masks[0]);
  const Channel green(masks[1]);
  const Channel blue(masks[2]);
  ByteVector out = PlainBmp(width, rows, 24, {}, row_bytes);
  const std::size_t pixel_bytes = static_cast<std::size_t>(bits) / 8;
  for (int r = 0; r < rows; ++r) {
    const auto row = stored_row(r);
    std::uint8_t* to = out_row(out, r);
    for (int x = 0; x < width; ++x) {
      const std::size_t at = static_cast<std::size_t>(x) * pixel_bytes;
      const std::uint32_t pixel = pixel_bytes == 2 ? U16(row, at) : U32(row, at);
      to[3 * static_cast<std::size_t>(x)] = blue.Of(pixel);
      to[3 * static_cast<std::size_t>(x) + 1] = green.Of(pixel);
      to[3 * static_cast<std::size_t>(x) + 2] = red.Of(pixel);
    }
  }
  return out;
}

// Releases a COM interface on scope exit.
template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() {
    if (pointer_ != nullptr) pointer_->Release();
  }

  Interface* operator->() const { return pointer_; }
  Interface* get() const { return pointer_; }
  Interface** Put() { return &pointer_; }

 private:
  Interface* pointer_ = nullptr;
};

// COM for this thread while a picture decodes. A thread that already has COM in the other
// model keeps it; WIC works in either.
class ComScope {
 public:
  ComScope() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  ~ComScope() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }

 private:
  HRESULT result_;
};

void Check(HRESULT result, const char* what) {
  if (FAILED(result)) {
    throw std::runtime_error(std::string("not a loadable picture: ") + what + " failed (0x" + [&] {
      char hex[9] = {};
      const auto code = static_cast<std::uint32_t>(result);
      for (int i = 0; i < 8; ++i) {
        hex[i] = "0123456789abcdef"[(code >> (28 - 4 * i)) & 0xFU];
      }
      return std::string(hex);
    }() + ")");
  }
}

// The Windows Imaging Component's BMP decoder, and that one only, on a plain BMP in memory.
Picture DecodeWithWic(const ByteVector& plain, int width, int rows, int clip_width,
                      int clip_height) {
  const ComScope com;
  ComPtr<IWICImagingFactory> factory;
  Check(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                           IID_IWICImagingFactory, reinterpret_cast<void**>(factory.Put())),
        "imaging component");
  ComPtr<IWICStream> stream;
  Check(factory->CreateStream(stream.Put()), "stream");
  Check(stream->InitializeFromMemory(const_cast<BYTE*>(plain.data()),
                                     static_cast<DWORD>(plain.size())),
        "stream");
  ComPtr<IWICBitmapDecoder> decoder;
  Check(factory->CreateDecoder(GUID_ContainerFormatBmp, nullptr, decoder.Put()), "BMP decoder");
  Check(decoder->Initialize(stream.get(), WICDecodeMetadataCacheOnDemand), "BMP decoder");
  ComPtr<IWICBitmapFrameDecode> frame;
  Check(decoder->GetFrame(0, frame.Put()), "frame");
  UINT decoded_width = 0;
  UINT decoded_height = 0;
  Check(frame->GetSize(&decoded_width, &decoded_height), "size");
  if (decoded_width != static_cast<UINT>(width) || decoded_height != static_cast<UINT>(rows)) {
    throw std::runtime_error("picture decoded to an unexpected size");
  }
  ComPtr<IWICFormatConverter> converter;
  Check(factory->CreateFormatConverter(converter.Put()), "converter");
  Check(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone,
                              nullptr, 0.0, WICBitmapPaletteTypeCustom),
        "converter");

  const int kept_width = std::clamp(clip_width, 0, width);
  const int kept_height = std::clamp(clip_height, 0, rows);
  Picture picture(kept_width, kept_height);
  if (picture.empty()) return picture;
  const UINT stride = 4 * static_cast<UINT>(kept_width);
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(stride) *
                                   static_cast<std::size_t>(kept_height));
  const WICRect part{0, 0, kept_width, kept_height};
  Check(converter->CopyPixels(&part, stride, static_cast<UINT>(pixels.size()), pixels.data()),
        "pixels");
  for (int y = 0; y < kept_height; ++y) {
    for (int x = 0; x < kept_width; ++x) {
      const std::size_t at = static_cast<std::size_t>(y) * stride + 4 * static_cast<std::size_t>(x);
      picture.Set(x, y, Rgb(pixels[at + 2], pixels[at + 1], pixels[at]));
    }
  }
  return picture;
}

// part is what bmp::ShownPart made of a file. It is checked again here, whole, on exactly
// the bytes that are decoded.
Picture DecodeBmp(std::span<const std::uint8_t> part, int clip_width, int clip_height) {
  const bmp::Layout layout = bmp::Check(part);
  const int width = std::clamp(clip_width, 1, layout.width);
  const int rows = std::clamp(clip_height, 1, layout.height);
  return DecodeWithWic(Canonical(layout, part, width, rows), width, rows, clip_width, clip_height);
}

}  // namespace

Picture LoadPicture(const std::filesystem::path& path, int clip_width, int clip_height) {
  return DecodeBmp(bmp::ReadShownPart(path, clip_width, clip_height), clip_width, clip_height);
}

Picture LoadPictureFromBytes(std::span<const std::uint8_t> bytes, int clip_width, int clip_height) {
  return DecodeBmp(bmp::ShownPartOf(bytes, clip_width, clip_height), clip_width, clip_height);
}

void SavePicture(const Picture& image, const std::filesystem::path& path) {
  // A 24-bit BMP made in memory, the same bytes the Linux build writes, then put in place
  // whole or not at all.
  std::uint64_t row_bytes = 0;
  ByteVector bmp = PlainBmp(image.width(), image.height(), 24, {}, row_bytes);
  const std::size_t start = PixelsStart(bmp);
  for (int y = 0; y < image.height(); ++y) {
    std::uint8_t* row =
        bmp.data() + start +
        static_cast<std::size_t>(image.height() - 1 - y) * static_cast<std::size_t>(row_bytes);
    for (int x = 0; x < image.width(); ++x) {
      const Colour colour = image.At(x, y);
      row[3 * static_cast<std::size_t>(x)] = Blue(colour);
      row[3 * static_cast<std::size_t>(x) + 1] = Green(colour);
      row[3 * static_cast<std::size_t>(x) + 2] = Red(colour);
    }
  }
  ReplaceFileContents(path, bmp);
}

}  // namespace dotloom
