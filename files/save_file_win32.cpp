// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The steps of a save over Windows: a new file swapped in with ReplaceFileW, which keeps the
// old one's security settings, or the old file itself written where it is. The rules that
// choose are save_policy.cpp's.
#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>

#include "base/system_error.h"
#include "files/save_file.h"
#include "files/save_policy.h"
#include "files/win32_path.h"

namespace dotloom {
namespace fs = std::filesystem;
namespace {
using namespace win32files;
using save::Result;
using Step = save::Status;

constexpr DWORD kDiskQuotaExceeded = 1295;  // ERROR_DISK_QUOTA_EXCEEDED
// The disk has no room for a second copy, or for the reservation of an in-place write.
constexpr DWORD kNoRoom[] = {ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL, ERROR_NOT_ENOUGH_QUOTA,
                             kDiskQuotaExceeded};
// A name that exists.
constexpr DWORD kExists[] = {ERROR_FILE_EXISTS, ERROR_ALREADY_EXISTS};

Step Done() { return {}; }
// The step failed with error: no room, a name taken, or a folder that refuses (access
// denied, where in place may still work), else a failure that ends the save.
Step Failed(DWORD error, std::string what) {
  Result result = Result::kFailed;
  if (OneOf(error, kNoRoom)) {
    result = Result::kNoRoom;
  } else if (OneOf(error, kExists)) {
    result = Result::kNameTaken;
  } else if (error == ERROR_ACCESS_DENIED) {
    result = Result::kRefused;
  }
  return {result, std::error_code(static_cast<int>(error), std::system_category()),
          std::move(what)};
}
Step Checked(bool done, std::string what) {
  return done ? Done() : Failed(::GetLastError(), std::move(what));
}
// A step that is never retried another way, whatever its error.
Step Final(Step step) {
  if (!step.ok()) step.result = Result::kFailed;
  return step;
}

// Removes the file at path now where the system allows it (POSIX semantics, so that its name
// goes at once even while another program has it open), else when its last handle closes.
// A file that cannot be opened for deletion stays, for the next save to remove.
void Remove(const std::wstring& path) {
  UniqueFile file = Open(path, DELETE, kShareAll, OPEN_EXISTING);
  if (!file) return;
  // FileDispositionInfoEx with its flags, which the headers offer only to newer targets.
  constexpr auto kDispositionInfoEx =
      static_cast<FILE_INFO_BY_HANDLE_CLASS>(FileIdExtdDirectoryRestartInfo + 1);
  constexpr DWORD kDeleteNow = 0x1 | 0x2;  // DELETE | POSIX_SEMANTICS
  DWORD now = kDeleteNow;
  if (::SetFileInformationByHandle(file.get(), kDispositionInfoEx, &now, sizeof now)) return;
  FILE_DISPOSITION_INFO on_close{TRUE};
  ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &on_close, sizeof on_close);
}

// The folder and name part of a long form.
std::wstring FolderOf(const std::wstring& form) { return form.substr(0, form.rfind(L'\\') + 1); }
std::wstring NameOf(const std::wstring& form) { return form.substr(form.rfind(L'\\') + 1); }

// A sibling name of the file `form`, in its folder.
std::wstring Sibling(const std::wstring& form, std::string_view ending) {
  const std::string name = save::SiblingName<wchar_t>(NameOf(form), ending);
  return FolderOf(form) + std::wstring(name.begin(), name.end());
}

// The old file of a swap goes to a backup name first, so that it can be put back when the
// new one cannot be moved in. There are a few: the old file of a save stays under one until
// every other program that has it open lets go, where the file system keeps such names
// visible. What earlier saves left under them is removed; the first that is free is
// returned, the last when none is.
std::wstring FreeBackup(const std::wstring& form) {
  constexpr int kBackups = 4;
  std::wstring free;
  std::wstring backup;
  for (int i = 0; i < kBackups; ++i) {
    std::string ending = "-";
    ending.append(std::to_string(i)).append(".old");
    backup = Sibling(form, ending);
    Remove(backup);
    if (free.empty() && ::GetFileAttributesW(backup.c_str()) == INVALID_FILE_ATTRIBUTES &&
        ::GetLastError() == ERROR_FILE_NOT_FOUND) {
      free = backup;
    }
  }
  return free.empty() ? backup : free;
}

std::wstring FinalForm(HANDLE handle, const std::wstring& form) {
  std::wstring final_path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(
        handle, final_path.data(), static_cast<DWORD>(final_path.size()), VOLUME_NAME_DOS);
    if (length == 0) return form;
    if (length < final_path.size()) {
      final_path.resize(length);
      // The same rule as for the name that was given: a link leads nowhere else.
      return OpenableForm(final_path);
    }
    final_path.resize(length);
  }
}

// One save of one target over handles.
class Win32Save final : public save::SaveSystem {
 public:
  explicit Win32Save(const fs::path& target) : target_(target) {}
  Win32Save(const Win32Save&) = delete;
  Win32Save& operator=(const Win32Save&) = delete;
  ~Win32Save() override { DropSibling(); }

