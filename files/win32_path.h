// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The Windows file layer's own helpers, shared by its byte I/O and its save rules; not for
// use outside files/.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "base/unique_handle.h"

namespace dotloom::win32files {

// A path in an error message, as UTF-8: path.string() would throw on a name that the ANSI
// code page cannot spell.
std::string Text(const std::filesystem::path& path);

// The one form of path that the file layer opens: the full, long form of a drive path
// (\\?\C:\...) or of a path on a share (\\?\UNC\server\share\...). Everything else, the
// device namespace, \??\, GLOBALROOT, pipes and mailslots of any server, legacy device
// names and stream names among it, is refused like a missing file before anything opens it.
std::wstring OpenableForm(const std::filesystem::path& path);

// CreateFileW on an openable form, with what every open of the file layer passes: no
// impersonation beyond identification, whatever the name turns out to reach. Invalid, with
// the error in GetLastError(), when the open fails.
UniqueFile Open(const std::wstring& openable, DWORD access, DWORD share, DWORD disposition);

// Other programs may go on reading, writing and deleting a file the file layer has open.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Throws unless handle is a file on disk and not a folder; a console, a pipe or a serial
// port is refused like a missing file.
BY_HANDLE_FILE_INFORMATION RequireDiskFile(HANDLE handle, const std::filesystem::path& path);

// A name a call writes into a buffer it is given, grown until the name fits: fill(buffer,
// size) returns the length written, or the size needed; 0 on failure, for an empty name.
template <typename Fill>
std::wstring Filled(Fill fill) {
  std::wstring name(MAX_PATH, L'\0');
  for (DWORD length = 0; (length = fill(name.data(), static_cast<DWORD>(name.size()))) != 0;) {
    const bool fits = length < name.size();
    name.resize(length);
    if (fits) return name;
  }
  return {};
}

// Writes all of bytes at offset; NO_ERROR, or the error of the write that failed.
[[nodiscard]] DWORD WriteAllOrError(HANDLE handle, std::span<const std::uint8_t> bytes,
                                    std::uint64_t offset);

}  // namespace dotloom::win32files
