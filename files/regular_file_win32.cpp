// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <system_error>
#include <utility>

#include "files/regular_file.h"

namespace dotloom {
namespace fs = std::filesystem;
namespace {

// A path in an error message, as UTF-8: path.string() would throw on a name that the
// ANSI code page cannot spell.
std::string Text(const fs::path& path) {
  const std::u8string utf8 = path.u8string();
  return {utf8.begin(), utf8.end()};
}

[[noreturn]] void ThrowError(DWORD error, const std::string& what) {
  throw std::system_error(static_cast<int>(error), std::system_category(), what);
}

[[noreturn]] void ThrowLastError(const std::string& what) { ThrowError(::GetLastError(), what); }

HANDLE ToHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Closes on scope exit.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }

  HANDLE get() const { return handle_; }
  HANDLE Release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }
  void Close() {
    if (!::CloseHandle(Release())) ThrowLastError("close");
  }

 private:
  HANDLE handle_;
};

// The absolute form Windows itself gives path. Legacy device names map into the device
// namespace here ("C:\work\CON.bit" becomes "\\.\CON"), which lets a device be refused by
// its name, before anything opens it: opening some devices (a printer port) can block.
std::wstring FullPath(const fs::path& path) {
  const std::wstring& name = path.native();
  std::wstring full(std::max<std::size_t>(name.size() + 1, MAX_PATH), L'\0');
  for (;;) {
    const DWORD length =
        ::GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) ThrowLastError("full path of " + Text(path));
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    full.resize(length);
  }
}

bool IsDeviceNamespace(const std::wstring& full) { return full.starts_with(L"\\\\.\\"); }

// Refuses a path that names a device, a pipe or another object outside the file system.
void RefuseDeviceName(const fs::path& path) {
  if (IsDeviceNamespace(FullPath(path))) ThrowError(ERROR_FILE_NOT_FOUND, Text(path));
}

// Keeps handle only when it is a file on disk and not a folder; a console, a pipe or a
// serial port is refused like a missing file.
void RequireDiskFile(HANDLE handle, const fs::path& path) {
  const DWORD type = ::GetFileType(handle);
  if (type != FILE_TYPE_DISK) {
    ThrowError(type == FILE_TYPE_UNKNOWN && ::GetLastError() != NO_ERROR ? ::GetLastError()
                                                                         : ERROR_FILE_NOT_FOUND,
               "not a disk file: " + Text(path));
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(handle, &information)) ThrowLastError("stat " + Text(path));
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    ThrowError(ERROR_DIRECTORY, Text(path));
  }
}

std::intptr_t OpenDiskFile(const fs::path& path, DWORD access, DWORD share, DWORD disposition) {
  RefuseDeviceName(path);
  ScopedHandle handle(::CreateFileW(path.c_str(), access, share, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (handle.get() == INVALID_HANDLE_VALUE) ThrowLastError("open " + Text(path));
  RequireDiskFile(handle.get(), path);
  return reinterpret_cast<std::intptr_t>(handle.Release());
}

// ReadFile and WriteFile take a DWORD count.
DWORD Chunk(std::size_t size) {
  return static_cast<DWORD>(std::min<std::size_t>(size, std::size_t{1} << 30U));
}

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED position{};
  position.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFU);
  position.OffsetHigh = static_cast<DWORD>(offset >> 32U);
  return position;
}

void WriteAll(HANDLE handle, std::span<const std::uint8_t> bytes, std::uint64_t offset) {
  while (!bytes.empty()) {
    OVERLAPPED position = At(offset);
    DWORD written = 0;
    if (!::WriteFile(handle, bytes.data(), Chunk(bytes.size()), &written, &position)) {
      ThrowLastError("write");
    }
    if (written == 0) ThrowError(ERROR_WRITE_FAULT, "write made no progress");
    bytes = bytes.subspan(written);
    offset += written;
  }
}

