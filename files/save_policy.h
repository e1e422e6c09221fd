// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The save rules, written once over the few steps each system supplies (SaveSystem); the
// system layers only carry the steps out and say, in these terms, how each ended. Not for use
// outside files/ and its tests.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>

#include "files/save_file.h"

namespace dotloom::save {

// How one step ended, as the rules tell failures apart.
enum class Result {
  kOk,
  kNoRoom,       // the disk or a quota is full
  kRefused,      // the folder, the file system or the file's identity does not allow this
                 // way; writing the file in place may still work
  kNameTaken,    // a file of that name exists
  kUnsupported,  // the file system cannot do this; the save goes on without it
  kFailed,       // anything else: the save stops
};

struct Status {
  Result result = Result::kOk;
  std::error_code error;  // the system's own code
  std::string what;
  bool ok() const { return result == Result::kOk; }
};

// What the target turned out to be.
struct Found {
  bool exists = false;
  std::uint64_t links = 0;
};

// The steps of one save of one target, as a system carries them out. The target is the file
// a name leads to, links followed; the sibling is the new file beside it that a whole
// replacement is written to. Refusals that end any save (not a regular file, may not be
// written) are thrown by Look and OpenInPlace as std::system_error.
class SaveSystem {
 public:
  virtual ~SaveSystem() = default;

  // Looks at the target and, when it exists, checks that the user may write it.
  virtual Found Look() = 0;
  // Creates the missing target at its name, exclusively: kNameTaken when one appeared.
  virtual Status CreateTarget() = 0;
  // Opens the existing target to write it where it is.
  virtual Status OpenInPlace() = 0;
  virtual Status ReserveTarget(std::uint64_t size) = 0;
  virtual Status WriteTarget(std::span<const std::uint8_t> bytes, std::uint64_t offset) = 0;
  virtual Status SetTargetLength(std::uint64_t size) = 0;
  virtual Status FlushTarget() = 0;
  virtual Status CloseTarget() = 0;

  // Removes a file (never a folder) that a crashed save left under the sibling's name.
  virtual void RemoveStaleSibling() = 0;
  // False where a rename in the target's folder could not be made to last.
  virtual bool FolderSyncable() = 0;
  // Creates the sibling under the temporary name, or unnamed where the system can.
  virtual Status CreateSibling(bool replacing) = 0;
  // Gives the sibling what the target is (owner, mode, attributes...), and checks it took.
  virtual Status CarryIdentity() = 0;
  virtual Status WriteSibling(std::span<const std::uint8_t> bytes) = 0;
  virtual Status FlushSibling() = 0;
  // Puts the sibling in the target's place; the target must still be the file Look found.
  virtual Status SwapIn() = 0;
  // Gives the sibling the target's name, which must still be free: never over a newcomer.
  virtual Status TakeFreeName() = 0;
  virtual Status SyncFolder() = 0;
  virtual Status CloseSibling() = 0;
  // Removes the sibling of a save that did not finish.
  virtual void DropSibling() noexcept = 0;
};

// Saves bytes by rule through system. Throws std::system_error.
void Save(SaveSystem& system, std::span<const std::uint8_t> bytes, SaveRule rule);

// The sibling's name for a target called name (in the system's own characters): hidden, of
// one fixed length whatever the name, and the same for every save of that file, so that what
// a crash left is found by the next save.
template <typename Char>
std::string SiblingName(std::basic_string_view<Char> name, std::string_view ending = ".tmp") {
  std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a of the name's code units
  for (const Char c : name) {
    hash = (hash ^ static_cast<std::make_unsigned_t<Char>>(c)) * 1099511628211ULL;
  }
  std::string digits(16, '0');
  for (int i = 15; i >= 0; --i, hash >>= 4U)
    digits[static_cast<std::size_t>(i)] = "0123456789abcdef"[hash & 0xFU];
  // Built by appending: GCC 12 warns falsely (-Wrestrict) on "..." + std::string at -O2.
  std::string sibling = ".~dotloom-";
  sibling.append(digits).append(ending);
  return sibling;
}

}  // namespace dotloom::save
