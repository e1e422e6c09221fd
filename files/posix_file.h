// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The POSIX file layer's own helpers, shared by its byte I/O and its save rules; not for use
// outside files/.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "base/system_error.h"
#include "base/unique_handle.h"

namespace dotloom::posix {

// No call of the layer retries on EINTR: a signal handler interrupts calls on slow devices
// only, never on regular files and folders (signal(7)), and the program installs none.
UniqueFile OpenAt(int folder, const char* name, int flags, mode_t mode = 0);
std::string ProcPath(int fd);
struct stat StatOf(int fd);
// Files of kernel file systems (proc, sysfs and the like) only look like files.
bool OnKernelFileSystem(int fd);
// Throws unless the file behind fd (an O_PATH descriptor is enough) is a regular file that
// may be opened.
void RequireRegular(int fd, const struct stat& status, const std::string& name);
// Opens, with flags, exactly the file that the O_PATH descriptor `located` names.
UniqueFile Reopen(int located, const struct stat& status, const std::filesystem::path& path,
                  int flags);

// Follows symbolic links in the last component, so that a replaced link stays a link.
std::filesystem::path FollowLinks(std::filesystem::path path);

// The folder that will hold name, and the name in it.
struct Place {
  UniqueFile folder;  // O_PATH
  std::string name;
};
Place PlaceOf(const std::filesystem::path& real);

}  // namespace dotloom::posix