// A name beside target that no other file has yet: the temporary file, or the old file's
// backup while it is replaced.
std::wstring SiblingName(const fs::path& target, const wchar_t* kind) {
  static std::atomic<unsigned> counter{0};
  // A short prefix of the target's name keeps the temporary name within the name limit.
  constexpr std::size_t kMaxPrefix = 200;
  const std::wstring prefix = target.filename().native().substr(0, kMaxPrefix);
  const unsigned long long stamp = ::GetTickCount64();
  const std::wstring name = L"~" + prefix + L"." + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                            std::to_wstring(stamp) + L"-" + std::to_wstring(++counter) + kind;
  return (target.parent_path() / name).native();
}

// The file a save writes first; removed on scope exit unless it was moved into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(const fs::path& beside) {
    constexpr int kAttempts = 100;
    for (int i = 0; i < kAttempts; ++i) {
      path_ = SiblingName(beside, L".tmp");
      handle_ = ::CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
      if (handle_ != INVALID_HANDLE_VALUE) return;
      const DWORD error = ::GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
        ThrowError(error, "create temporary file");
      }
    }
    ThrowError(ERROR_FILE_EXISTS, "create temporary file");
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    if (!kept_) ::DeleteFileW(path_.c_str());
  }

  HANDLE handle() const { return handle_; }
  const std::wstring& path() const { return path_; }

  void Close() {
    if (!::CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE))) {
      ThrowLastError("close temporary file");
    }
  }
  void Keep() { kept_ = true; }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  std::wstring path_;
  bool kept_ = false;
};

// The path of the file a handle has open, with links followed, so that a replaced link
// stays a link; path itself when Windows cannot tell.
fs::path FinalPath(HANDLE handle, const fs::path& path) {
  std::wstring final_path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(
        handle, final_path.data(), static_cast<DWORD>(final_path.size()), VOLUME_NAME_DOS);
    if (length == 0) return path;
    if (length < final_path.size()) {
      final_path.resize(length);
      return final_path;
    }
    final_path.resize(length);
  }
}

// Where an existing target really is, or an empty path when there is no target yet. A
// target the user may not write (read-only, or denied by its security settings), a folder
// and anything that is not a file on disk are refused, so a save never overrides them.
struct Target {
  fs::path path;  // empty when there is no file yet
  DWORD attributes = 0;
  DWORD links = 0;
};

