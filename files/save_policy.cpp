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

// Removes the sibling on every way out but success. Before the file is written in place
// too, so that a disk too full for the copy has its room back.
class SiblingGuard {
 public:
  explicit SiblingGuard(SaveSystem& system) : system_(system) {}
  SiblingGuard(const SiblingGuard&) = delete;
  SiblingGuard& operator=(const SiblingGuard&) = delete;
  ~SiblingGuard() {
    if (!kept_) system_.DropSibling();
  }
  void Keep() { kept_ = true; }

 private:
  SaveSystem& system_;
  bool kept_ = false;
};

// Bytes over the start of the file, nothing past them touched. The target is looked at
// again when a name appears between the look and the create.
void OverwriteStart(SaveSystem& system, std::span<const std::uint8_t> bytes) {
  constexpr int kTries = 4;
  for (int i = 0; i < kTries; ++i) {
    if (system.Look().exists) {
      Require(system.OpenInPlace());
    } else if (const Status created = system.CreateTarget(); created.result == Result::kNameTaken) {
      continue;
    } else {
      Require(created);
    }
    Require(system.WriteTarget(bytes, 0));
    Require(system.CloseTarget());
    return;
  }
  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                          "file keeps changing");
}

// The file itself, written where it is: its identity stays whatever it was. Room is reserved
// first, so that a full disk fails before a byte changes.
void WriteInPlace(SaveSystem& system, std::span<const std::uint8_t> bytes) {
  Require(system.OpenInPlace());
  if (const Status reserved = system.ReserveTarget(bytes.size());
      reserved.result != Result::kUnsupported) {
    Require(reserved);
  }
  Require(system.WriteTarget(bytes, 0));
  Require(system.SetTargetLength(bytes.size()));
  Require(system.FlushTarget());
  Require(system.CloseTarget());
}

// A new name: the bytes go on disk under the sibling, which then takes the free name.
void CreateWhole(SaveSystem& system, std::span<const std::uint8_t> bytes) {
  // A folder that may not be read cannot be synced; the file is made all the same.
  const bool syncable = system.FolderSyncable();
  SiblingGuard sibling(system);
  Require(system.CreateSibling(false));
  Require(system.WriteSibling(bytes));
  Require(system.FlushSibling());
  Require(system.TakeFreeName());
  sibling.Keep();
  if (syncable) Require(system.SyncFolder());
  Require(system.CloseSibling());
}

// Replaces the existing target by a sibling that carries all it was. False, with nothing
// changed, where the disk has no room for the copy, or the folder or the target's identity
// does not allow it: the file is then written in place.
bool ReplaceByCopy(SaveSystem& system, std::span<const std::uint8_t> bytes) {
  if (!system.FolderSyncable()) return false;  // the swap could not be made to last
  SiblingGuard sibling(system);
  const auto went = [](const Status& status) {
    if (status.ok()) return true;
    if (status.result == Result::kNoRoom || status.result == Result::kRefused) return false;
    Throw(status);
  };
  if (!went(system.CreateSibling(true)) || !went(system.CarryIdentity()) ||
      !went(system.WriteSibling(bytes)) || !went(system.FlushSibling()) || !went(system.SwapIn())) {
    return false;
  }
  // From here on the new file has the name: a failure is reported, never retried in place.
  sibling.Keep();
  Require(system.SyncFolder());
  Require(system.CloseSibling());
  return true;
}

}  // namespace

void Save(SaveSystem& system, std::span<const std::uint8_t> bytes, SaveRule rule) {
  if (rule == SaveRule::kOverwriteStart) {
    OverwriteStart(system, bytes);
    return;
  }
  const Found found = system.Look();
  system.RemoveStaleSibling();
  if (!found.exists) {
    CreateWhole(system, bytes);
    return;
  }
  // Other names (hard links) would keep the old bytes after a replacement.
  if (found.links > 1 || !ReplaceByCopy(system, bytes)) WriteInPlace(system, bytes);
}

}  // namespace dotloom::save
