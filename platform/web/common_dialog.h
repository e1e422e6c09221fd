// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <filesystem>
#include <optional>

#include "commands/file_dialog.h"

namespace dotloom {

// The file dialog object of the page. The page shows the browser's own dialog (the File
// System Access pickers, or where a browser has none, its file chooser and a name asked in
// the page) and answers with the path of the picked file in the memory file system (see
// files/file_web.cpp). The command waits for the answer; Asyncify carries the wait.
class CommonDialog : public FileDialog {
 protected:
  std::optional<std::filesystem::path> Ask(Purpose purpose,
                                           const std::filesystem::path& folder) override;
};

}  // namespace dotloom
