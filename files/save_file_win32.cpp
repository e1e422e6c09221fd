// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The steps of a save over Windows: a new file that takes over the old one's attributes and
// security settings and is moved over it in one rename, or the old file itself written where
// it is. The rules that choose are save_policy.cpp's.
#include <aclapi.h>
#include <windows.h>

#include <cstdint>
#include <memory>
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
constexpr DWORD kExists[] = {ERROR_FILE_EXISTS, ERROR_ALREADY_EXISTS};
constexpr DWORD kRefused[] = {ERROR_ACCESS_DENIED};  // in place may still work
Step Failed(DWORD error, std::string what) {
  return save::Failure<DWORD>(error, std::system_category(), std::move(what), kNoRoom, kExists,
                              kRefused);
}
using save::Final;

// Removes the file at path when its last handle closes; gone at once, as no other program
// has a save's sibling open. A file open without sharing delete, as a live sibling is, stays.
void Remove(const std::wstring& path) {
  const UniqueFile file = Open(path, DELETE, kShareAll, OPEN_EXISTING);
  FILE_DISPOSITION_INFO on_close{TRUE};
  if (file)
    ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &on_close, sizeof on_close);
}

// The folder and name part of a long form.
std::wstring FolderOf(const std::wstring& form) { return form.substr(0, form.rfind(L'\\') + 1); }
std::wstring NameOf(const std::wstring& form) { return form.substr(form.rfind(L'\\') + 1); }
std::wstring Wide(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

// The file's own name, links followed, by the same rule as the name that was given: a link
// leads nowhere else.
std::wstring FinalForm(HANDLE handle, const std::wstring& form) {
  const std::wstring name = Filled([&](wchar_t* buffer, DWORD size) {
    return ::GetFinalPathNameByHandleW(handle, buffer, size, VOLUME_NAME_DOS);
  });
  return name.empty() ? form : OpenableForm(name);
}

// A file's security settings, as GetSecurityInfo gives them.
struct Security {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  std::unique_ptr<void, decltype(&::LocalFree)> descriptor{nullptr, &::LocalFree};
  DWORD Read(HANDLE file) {
    PSECURITY_DESCRIPTOR got = nullptr;
    const DWORD error = ::GetSecurityInfo(file, SE_FILE_OBJECT,
                                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                          &owner, nullptr, &dacl, nullptr, &got);
    descriptor.reset(got);
    return error;
  }
};

// One save of one target over handles.
class Win32Save final : public save::SaveSystem {
 public:
  explicit Win32Save(const fs::path& target) : target_(target) {}
  Win32Save(const Win32Save&) = delete;
  Win32Save& operator=(const Win32Save&) = delete;
  ~Win32Save() override { Drop(); }

  // Where an existing target really is, with links followed, so that a replaced link stays
  // a link. A target the user may not write (read-only, or denied by its security settings),
  // a folder and anything that is not a file on disk are refused, so a save never overrides
  // them.
  std::uint64_t OpenTarget() override {
    if (form_.empty()) form_ = OpenableForm(target_);
    file_ = Open(form_, GENERIC_WRITE, kShareAll, OPEN_EXISTING);
    if (!file_) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_FILE_NOT_FOUND) win32::ThrowError(error, "open " + Text(target_));
      place_ = form_;
      return 0;
    }
    old_ = RequireDiskFile(file_.get(), target_);
    // Windows refuses to open a read-only file for writing, but Wine lets an administrator
    // through by the Unix permissions behind it; refused here whoever runs the program.
    if ((old_.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
      win32::ThrowError(ERROR_ACCESS_DENIED, "read-only: " + Text(target_));
    }
    place_ = FinalForm(file_.get(), form_);
    return old_.nNumberOfLinks;
  }

  Step CreateTarget() override {
    file_ = Open(place_, GENERIC_WRITE | DELETE, FILE_SHARE_READ, CREATE_NEW);
    created_ = file_.valid();
    return file_ ? Step{} : Fail("create");
  }

  // A full disk stops here; where the file system cannot reserve room (Wine cannot), the
  // writes go on without.
  Step ReserveTarget(std::uint64_t size) override {
    FILE_ALLOCATION_INFO room{};
    room.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
    if (::SetFileInformationByHandle(file_.get(), FileAllocationInfo, &room, sizeof room)) {
      return Step{};
    }
    const DWORD error = ::GetLastError();
    return Failed(OneOf(error, kNoRoom) ? error : ERROR_ACCESS_DENIED, "reserve " + Text(target_));
  }

  Step WriteTarget(std::span<const std::uint8_t> bytes, bool whole) override {
    if (const DWORD error = WriteAllOrError(file_.get(), bytes, 0); error != NO_ERROR) {
      return Failed(error, "write " + Text(target_));
    }
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(bytes.size());
    if (whole && !::SetFileInformationByHandle(file_.get(), FileEndOfFileInfo, &end, sizeof end)) {
      return Fail("set length");
    }
    if (whole && !::FlushFileBuffers(file_.get())) return Fail("flush");
    return file_.Close() ? Step{} : Fail("close");
  }

  // A save's own sibling is open without sharing delete while the save runs, so that only
  // the ones no save holds go.
  void RemoveStaleSiblings() override {
    const std::wstring folder = FolderOf(place_);
    const std::wstring pattern = folder + Wide(save::SiblingPrefix<wchar_t>(NameOf(place_))) +
                                 L"*" + Wide(std::string(save::kSiblingEnding));
    WIN32_FIND_DATAW found{};
    using UniqueFind = UniqueHandle<HandleTraits<HANDLE, -1, &::FindClose>>;
    const UniqueFind listing(::FindFirstFileW(pattern.c_str(), &found));
    if (!listing) return;
    do {
      Remove(folder + found.cFileName);
    } while (::FindNextFileW(listing.get(), &found));
  }

  Step WriteSibling(std::span<const std::uint8_t> bytes) override {
    sibling_name_ = FolderOf(place_) + Wide(save::SiblingName<wchar_t>(NameOf(place_)));
    sibling_ =
        Open(sibling_name_, GENERIC_WRITE | DELETE | WRITE_DAC | READ_CONTROL, 0, CREATE_NEW);
    if (!sibling_) {
      sibling_name_.clear();
      return Fail("write new file beside");
    }
    if (const DWORD error = WriteAllOrError(sibling_.get(), bytes, 0); error != NO_ERROR) {
      return Failed(error, "write new file beside " + Text(target_));
    }
    return ::FlushFileBuffers(sibling_.get()) ? Step{} : Fail("flush new file beside");
  }

  // The old file's attributes that a copy may have, and its security settings: the same
  // access list, and the same owner, which only the old file's owner gives a new file.
  Step CarryIdentity() override {
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    FILE_BASIC_INFO basic{};  // times of 0 stay as they are
    basic.FileAttributes = (old_.dwFileAttributes & kKept) | FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(sibling_.get(), FileBasicInfo, &basic, sizeof basic)) {
      return Fail("attributes");
    }
    Security old;
    Security fresh;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    DWORD error = old.Read(file_.get());
    if (error == ERROR_SUCCESS &&
        ::GetSecurityDescriptorControl(old.descriptor.get(), &control, &revision)) {
      const SECURITY_INFORMATION which =
          DACL_SECURITY_INFORMATION |
          ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                              : UNPROTECTED_DACL_SECURITY_INFORMATION);
      error = ::SetSecurityInfo(sibling_.get(), SE_FILE_OBJECT, which, nullptr, nullptr, old.dacl,
                                nullptr);
    }
    if (error == ERROR_SUCCESS) error = fresh.Read(sibling_.get());
    if (error != ERROR_SUCCESS) return Failed(ERROR_ACCESS_DENIED, "security " + Text(target_));
    if (!::EqualSid(old.owner, fresh.owner)) {
      return Failed(ERROR_ACCESS_DENIED, "another owner's " + Text(target_));
    }
    return Step{};
  }

  // One rename over the target, written through: MoveFileExW replaces the name's file in
  // one step. Windows has no exchange to check afterwards, so the name is checked just before
  // it, as OpenTarget found it. Refused (another program holds the file without letting a
  // rename replace it), the old file is opened again to be written in place.
  Step SwapIn() override {
    if (!sibling_.Close()) return Fail("close new file");
    file_.Reset();
    const UniqueFile now = Open(place_, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING);
    BY_HANDLE_FILE_INFORMATION information{};
    if (!now || !::GetFileInformationByHandle(now.get(), &information))
      return Reopened(Fail("stat"));
    if (information.dwVolumeSerialNumber != old_.dwVolumeSerialNumber ||
        information.nFileIndexHigh != old_.nFileIndexHigh ||
        information.nFileIndexLow != old_.nFileIndexLow) {
      return Final(Failed(ERROR_FILE_EXISTS, "file changed while saved: " + Text(target_)));
    }
    if (!::MoveFileExW(sibling_name_.c_str(), place_.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return Reopened(Fail("replace"));
    }
    sibling_name_.clear();
    return Step{};
  }

  // No replacing: a file that appeared under that name meanwhile is left alone.
  Step TakeFreeName() override {
    if (!sibling_.Close()) return Fail("close new file");
    if (!::MoveFileExW(sibling_name_.c_str(), place_.c_str(), MOVEFILE_WRITE_THROUGH)) {
      return Fail("move into place");
    }
    sibling_name_.clear();
    return Step{};
  }

  void Drop() noexcept override {
    // Gone when closed, whoever else has it open.
    FILE_DISPOSITION_INFO on_close{TRUE};
    for (UniqueFile* made : {&sibling_, created_ ? &file_ : nullptr}) {
      if (made != nullptr && made->valid()) {
        ::SetFileInformationByHandle(made->get(), FileDispositionInfo, &on_close, sizeof on_close);
        made->Reset();
      }
    }
    if (!sibling_name_.empty()) Remove(sibling_name_);
    sibling_name_.clear();
  }

 private:
  // The step failed with the last error, read before anything else can change it.
  Step Fail(const char* what) {
    const DWORD error = ::GetLastError();
    return Failed(error, std::string(what) + " " + Text(target_));
  }
  // A refused swap goes on in place, over the old file opened again.
  Step Reopened(Step step) {
    if (step.result != Result::kRefused) return Final(step);
    file_ = Open(place_, GENERIC_WRITE, kShareAll, OPEN_EXISTING);
    return file_ ? step : Final(Fail("open"));
  }

  const fs::path& target_;
  std::wstring form_;   // the openable form of the name given
  std::wstring place_;  // the file's own form once looked at, links followed
  BY_HANDLE_FILE_INFORMATION old_{};
  UniqueFile file_;            // the target, open for writing
  UniqueFile sibling_;         // the new contents, while open
  std::wstring sibling_name_;  // its name, while it has one of its own
  bool created_ = false;       // the target, by CreateTarget
};

}  // namespace

void SaveFile(const fs::path& target, std::span<const std::uint8_t> bytes, SaveRule rule) {
  Win32Save system(target);
  save::Save(system, bytes, rule);
}

}  // namespace dotloom
