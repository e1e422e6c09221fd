// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

// Resource ids, shared by the resource script and the code.
#define IDI_DOTLOOM 1
