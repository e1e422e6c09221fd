// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "commands/file_commands.h"

#include <filesystem>

#include "commands/file_kind.h"

namespace dotloom {

// Each command is one catch-all: a failure ends it where it stands and says nothing. The
// files it opened are already closed by then, as each is owned by an object on the stack.

void RunOpenCommand(Canvas& canvas, FileDialog& dialog) {
  try {
    dialog.ShowOpen();
    const std::filesystem::path path = dialog.FileName();
    if (path.empty()) return;
    // Cleared whatever the kind: any chosen file replaces what was drawn.
    canvas.Cls();
    if (const FileKindRow* kind = FindFileKind(path); kind != nullptr && kind->open != nullptr) {
      kind->open(path, canvas);
    }
  } catch (...) {  // NOLINT(bugprone-empty-catch): failing silently is the command's contract
  }
}

void RunSaveAsCommand(const Canvas& canvas, FileDialog& dialog) {
  try {
    dialog.ShowSave();
    const std::filesystem::path path = dialog.FileName();
    if (path.empty()) return;
    if (const FileKindRow* kind = FindFileKind(path); kind != nullptr && kind->save != nullptr) {
      kind->save(canvas, path);
    }
  } catch (...) {  // NOLINT(bugprone-empty-catch): failing silently is the command's contract
  }
}

}  // namespace dotloom
