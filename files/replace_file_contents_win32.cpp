// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The save rules over Windows: a new file swapped in with ReplaceFileW, which keeps the old
// one's attributes and security settings, or the old file written in place where a second
// copy cannot be made or would lose the file's other names.
#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>

#include "base/system_error.h"
#include "files/replace_file_contents.h"
#include "files/win32_path.h"

namespace dotloom {
namespace fs = std::filesystem;
namespace {
using namespace win32files;
using win32::ThrowError;
using win32::ThrowLastError;

constexpr DWORD kDiskQuotaExceeded = 1295;  // ERROR_DISK_QUOTA_EXCEEDED
// The disk has no room for a second copy: the old file is written in place instead, and a
// reservation that meets one of these stops the save before a byte changes.
constexpr DWORD kNoRoom[] = {ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL, ERROR_NOT_ENOUGH_QUOTA,
                             kDiskQuotaExceeded};

bool OneOf(DWORD error, std::span<const DWORD> errors) {
  for (const DWORD listed : errors) {
    if (error == listed) return true;
  }
  return false;
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

// The temporary and backup names of a save of the file `form`: short, of one fixed length
// whatever the target's name (so a target whose name fits leaves room for them), and the
// same for every save of one file, so that what a crash left is removed by the next save.
// There are a few backup names: the old file of a save stays under one until every other
// program that has it open lets go, where the file system keeps such names visible.
struct SiblingNames {
  static constexpr int kBackups = 4;
  std::wstring temporary;
  std::wstring backups[kBackups];
};

SiblingNames SiblingsOf(const std::wstring& form) {
  std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a of the name
  for (const wchar_t c : NameOf(form)) {
    hash = (hash ^ static_cast<std::uint16_t>(c)) * 1099511628211ULL;
  }
  wchar_t digits[17] = {};
  for (int i = 15; i >= 0; --i, hash >>= 4U) digits[i] = L"0123456789abcdef"[hash & 0xFU];
  const std::wstring stem = FolderOf(form) + L"~dotloom-" + digits;
  SiblingNames names{stem + L".tmp", {}};
  for (int i = 0; i < SiblingNames::kBackups; ++i) {
    names.backups[i] = stem + L"-" + static_cast<wchar_t>(L'0' + i) + L".old";
  }
  return names;
}

// Removes what earlier saves left under the backup names and returns the first that is
// free; the last when none is.
const std::wstring& FreeBackup(const SiblingNames& names) {
  const std::wstring* free = nullptr;
  for (const std::wstring& backup : names.backups) {
    Remove(backup);
    if (free == nullptr && ::GetFileAttributesW(backup.c_str()) == INVALID_FILE_ATTRIBUTES &&
        ::GetLastError() == ERROR_FILE_NOT_FOUND) {
      free = &backup;
    }
  }
  return free != nullptr ? *free : names.backups[SiblingNames::kBackups - 1];
}

// Where an existing target really is, with links followed, so that a replaced link stays a
// link; none when there is no target yet. A target the user may not write (read-only, or
// denied by its security settings), a folder and anything that is not a file on disk are
// refused, so a save never overrides them.
struct Target {
  std::wstring form;  // empty when there is no file yet
  DWORD attributes = 0;
  DWORD links = 0;
};

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

Target WritableTarget(const std::wstring& form, const fs::path& target) {
  UniqueFile file = Open(form, GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  if (!file) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return {};
    ThrowError(error, "open " + Text(target));
  }
  const BY_HANDLE_FILE_INFORMATION information = RequireWritableDiskFile(file.get(), target);
  Target found{FinalForm(file.get(), form), information.dwFileAttributes,
               information.nNumberOfLinks};
  CloseOrThrow(file, "close " + Text(target));
  return found;
}

// Writes bytes over the file where it is: its names, attributes and security settings stay
// whatever they were. Room is reserved first, so that a full disk changes nothing; a write
// failing midway keeps what was written.
void WriteInPlace(const std::wstring& form, const fs::path& target,
                  std::span<const std::uint8_t> bytes) {
  UniqueFile file = Open(form, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
  if (!file) ThrowLastError("open " + Text(target));
  RequireDiskFile(file.get(), target);
  FILE_ALLOCATION_INFO room{};
  room.AllocationSize.QuadPart = static_cast<LONGLONG>(bytes.size());
  if (!::SetFileInformationByHandle(file.get(), FileAllocationInfo, &room, sizeof room)) {
    // A file system that cannot reserve room still writes; a full one stops here.
    if (const DWORD error = ::GetLastError(); OneOf(error, kNoRoom)) ThrowError(error, "reserve");
  }
  WriteAll(file.get(), bytes, 0);
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(bytes.size());
  if (!::SetFileInformationByHandle(file.get(), FileEndOfFileInfo, &end, sizeof end)) {
    ThrowLastError("set length");
  }
  if (!::FlushFileBuffers(file.get())) ThrowLastError("flush");
  CloseOrThrow(file, "close");
}

// The new contents, written beside the target under its temporary name; removed on every
// way out but success.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::wstring path) : path_(std::move(path)) {}
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (kept_) return;
    if (file_) {
      // Gone when closed, whoever else has it open.
      FILE_DISPOSITION_INFO on_close{TRUE};
      ::SetFileInformationByHandle(file_.get(), FileDispositionInfo, &on_close, sizeof on_close);
      file_.Reset();
    }
    if (created_) Remove(path_);
  }

  const std::wstring& path() const { return path_; }

  // Writes bytes to the disk under the temporary name, after removing what an earlier save
  // left there; NO_ERROR, or the error of the step that failed.
  DWORD Write(std::span<const std::uint8_t> bytes) {
    Remove(path_);
    file_ = Open(path_, GENERIC_WRITE | DELETE, 0, CREATE_NEW);
    if (!file_) return ::GetLastError();
    created_ = true;
    if (const DWORD error = WriteAllOrError(file_.get(), bytes, 0); error != NO_ERROR) {
      return error;
    }
    // On the disk before it can take the target's place.
    if (!::FlushFileBuffers(file_.get())) return ::GetLastError();
    if (!file_.Close()) return ::GetLastError();
    return NO_ERROR;
  }

  void Keep() { kept_ = true; }

 private:
  std::wstring path_;
  UniqueFile file_;
  bool created_ = false;
  bool kept_ = false;
};

// Puts the new file in the place of target, which keeps its attributes and security
// settings. The old file goes to the backup name first, so that it can be put back when
// the new one cannot be moved in; the backup is removed once the new file has the name.
void Swap(const std::wstring& target, const std::wstring& replacement, const std::wstring& backup,
          const fs::path& path) {
  if (::ReplaceFileW(target.c_str(), replacement.c_str(), backup.c_str(),
                     REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
    Remove(backup);
    return;
  }
  const DWORD error = ::GetLastError();
  // Moved halfway: the old file is under the backup name and the new one could not take its
  // place. Every other failure leaves both under their own names.
  if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 &&
      !::MoveFileExW(backup.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
    ThrowLastError("put back " + Text(path));
  }
  ThrowError(error, "replace " + Text(path));
}

// Saves through a new file beside the target. False, with nothing changed, when the
// disk or the folder has no room for that second copy.
bool SaveByReplacing(const Target& found, const std::wstring& form, const fs::path& target,
                     std::span<const std::uint8_t> bytes) {
  const std::wstring& place = found.form.empty() ? form : found.form;
  const SiblingNames names = SiblingsOf(place);
  TemporaryFile temporary(names.temporary);
  if (const DWORD error = temporary.Write(bytes); error != NO_ERROR) {
    // No room for the copy, or a folder that may not hold it: the file itself may still be
    // written, as on Linux.
    if (!found.form.empty() && (OneOf(error, kNoRoom) || error == ERROR_ACCESS_DENIED)) {
      return false;
    }
    ThrowError(error, "write new file beside " + Text(target));
  }
  if (found.form.empty()) {
    // No replacing: a file that appeared under that name meanwhile is left alone.
    if (!::MoveFileExW(temporary.path().c_str(), form.c_str(), MOVEFILE_WRITE_THROUGH)) {
      ThrowLastError("move into place " + Text(target));
    }
  } else {
    // ReplaceFileW carries the old file's attributes over on Windows, Wine's does not; they
    // are given to the new file first, so that both keep a hidden file hidden.
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if ((found.attributes & kKept) != 0 &&
        !::SetFileAttributesW(temporary.path().c_str(), found.attributes & kKept)) {
      ThrowLastError("attributes " + Text(target));
    }
    Swap(found.form, temporary.path(), FreeBackup(names), target);
  }
  temporary.Keep();
  return true;
}

}  // namespace

void ReplaceFileContents(const fs::path& target, std::span<const std::uint8_t> bytes) {
  const std::wstring form = OpenableForm(target);
  const Target found = WritableTarget(form, target);
  // A file with other names (hard links) is written where it is, so every name shows the
  // new picture; a replacement would leave them holding the old one.
  if (found.links > 1 || !SaveByReplacing(found, form, target, bytes)) {
    WriteInPlace(found.form, target, bytes);
  }
}

}  // namespace dotloom
