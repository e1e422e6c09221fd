// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// Failures of system calls travel as std::system_error carrying the system's own error code:
// errno on POSIX, the Windows error code on Windows. One pair of throw helpers per system.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <cerrno>
#include <span>
#include <string>
#include <system_error>
#include <type_traits>

namespace dotloom {

// Whether error is one of errors: callers tell failures apart by lists of the system's codes.
template <typename Code>
bool OneOf(Code error, std::span<const std::type_identity_t<Code>> errors) {
  return std::find(errors.begin(), errors.end(), error) != errors.end();
}

#ifdef _WIN32
namespace win32 {

[[noreturn]] inline void ThrowError(DWORD error, const std::string& what) {
  throw std::system_error(static_cast<int>(error), std::system_category(), what);
}
[[noreturn]] inline void ThrowLastError(const std::string& what) {
  ThrowError(::GetLastError(), what);
}

}  // namespace win32
#else
namespace posix {

[[noreturn]] inline void ThrowErrno(int error, const std::string& what) {
  throw std::system_error(error, std::generic_category(), what);
}
[[noreturn]] inline void ThrowErrno(const std::string& what) { ThrowErrno(errno, what); }

}  // namespace posix
#endif

}  // namespace dotloom
