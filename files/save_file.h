// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

namespace dotloom {

// How a save treats a file that is already there.
enum class SaveRule {
  // The file ends up holding bytes and nothing else, keeping what it was: its owner, group,
  // mode, links, chattr flags and extended attributes (ACLs and file capabilities among them;
  // on Windows its attributes and security settings). A symbolic link is followed, so the link
  // stays a link; a target that exists but is not a regular file is refused, as RegularFile
  // refuses it.
  //
  //   - A new name is created whole: the bytes go to a new file that takes the name only once
  //     they are all on disk, and never over a file that appeared meanwhile. Where the file
  //     system cannot give a name without replacing (FAT, most FUSE file systems), the name is
  //     created exclusively and written: a crash may then leave it short.
  //   - Over an existing file, the user must be allowed to write that file; if not, nothing
  //     changes. When a new file can take over everything the old one was (one link, and on
  //     POSIX the same owner, group, mode, flags and every extended attribute the user can
  //     see) and the folder and file system allow it, the new file replaces the old one
  //     whole: all or nothing, and never over a file that took the name meanwhile.
  //   - Otherwise, and where the disk has no room for a second copy, the file is written in
  //     place: room is reserved first, so that a full disk changes nothing, then the bytes are
  //     written and the length set.
  //
  // What no way can keep is lost: a setgid bit of a group the user is not in, a file
  // capability the user may not set, and trusted.* attributes, which only an administrator
  // can see. The bytes are on disk before success is reported, and so is the folder after a
  // rename. No file the call made outlives it; one that a crash left is removed by the next
  // save of the same file, and never one that another save is using.
  kReplaceWhole,
  // The bytes are written over the start of the file where it is, and nothing past them
  // changes: the file is never truncated or moved. A missing file is created exclusively; a
  // name that appears meanwhile is looked at again, never opened blindly.
  kOverwriteStart,
};

// Saves bytes to target by rule. What a name may lead to is RegularFile's rule: only regular
// files. Throws std::system_error, as RegularFile does.
void SaveFile(const std::filesystem::path& target, std::span<const std::uint8_t> bytes,
              SaveRule rule);

}  // namespace dotloom
