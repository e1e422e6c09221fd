// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "base/unique_handle.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include <cerrno>
#endif

namespace dotloom {

#ifdef _WIN32
bool CloseFileHandle(FileHandle handle) { return ::CloseHandle(handle) != FALSE; }
#else
// Linux releases the descriptor even when close fails, so it is never closed twice; EINTR
// is no failure here.
bool CloseFileHandle(FileHandle handle) { return ::close(handle) == 0 || errno == EINTR; }
#endif

}  // namespace dotloom
