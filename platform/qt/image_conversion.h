// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <QImage>

#include "image/picture.h"

namespace dotloom {

QImage ToQImage(const Picture& picture);

}  // namespace dotloom
