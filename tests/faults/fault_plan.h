// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

namespace dotloom {

// The classes of calls the fault shim (fault_shim.c) counts and can fail, and how.
inline constexpr const char* kFaultClasses[] = {"open",  "read",  "write",
                                                "fsync", "close", "rename"};
inline constexpr const char* kFaultKinds[] = {"EIO", "ENOSPC", "SHORT", "EOF"};

}  // namespace dotloom
