// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include "commands/file_dialog.h"
#include "image/canvas.h"

namespace dotloom {

// File > Open: asks for a path, clears the canvas for any non-empty path, then decodes a
// Bitfile onto it or loads a BMP as its background picture; any other kind draws nothing.
// A failure anywhere ends the command silently, keeping what was already done.
void RunOpenCommand(Canvas& canvas, FileDialog& dialog);

// File > Save As: asks for a path and writes the canvas as a Bitfile or as a BMP file; any
// other kind writes nothing. Never changes the canvas. Failures end it silently.
void RunSaveAsCommand(const Canvas& canvas, FileDialog& dialog);

}  // namespace dotloom
