// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "commands/picture_files.h"

#include <stdexcept>

namespace dotloom {

// Placeholder until the Windows picture services land: every command fails silently.
Picture LoadPicture(const std::filesystem::path&, int, int) {
  throw std::runtime_error("BMP files are not supported yet");
}

Picture LoadPictureFromBytes(std::span<const std::uint8_t>, int, int) {
  throw std::runtime_error("BMP files are not supported yet");
}

void SavePicture(const Picture&, const std::filesystem::path&) {
  throw std::runtime_error("BMP files are not supported yet");
}

}  // namespace dotloom
