#pragma once

#include <filesystem>

#include "image/picture.h"

namespace dotloom {

// Reads the BMP file at path. Only the top-left clip_width x clip_height pixels are kept,
// since that is all a caller can show. Throws when the file is missing, is not a regular
// file or is not a loadable BMP.
Picture LoadPicture(const std::filesystem::path& path, int clip_width, int clip_height);

// Writes image to path as a 24-bit BMP file, replacing any file of that name only once the
// whole file is written (see ReplaceFileAtomically). Throws on any failure.
void SavePicture(const Picture& image, const std::filesystem::path& path);

}  // namespace dotloom
