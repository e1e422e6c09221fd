// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "bench/bench_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <QByteArray>
#include <QImage>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace dotloom::bench {
namespace fs = std::filesystem;

namespace {

std::uint32_t ReadLittleEndian(const char* bytes, int count) {
  std::uint32_t value = 0;
  for (int i = 0; i < count; ++i) {
    value |= std::uint32_t{static_cast<std::uint8_t>(bytes[i])} << (8 * i);
  }
  return value;
}

}  // namespace

int DecodeTopRows(const fs::path& path, int rows) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  QByteArray bmp(54, Qt::Uninitialized);
  int decoded = 0;
  if (::pread(fd, bmp.data(), 54, 0) == 54) {
    const std::uint32_t offset = ReadLittleEndian(bmp.constData() + 10, 4);
    const std::uint32_t width = ReadLittleEndian(bmp.constData() + 18, 4);
    const std::uint32_t height = ReadLittleEndian(bmp.constData() + 22, 4);
    const std::uint32_t bits = ReadLittleEndian(bmp.constData() + 28, 2);
    const std::uint64_t row_size = (std::uint64_t{width} * bits + 31) / 32 * 4;
    const auto kept = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(height, static_cast<std::uint64_t>(rows)));
    const std::uint64_t start = offset + row_size * (height - kept);
    const auto count = static_cast<qsizetype>(row_size * kept);
    bmp.resize(54 + count);
    if (::pread(fd, bmp.data() + 54, static_cast<std::size_t>(count), static_cast<off_t>(start)) ==
        count) {
      for (int i = 0; i < 4; ++i) {  // the file's size, the pixels' offset and the height
        bmp[2 + i] = static_cast<char>((54 + count) >> (8 * i));
        bmp[10 + i] = static_cast<char>(54 >> (8 * i));
        bmp[22 + i] = static_cast<char>(kept >> (8 * i));
      }
      decoded = QImage::fromData(bmp, "BMP").height();
    }
  }
  ::close(fd);
  return decoded;
}

}  // namespace dotloom::bench