Target WritableTarget(const fs::path& target) {
  RefuseDeviceName(target);
  ScopedHandle handle(::CreateFileW(target.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (handle.get() == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return {};
    ThrowError(error, "open " + Text(target));
  }
  RequireDiskFile(handle.get(), target);
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(handle.get(), &information)) {
    ThrowLastError("stat " + Text(target));
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    ThrowError(ERROR_ACCESS_DENIED, "read-only: " + Text(target));
  }
  Target found{FinalPath(handle.get(), target), information.dwFileAttributes,
               information.nNumberOfLinks};
  handle.Close();
  return found;
}

// Puts replacement in the place of target, which keeps its attributes and security
// settings. The old file goes to a backup name first, so that it can be put back when the
// new one cannot be moved in.
void ReplaceExisting(const fs::path& target, const std::wstring& replacement) {
  const std::wstring backup = SiblingName(target, L".old");
  if (::ReplaceFileW(target.c_str(), replacement.c_str(), backup.c_str(),
                     REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
    ::DeleteFileW(backup.c_str());
    return;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
    // The old file is under the backup name and the new one could not take its place.
    ::MoveFileExW(backup.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
  }
  ThrowError(error, "replace " + Text(target));
}

// Writes bytes over the file at path where it is, for a file that a new one cannot stand in
// for: one with other names (hard links), which a replacement would leave holding the old
// bytes. Room is reserved first, so that a full disk changes nothing.
void WriteInPlace(const fs::path& path, std::span<const std::uint8_t> bytes) {
  ScopedHandle handle(
      reinterpret_cast<HANDLE>(OpenDiskFile(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING)));
  FILE_ALLOCATION_INFO room{};
  room.AllocationSize.QuadPart = static_cast<LONGLONG>(bytes.size());
  if (!::SetFileInformationByHandle(handle.get(), FileAllocationInfo, &room, sizeof room)) {
    const DWORD error = ::GetLastError();
    // A file system that cannot reserve room still writes; a full one stops here.
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) ThrowError(error, "reserve");
  }
  WriteAll(handle.get(), bytes, 0);
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(bytes.size());
  if (!::SetFileInformationByHandle(handle.get(), FileEndOfFileInfo, &end, sizeof end)) {
    ThrowLastError("set length");
  }
  if (!::FlushFileBuffers(handle.get())) ThrowLastError("flush");
  handle.Close();
}

}  // namespace

RegularFile RegularFile::OpenForReading(const fs::path& path) {
  return RegularFile(OpenDiskFile(
      path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING));
}

RegularFile RegularFile::OpenForWriting(const fs::path& path) {
  RegularFile file(OpenDiskFile(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS));
  // Windows refuses to open a read-only file for writing, but an administrator under Wine is
  // let through by the Unix permissions behind it; refused here whoever runs the program.
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(ToHandle(file.handle_), &information)) {
    ThrowLastError("stat " + Text(path));
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    ThrowError(ERROR_ACCESS_DENIED, "read-only: " + Text(path));
  }
  return file;
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : handle_(std::exchange(other.handle_, kNoHandle)) {}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept {
  if (this != &other) {
    if (handle_ != kNoHandle) ::CloseHandle(ToHandle(handle_));
    handle_ = std::exchange(other.handle_, kNoHandle);
  }
  return *this;
}

RegularFile::~RegularFile() {
  if (handle_ != kNoHandle) ::CloseHandle(ToHandle(handle_));
}

std::uint64_t RegularFile::Size() const {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(ToHandle(handle_), &size)) ThrowLastError("size");
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t RegularFile::ReadAt(std::span<std::uint8_t> buffer, std::uint64_t offset) const {
  std::size_t total = 0;
  while (total < buffer.size()) {
    OVERLAPPED position = At(offset + total);
    DWORD got = 0;
    if (!::ReadFile(ToHandle(handle_), buffer.data() + total, Chunk(buffer.size() - total), &got,
                    &position)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      ThrowError(error, "read");
    }
    if (got == 0) break;  // end of file
    total += got;
  }
  return total;
}

void RegularFile::WriteAt(std::span<const std::uint8_t> bytes, std::uint64_t offset) const {
  WriteAll(ToHandle(handle_), bytes, offset);
}

void RegularFile::Close() {
  const auto handle = std::exchange(handle_, kNoHandle);
  if (handle != kNoHandle && !::CloseHandle(ToHandle(handle))) ThrowLastError("close");
}

void ReplaceFileContents(const fs::path& target, std::span<const std::uint8_t> bytes) {
  const Target found = WritableTarget(target);
  if (found.links > 1) {
    WriteInPlace(found.path, bytes);
    return;
  }
  const fs::path& existing = found.path;
  const fs::path& place = existing.empty() ? target : existing;
  TemporaryFile temporary(place);
  WriteAll(temporary.handle(), bytes, 0);
  if (!::FlushFileBuffers(temporary.handle())) ThrowLastError("flush");
  temporary.Close();
  // ReplaceFileW carries the old file's attributes over on Windows, Wine's does not; they
  // are given to the new file first, so that both keep a hidden file hidden.
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (!existing.empty() && (found.attributes & kKept) != 0 &&
      !::SetFileAttributesW(temporary.path().c_str(), found.attributes & kKept)) {
    ThrowLastError("attributes " + Text(target));
  }
  if (existing.empty()) {
    // No replacing: a file that appeared under that name meanwhile is left alone.
    if (!::MoveFileExW(temporary.path().c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
      ThrowLastError("move into place " + Text(target));
    }
  } else {
    ReplaceExisting(existing, temporary.path());
  }
  temporary.Keep();
}

}  // namespace dotloom
