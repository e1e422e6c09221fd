// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The window system's handles, each with a one-line owner on the floor's template. A file's
// HANDLE is the floor's own UniqueFile.
#pragma once

#include <windows.h>

#include "base/unique_handle.h"
#include "platform/win32/win32_support.h"

namespace dotloom::win32 {

using UniqueWindow = UniqueHandle<HandleTraits<HWND, nullptr, &CutOffAndDestroy>>;
// Only until the menu is attached to a window, which then owns it.
using UniqueMenu = UniqueHandle<HandleTraits<HMENU, nullptr, &::DestroyMenu>>;
template <typename Object>
using UniqueGdiObject = UniqueHandle<HandleTraits<Object, nullptr, &::DeleteObject>>;
using UniqueModule = UniqueHandle<HandleTraits<HMODULE, nullptr, &::FreeLibrary>>;

// A window's whole-window device context, which is released through its window. Only the
// device context tells a held one from none.
struct WindowDc {
  HWND window = nullptr;
  HDC dc = nullptr;
  bool operator==(const WindowDc& other) const { return dc == other.dc; }
};
struct WindowDcTraits {
  using Handle = WindowDc;
  static Handle None() { return {}; }
  static bool Close(Handle held) { return ::ReleaseDC(held.window, held.dc) != 0; }
};
using UniqueWindowDc = UniqueHandle<WindowDcTraits>;

}  // namespace dotloom::win32
