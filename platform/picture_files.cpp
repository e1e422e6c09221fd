#include "platform/picture_files.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QRect>
#include <algorithm>
#include <cstdint>
#include <span>
#include <stdexcept>

#include "image/regular_file.h"
#include "platform/image_conversion.h"

namespace dotloom {

Picture LoadPicture(const std::filesystem::path& path, int clip_width, int clip_height) {
  // Opened by us first, so that only a regular file reaches the decoder and nothing blocks.
  RegularFile file = RegularFile::OpenForReading(path);
  QFile device;
  if (!device.open(file.descriptor(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
    throw std::runtime_error("cannot read picture file");
  }
  // The BMP decoder only: a file named .bmp must not reach every decoder Qt has.
  QImageReader reader(&device, "bmp");
  reader.setAutoDetectImageFormat(false);
  reader.setDecideFormatFromContent(false);
  QImage image;
  if (!reader.read(&image) || image.isNull()) {
    throw std::runtime_error("not a loadable picture: " + reader.errorString().toStdString());
  }
  device.close();
  file.Close();
  return ToPicture(image, clip_width, clip_height);
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
  ReplaceFileAtomically(path, std::span(reinterpret_cast<const std::uint8_t*>(encoded.constData()),
                                        static_cast<std::size_t>(encoded.size())));
}

}  // namespace dotloom
