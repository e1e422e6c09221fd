// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "commands/file_commands.h"

#include <filesystem>
#include <string>

#include "commands/file_kind.h"
#include "image/bitfile_codec.h"
#include "image/picture_files.h"

namespace dotloom {

// Each command is one catch-all: a failure ends it where it stands and says nothing. The
// files it opened are already closed by then, as each is owned by an object on the stack.

void RunOpenCommand(Canvas& canvas, FileDialog& dialog) {
  try {
    dialog.ShowOpen();
    const std::filesystem::path path = dialog.FileName();
    if (path.empty()) return;
    const std::string kind = FileKind(path);
    // Cleared before the kind is known: any chosen file replaces what was drawn.
    canvas.Cls();
    if (kind == kBitfileKind) {
      BitfileCodec::Decode(path, canvas);
    } else if (kind == kBitmapKind) {
      canvas.SetPicture(LoadPicture(path, Canvas::kWidth, Canvas::kHeight));
    }
  } catch (...) {  // NOLINT(bugprone-empty-catch): failing silently is the command's contract
  }
}

void RunSaveAsCommand(const Canvas& canvas, FileDialog& dialog) {
  try {
    dialog.ShowSave();
    const std::filesystem::path path = dialog.FileName();
    if (path.empty()) return;
    const std::string kind = FileKind(path);
    if (kind == kBitfileKind) {
      BitfileCodec::Encode(canvas, path);
    } else if (kind == kBitmapKind) {
      SavePicture(canvas.Image(), path);
    }
  } catch (...) {  // NOLINT(bugprone-empty-catch): failing silently is the command's contract
  }
}

}  // namespace dotloom
