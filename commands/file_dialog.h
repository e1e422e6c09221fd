// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>

namespace dotloom {

// The file dialog object the file commands use. Its properties outlive each dialog, like the
// object itself; only showing the system's dialog differs between window systems.
class FileDialog {
 public:
  enum class Purpose { kOpen, kSave };

  virtual ~FileDialog() = default;

  // The classic "label|pattern|label|pattern" text, in UTF-8.
  const std::string& Filter() const { return filter_; }
  void SetFilter(std::string filter) { filter_ = std::move(filter); }

  // Both leave FileName empty when the dialog is cancelled, so a cancelled command reads and
  // writes nothing; a dialog that cannot be shown throws.
  void ShowOpen() { Show(Purpose::kOpen); }
  void ShowSave() { Show(Purpose::kSave); }
  // The path chosen in the dialog last shown, exactly as the user gave it.
  const std::filesystem::path& FileName() const { return file_name_; }

 protected:
  FileDialog() = default;
  FileDialog(const FileDialog&) = default;
  FileDialog& operator=(const FileDialog&) = default;

  // Shows the system's dialog, starting in folder (the system's choice when empty), and
  // returns the chosen path, or nothing when the user cancels. Throws when it cannot.
  virtual std::optional<std::filesystem::path> Ask(Purpose purpose,
                                                   const std::filesystem::path& folder) = 0;

 private:
  void Show(Purpose purpose) {
    // Start in the folder of the last file, as the object remembers it.
    const std::filesystem::path folder = file_name_.parent_path();
    file_name_.clear();
    if (std::optional<std::filesystem::path> chosen = Ask(purpose, folder)) {
      file_name_ = std::move(*chosen);
    }
  }

  std::string filter_;
  std::filesystem::path file_name_;
};

}  // namespace dotloom
