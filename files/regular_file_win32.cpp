// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// RegularFile over Windows handles, and the namespace rule every open of the file layer
// follows.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cwctype>
#include <string>
#include <string_view>

#include "base/system_error.h"
#include "files/regular_file.h"
#include "files/win32_path.h"

namespace dotloom {
namespace fs = std::filesystem;
using win32::ThrowError;
using win32::ThrowLastError;

namespace win32files {
namespace {

bool SameLetters(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](wchar_t x, wchar_t y) { return std::towupper(x) == std::towupper(y); });
}

bool StartsWithLetters(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && SameLetters(text.substr(0, prefix.size()), prefix);
}

// "C:\" and the like.
bool IsDriveRoot(std::wstring_view text) {
  const wchar_t letter = text.empty() ? L'\0' : static_cast<wchar_t>(text[0] | 0x20);
  return text.size() >= 3 && letter >= L'a' && letter <= L'z' && text[1] == L':' &&
         text[2] == L'\\';
}

// The names Windows gives its legacy devices in every folder, whatever follows the first dot;
// refused on every version of Windows alike, also where a version lets them through.
bool IsDeviceName(std::wstring_view name) {
  std::wstring_view base = name.substr(0, name.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.remove_suffix(1);
  for (const std::wstring_view device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
    if (SameLetters(base, device)) return true;
  }
  if (base.size() != 4) return false;
  const std::wstring_view kind = base.substr(0, 3);
  const wchar_t digit = base[3];
  const bool numbered = (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' ||
                        digit == L'\u00B2' || digit == L'\u00B3';
  return numbered && (SameLetters(kind, L"COM") || SameLetters(kind, L"LPT"));
}

// Checks the part after the drive ("C:\") or the server and share: no stream syntax, no
// component that a long form would pass on unresolved, no device name.
bool AcceptableComponents(std::wstring_view rest) {
  if (rest.find(L':') != std::wstring_view::npos) return false;  // a stream, ::$DATA
  std::wstring_view last;
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find(L'\\'), rest.size());
    const std::wstring_view component = rest.substr(0, end);
    if (component == L"." || component == L"..") return false;
    if (!component.empty()) last = component;
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  return !last.empty() && !IsDeviceName(last);
}

// "server\share\rest" of a UNC path: a real server's share other than its pipes and
// mailslots, with a file below it.
bool AcceptableShare(std::wstring_view unc) {
  const std::size_t server_end = unc.find(L'\\');
  if (server_end == 0 || server_end == std::wstring_view::npos) return false;
  const std::wstring_view server = unc.substr(0, server_end);
  if (server == L"." || server == L"?") return false;
  const std::wstring_view after = unc.substr(server_end + 1);
  const std::size_t share_end = after.find(L'\\');
  if (share_end == 0 || share_end == std::wstring_view::npos) return false;
  const std::wstring_view share = after.substr(0, share_end);
  if (SameLetters(share, L"pipe") || SameLetters(share, L"mailslot")) return false;
  return server.find(L':') == std::wstring_view::npos &&
         AcceptableComponents(after.substr(share_end + 1));
}

// The absolute form Windows itself gives a path: relative parts resolved, and a legacy
// device name mapped into the device namespace ("C:\work\CON.bit" becomes "\\.\CON").
std::wstring FullPath(const std::wstring& name, const fs::path& path) {
  const std::wstring full = Filled([&](wchar_t* buffer, DWORD size) {
    return ::GetFullPathNameW(name.c_str(), size, buffer, nullptr);
  });
  if (full.empty()) ThrowLastError("full path of " + Text(path));
  return full;
}

}  // namespace

std::string Text(const fs::path& path) {
  // A failure's message is built before its error is read: the error stays as it was.
  const DWORD error = ::GetLastError();
  const std::u8string utf8 = path.u8string();
  ::SetLastError(error);
  return {utf8.begin(), utf8.end()};
}

std::wstring OpenableForm(const fs::path& path) {
  constexpr std::wstring_view kLong = L"\\\\?\\";
  constexpr std::wstring_view kLongUnc = L"\\\\?\\UNC\\";
  std::wstring name = path.native();
  std::replace(name.begin(), name.end(), L'/', L'\\');
  // \??\ reaches the object manager's names directly; \\?\ forms are taken as they are
  // written, since Windows itself does not resolve them either.
  if (name.empty() || name.starts_with(L"\\??\\")) ThrowError(ERROR_FILE_NOT_FOUND, Text(path));
  const std::wstring full = name.starts_with(kLong) ? name : FullPath(name, path);
  const std::wstring_view view = full;
  if (StartsWithLetters(view, kLongUnc)) {
    if (AcceptableShare(view.substr(kLongUnc.size()))) return full;
  } else if (view.starts_with(kLong)) {
    const std::wstring_view drive = view.substr(kLong.size());
    if (IsDriveRoot(drive) && AcceptableComponents(drive.substr(3))) return full;
  } else if (view.starts_with(L"\\\\")) {
    if (AcceptableShare(view.substr(2))) return std::wstring(kLongUnc) + full.substr(2);
  } else if (IsDriveRoot(view) && AcceptableComponents(view.substr(3))) {
    return std::wstring(kLong) + full;
  }
  ThrowError(ERROR_FILE_NOT_FOUND, "not a drive or share path: " + Text(path));
}

UniqueFile Open(const std::wstring& openable, DWORD access, DWORD share, DWORD disposition) {
  return UniqueFile(::CreateFileW(
      openable.c_str(), access, share, nullptr, disposition,
      FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
}

BY_HANDLE_FILE_INFORMATION RequireDiskFile(HANDLE handle, const fs::path& path) {
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
  return information;
}

namespace {

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

}  // namespace

DWORD WriteAllOrError(HANDLE handle, std::span<const std::uint8_t> bytes, std::uint64_t offset) {
  while (!bytes.empty()) {
    OVERLAPPED position = At(offset);
    DWORD written = 0;
    if (!::WriteFile(handle, bytes.data(), Chunk(bytes.size()), &written, &position)) {
      return ::GetLastError();
    }
    if (written == 0) return ERROR_WRITE_FAULT;  // no progress
    bytes = bytes.subspan(written);
    offset += written;
  }
  return NO_ERROR;
}

}  // namespace win32files

using namespace win32files;

namespace {

UniqueFile OpenOrThrow(const fs::path& path, DWORD access, DWORD share, DWORD disposition) {
  UniqueFile file = Open(OpenableForm(path), access, share, disposition);
  if (!file) ThrowLastError("open " + Text(path));
  return file;
}

}  // namespace

RegularFile RegularFile::OpenForReading(const fs::path& path) {
  UniqueFile file = OpenOrThrow(path, GENERIC_READ, kShareAll, OPEN_EXISTING);
  RequireDiskFile(file.get(), path);
  return RegularFile(std::move(file));
}

std::uint64_t RegularFile::Size() const {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file_.get(), &size)) ThrowLastError("size");
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t RegularFile::ReadAt(std::span<std::uint8_t> buffer, std::uint64_t offset) const {
  std::size_t total = 0;
  while (total < buffer.size()) {
    OVERLAPPED position = At(offset + total);
    DWORD got = 0;
    if (!::ReadFile(file_.get(), buffer.data() + total, Chunk(buffer.size() - total), &got,
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

void RegularFile::Close() {
  if (!file_.Close()) ThrowLastError("close");
}

}  // namespace dotloom
