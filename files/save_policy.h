// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The save rules, written once over the few steps each system supplies (SaveSystem); the
// system layers only carry the steps out and say, in these terms, how each ended. Not for use
// outside files/ and its tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>

#include "base/system_error.h"
#include "files/save_file.h"

namespace dotloom::save {

// How one step ended, as the rules tell failures apart.
enum class Result {
  kOk,
  kNoRoom,     // the disk or a quota is full
  kRefused,    // the folder, the file system or the file's identity does not allow this way;
               // a plainer way (in place, or an exclusive create) may still work
  kNameTaken,  // a file of that name exists
  kFailed,     // anything else: the save stops
};

struct Status {
  Result result = Result::kOk;
  std::error_code error;  // the system's own code
  std::string what;
  bool ok() const { return result == Result::kOk; }
};

// A failed step: its result told by the system's lists of its own codes.
template <typename Code>
Status Failure(Code code, const std::error_category& category, std::string what,
               std::span<const Code> no_room, std::span<const Code> taken,
               std::span<const Code> refused) {
  const Result result = OneOf(code, no_room)   ? Result::kNoRoom
                        : OneOf(code, taken)   ? Result::kNameTaken
                        : OneOf(code, refused) ? Result::kRefused
                                               : Result::kFailed;
  return {result, std::error_code(static_cast<int>(code), category), std::move(what)};
}
// A step after which no other way may be tried, whatever its error.
inline Status Final(Status status) {
  if (!status.ok()) status.result = Result::kFailed;
  return status;
}

// The steps of one save of one target, as a system carries them out, each whole. The target
// is the file a name leads to, links followed; the sibling is a new file beside it that the
// bytes go to first, under a name no other save can take (SiblingName).
class SaveSystem {
 public:
  virtual ~SaveSystem() = default;

  // Follows the name's links and, when the target exists, opens it for writing: its count of
  // links, 0 when there is none. Throws std::system_error for what no save may write: not a
  // regular file, or not the user's to write.
  virtual std::uint64_t OpenTarget() = 0;
  // Creates the missing target exclusively and opens it: kNameTaken when a name appeared.
  virtual Status CreateTarget() = 0;
  // Reserves room for size bytes: kNoRoom on a full disk, kRefused where the file system
  // cannot reserve (the writes go on without).
  virtual Status ReserveTarget(std::uint64_t size) = 0;
  // Writes bytes over the start of the open target and closes it. With whole, also sets its
  // length to theirs, gives back what the write took from its mode, and flushes it first.
  virtual Status WriteTarget(std::span<const std::uint8_t> bytes, bool whole) = 0;

  // Removes the siblings that earlier saves of the target left and no save holds now.
  virtual void RemoveStaleSiblings() = 0;
  // Writes bytes to a new sibling and flushes it.
  virtual Status WriteSibling(std::span<const std::uint8_t> bytes) = 0;
  // Gives the sibling what the target is (owner, attributes, mode...), and checks it took.
  virtual Status CarryIdentity() = 0;
  // Puts the sibling in the target's place, only over the file OpenTarget opened, and makes
  // that last. A failure after the sibling has the name is kFailed.
  virtual Status SwapIn() = 0;
  // Gives the sibling the target's name, which must still be free, and makes that last.
  virtual Status TakeFreeName() = 0;
  // Removes what a step that did not finish made: the sibling, or the target it created.
  virtual void Drop() noexcept = 0;
};

// Saves bytes by rule through system. Throws std::system_error.
void Save(SaveSystem& system, std::span<const std::uint8_t> bytes, SaveRule rule);

// What every sibling name of a target called name (in the system's own characters) starts
// with: hidden, of one fixed length whatever the name, and one for all saves of that file,
// so that what a crash left is found by the next save.
inline std::string Hex(std::uint64_t bits) {
  char digits[17];
  std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(bits));
  return digits;
}
template <typename Char>
std::string SiblingPrefix(std::basic_string_view<Char> name) {
  std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a of the name's code units
  for (const Char c : name) {
    hash = (hash ^ static_cast<std::make_unsigned_t<Char>>(c)) * 1099511628211ULL;
  }
  // Built by appending: GCC 12 warns falsely (-Wrestrict) on "..." + std::string at -O2.
  std::string prefix = ".~dotloom-";
  return prefix.append(Hex(hash)).append("-");
}
inline constexpr std::string_view kSiblingEnding = ".tmp";

// A sibling name of its own for one save: the prefix, 16 random hex digits and the ending.
// Nobody can tell it in advance, so nobody can make it first.
template <typename Char>
std::string SiblingName(std::basic_string_view<Char> name) {
  std::random_device random;  // the system's own source: a forked copy draws other names
  return SiblingPrefix(name)
      .append(Hex((std::uint64_t{random()} << 32U) ^ random()))
      .append(kSiblingEnding);
}

}  // namespace dotloom::save
