// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The save rules of both systems; see save_file.h for what each rule promises.
#include "files/save_policy.h"

namespace dotloom::save {
namespace {

[[noreturn]] void Throw(const Status& status) {
  throw std::system_error(status.error, status.what);
}

void Require(const Status& status) {
  if (!status.ok()) Throw(status);
}

// True when the step went; false when it was refused (or, with no_room, found no room) and
// a plainer way is left; throws otherwise.
bool Went(const Status& status, bool no_room = false) {
  if (status.ok()) return true;
  if (status.result == Result::kRefused || (no_room && status.result == Result::kNoRoom)) {
    return false;
  }
  Throw(status);
}

// Bytes over the start of the file, nothing past them touched. The target is looked at
// again when a name appears between the look and the create.
void OverwriteStart(SaveSystem& system, std::span<const std::uint8_t> bytes) {
  constexpr int kTries = 4;
  for (int i = 0; i < kTries; ++i) {
    if (system.OpenTarget() == 0) {
      const Status created = system.CreateTarget();
      if (created.result == Result::kNameTaken) continue;
      Require(created);
    }
    Require(system.WriteTarget(bytes, false));
    return;
  }
  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                          "file keeps changing");
}

// The file itself, written where it is: its identity stays whatever it was. Room is reserved
// first, so that a full disk fails before a byte changes.
void WriteInPlace(SaveSystem& system, std::span<const std::uint8_t> bytes) {
  if (const Status reserved = system.ReserveTarget(bytes.size());
      reserved.result != Result::kRefused) {
    Require(reserved);
  }
  Require(system.WriteTarget(bytes, true));
}

// A new name, whole: the bytes go on disk under the sibling, which then takes the free name.
// False, with nothing made, where the folder or the file system allows no sibling or no
// naming that never replaces.
bool CreateWhole(SaveSystem& system, std::span<const std::uint8_t> bytes) {
  if (Went(system.WriteSibling(bytes)) && Went(system.TakeFreeName())) return true;
  system.Drop();
  return false;
}

// A new name made exclusively and written: there are no old bytes to lose.
void CreateInPlace(SaveSystem& system, std::span<const std::uint8_t> bytes) {
  Require(system.CreateTarget());
  Require(system.WriteTarget(bytes, true));
}

// Replaces the existing target by a sibling that carries all it was. False, with nothing
// changed, where the disk has no room for the copy, or the folder or the target's identity
// does not allow it: the file is then written in place.
bool ReplaceByCopy(SaveSystem& system, std::span<const std::uint8_t> bytes) {
  if (Went(system.WriteSibling(bytes), true) && Went(system.CarryIdentity()) &&
      Went(system.SwapIn())) {
    return true;
  }
  system.Drop();
  return false;
}

}  // namespace

void Save(SaveSystem& system, std::span<const std::uint8_t> bytes, SaveRule rule) {
  if (rule == SaveRule::kOverwriteStart) {
    OverwriteStart(system, bytes);
    return;
  }
  const std::uint64_t links = system.OpenTarget();
  system.RemoveStaleSiblings();
  try {
    if (links == 0) {
      if (!CreateWhole(system, bytes)) CreateInPlace(system, bytes);
    } else if (links > 1 || !ReplaceByCopy(system, bytes)) {
      // Other names (hard links) would keep the old bytes after a replacement.
      WriteInPlace(system, bytes);
    }
  } catch (...) {
    system.Drop();  // what the save made and did not finish
    throw;
  }
}

}  // namespace dotloom::save