  // Where an existing target really is, with links followed, so that a replaced link stays
  // a link. A target the user may not write (read-only, or denied by its security settings),
  // a folder and anything that is not a file on disk are refused, so a save never overrides
  // them.
  save::Found Look() override {
    if (form_.empty()) form_ = OpenableForm(target_);
    UniqueFile file = Open(form_, GENERIC_WRITE, kShareAll, OPEN_EXISTING);
    if (!file) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_FILE_NOT_FOUND) win32::ThrowError(error, "open " + Text(target_));
      place_ = form_;
      return {};
    }
    const BY_HANDLE_FILE_INFORMATION information = RequireWritableDiskFile(file.get(), target_);
    place_ = FinalForm(file.get(), form_);
    attributes_ = information.dwFileAttributes;
    CloseOrThrow(file, "close " + Text(target_));
    return {true, information.nNumberOfLinks};
  }

  Step CreateTarget() override {
    file_ = Open(place_, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW);
    return Checked(file_.valid(), "create " + Text(target_));
  }

  Step OpenInPlace() override {
    file_ = Open(place_, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
    if (!file_) return Failed(::GetLastError(), "open " + Text(target_));
    RequireDiskFile(file_.get(), target_);
    return Done();
  }

  // A file system that cannot reserve room still writes; a full one stops here.
  Step ReserveTarget(std::uint64_t size) override {
    FILE_ALLOCATION_INFO room{};
    room.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
    if (::SetFileInformationByHandle(file_.get(), FileAllocationInfo, &room, sizeof room)) {
      return Done();
    }
    const DWORD error = ::GetLastError();
    if (OneOf(error, kNoRoom)) return Failed(error, "reserve");
    return {Result::kUnsupported, {}, {}};
  }

  Step WriteTarget(std::span<const std::uint8_t> bytes, std::uint64_t offset) override {
    return Written(WriteAllOrError(file_.get(), bytes, offset));
  }
  Step SetTargetLength(std::uint64_t size) override {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return Checked(::SetFileInformationByHandle(file_.get(), FileEndOfFileInfo, &end, sizeof end),
                   "set length");
  }
  Step FlushTarget() override { return Checked(::FlushFileBuffers(file_.get()), "flush"); }
  Step CloseTarget() override { return Checked(file_.Close(), "close"); }

  void RemoveStaleSibling() override { Remove(Temporary()); }
  // A rename is written through (MOVEFILE_WRITE_THROUGH); no folder to sync.
  bool FolderSyncable() override { return true; }

  Step CreateSibling(bool /*replacing*/) override {
    sibling_ = Open(Temporary(), GENERIC_WRITE | DELETE, 0, CREATE_NEW);
    if (!sibling_) return Failed(::GetLastError(), "write new file beside " + Text(target_));
    created_ = true;
    return Done();
  }

  // ReplaceFileW carries the old file's attributes over on Windows, Wine's does not; the new
  // file gets them first, so that both keep a hidden file hidden. Its security settings are
  // ReplaceFileW's to carry.
  Step CarryIdentity() override {
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if ((attributes_ & kKept) == 0) return Done();
    FILE_BASIC_INFO basic{};  // times of 0 stay as they are
    basic.FileAttributes = attributes_ & kKept;
    return Final(
        Checked(::SetFileInformationByHandle(sibling_.get(), FileBasicInfo, &basic, sizeof basic),
                "attributes " + Text(target_)));
  }

  Step WriteSibling(std::span<const std::uint8_t> bytes) override {
    return Written(WriteAllOrError(sibling_.get(), bytes, 0));
  }
  Step FlushSibling() override {
    return Checked(::FlushFileBuffers(sibling_.get()), "flush new file");
  }

  // Puts the new file in the place of the target, which keeps its security settings. The
  // backup is removed once the new file has the name; a swap that failed halfway is undone.
  Step SwapIn() override {
    if (Step closed = CloseSibling(); !closed.ok()) return Final(closed);
    const std::wstring backup = FreeBackup(place_);
    if (::ReplaceFileW(place_.c_str(), Temporary().c_str(), backup.c_str(),
                       REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
      created_ = false;
      Remove(backup);
      return Done();
    }
    const DWORD error = ::GetLastError();
    // Moved halfway: the old file is under the backup name and the new one could not take its
    // place. Every other failure leaves both under their own names.
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 &&
        !::MoveFileExW(backup.c_str(), place_.c_str(), MOVEFILE_WRITE_THROUGH)) {
      return Final(Failed(::GetLastError(), "put back " + Text(target_)));
    }
    return Final(Failed(error, "replace " + Text(target_)));
  }

  // No replacing: a file that appeared under that name meanwhile is left alone.
  Step TakeFreeName() override {
    if (Step closed = CloseSibling(); !closed.ok()) return Final(closed);
    if (!::MoveFileExW(Temporary().c_str(), place_.c_str(), MOVEFILE_WRITE_THROUGH)) {
      return Failed(::GetLastError(), "move into place " + Text(target_));
    }
    created_ = false;
    return Done();
  }

  Step SyncFolder() override { return Done(); }
  // The sibling is closed before it moves; closing it again is no step.
  Step CloseSibling() override { return Checked(sibling_.Close(), "close new file"); }

  void DropSibling() noexcept override {
    if (sibling_) {
      // Gone when closed, whoever else has it open.
      FILE_DISPOSITION_INFO on_close{TRUE};
      ::SetFileInformationByHandle(sibling_.get(), FileDispositionInfo, &on_close, sizeof on_close);
      sibling_.Reset();
    }
    if (created_) Remove(Temporary());
    created_ = false;
  }

 private:
  std::wstring Temporary() const { return Sibling(place_, ".tmp"); }
  static Step Written(DWORD error) { return error == NO_ERROR ? Done() : Failed(error, "write"); }

  const fs::path& target_;
  std::wstring form_;   // the openable form of the name given
  std::wstring place_;  // the file's own form once looked at, links followed
  DWORD attributes_ = 0;
  UniqueFile file_;     // the target, open for writing
  UniqueFile sibling_;  // the new contents, while open
  bool created_ = false;
};

}  // namespace

void SaveFile(const fs::path& target, std::span<const std::uint8_t> bytes, SaveRule rule) {
  Win32Save system(target);
  save::Save(system, bytes, rule);
}

}  // namespace dotloom
