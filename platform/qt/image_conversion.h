// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <QImage>

#include "image/picture.h"

namespace dotloom {

QImage ToQImage(const Picture& picture);
// At most the top-left clip_width x clip_height pixels of image.
Picture ToPicture(const QImage& image, int clip_width, int clip_height);

}  // namespace dotloom
