// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "window/window_description.h"

#include "commands/file_commands.h"
#include "commands/file_kind.h"

namespace dotloom::window {

const MenuItem& FileMenuItem(Command command) {
  for (const MenuItem& item : kFileMenuItems) {
    if (item.command == command) return item;
  }
  return kFileMenuItems.front();  // not reached: every command has its item
}

void RunThenRepaint(Command command, Canvas& canvas, FileDialog& dialog,
                    const std::function<void()>& repaint) {
  switch (command) {
    case Command::kOpen:
      RunOpenCommand(canvas, dialog);
      break;
    case Command::kSaveAs:
      RunSaveAsCommand(canvas, dialog);
      break;
  }
  repaint();
}

void SetUpCommonDialog1(FileDialog& dialog) { dialog.SetFilter(DialogFilter()); }

}  // namespace dotloom::window
