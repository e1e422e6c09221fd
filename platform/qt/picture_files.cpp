// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "commands/picture_files.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <algorithm>
#include <cstdint>
#include <limits>
#include <span>
#include <stdexcept>
#include <vector>

#include "files/replace_file_contents.h"
#include "image/bmp_header.h"
#include "platform/qt/image_conversion.h"

namespace dotloom {
namespace {

// Qt refuses images past a global allocation limit (128 MiB by default), which would turn
// away a valid 8192 x 8192 BMP. The header check has already bounded the image, so the
// limit is raised to just what this image needs while it decodes.
class AllocationLimit {
 public:
  explicit AllocationLimit(std::uint64_t bytes) : previous_(QImageReader::allocationLimit()) {
    const std::uint64_t mib = bytes / bmp::kMiB + 2;
    const auto limit = static_cast<int>(
        std::min<std::uint64_t>(mib, static_cast<std::uint64_t>(std::numeric_limits<int>::max())));
    QImageReader::setAllocationLimit(std::max(limit, previous_));
  }
  AllocationLimit(const AllocationLimit&) = delete;
  AllocationLimit& operator=(const AllocationLimit&) = delete;
  ~AllocationLimit() { QImageReader::setAllocationLimit(previous_); }

 private:
  int previous_;
};

std::span<const std::uint8_t> ByteSpan(const QByteArray& array) {
  return {reinterpret_cast<const std::uint8_t*>(array.constData()),
          static_cast<std::size_t>(array.size())};
}

// part is what bmp::ShownPart made of a file. It is checked again here, whole, on exactly
// the bytes the decoder will see.
Picture DecodeBmp(std::span<const std::uint8_t> part, int clip_width, int clip_height) {
  const bmp::Layout layout = bmp::Check(part);
  QBuffer device;
  device.setData(
      QByteArray(reinterpret_cast<const char*>(part.data()), static_cast<qsizetype>(part.size())));
  if (!device.open(QIODevice::ReadOnly)) throw std::runtime_error("cannot read picture");
  // The BMP decoder only: a file named .bmp must not reach every decoder Qt has.
  QImageReader reader(&device, "bmp");
  reader.setAutoDetectImageFormat(false);
  reader.setDecideFormatFromContent(false);
  QImage image;
  {
    // Qt checks its limit as if every image had 32 bits a pixel.
    const AllocationLimit limit(4 * static_cast<std::uint64_t>(layout.width) *
                                static_cast<std::uint64_t>(layout.height));
    if (!reader.read(&image) || image.isNull()) {
      throw std::runtime_error("not a loadable picture: " + reader.errorString().toStdString());
    }
  }
  if (image.width() != layout.width || image.height() != layout.height) {
    throw std::runtime_error("picture decoded to an unexpected size");
  }
  // A pixel may name a colour past the end of a short palette; Qt would show it black,
  // the one colour that means something here. It is shown white instead.
  if (image.depth() <= 8) {
    const int colours = image.colorCount();
    const int all = 1 << image.depth();
    if (colours < all) {
      image.setColorCount(all);
      for (int i = colours; i < all; ++i) image.setColor(i, qRgb(0xFF, 0xFF, 0xFF));
    }
  }
  return ToPicture(image, clip_width, clip_height);
}

}  // namespace

Picture LoadPicture(const std::filesystem::path& path, int clip_width, int clip_height) {
  return DecodeBmp(bmp::ReadShownPart(path, clip_width, clip_height), clip_width, clip_height);
}

Picture LoadPictureFromBytes(std::span<const std::uint8_t> bytes, int clip_width, int clip_height) {
  return DecodeBmp(bmp::ShownPartOf(bytes, clip_width, clip_height), clip_width, clip_height);
}

void SavePicture(const Picture& image, const std::filesystem::path& path) {
  // Encoded in memory first: Qt's own file writing can report success after a failed write.
  QByteArray encoded;
  QBuffer buffer(&encoded);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "bmp");
  if (!writer.write(ToQImage(image))) {
    throw std::runtime_error("cannot encode picture: " + writer.errorString().toStdString());
  }
  buffer.close();
  ReplaceFileContents(path, ByteSpan(encoded));
}

}  // namespace dotloom
