// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The plumbing of the Windows build's windows: a window class, the object a window serves,
// and text in the form the system's functions take.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "base/system_error.h"

namespace dotloom::win32 {

// A window is cut off from its object before it goes, so that no message reaches a
// half-destroyed object.
inline void CutOff(HWND window) { ::SetWindowLongPtrW(window, GWLP_USERDATA, 0); }
inline BOOL CutOffAndDestroy(HWND window) {
  CutOff(window);
  return ::DestroyWindow(window);
}

// UTF-8 text, as the shared code keeps it, in the UTF-16 the system's functions take.
inline std::wstring ToWide(std::string_view text) {
  if (text.empty()) return {};
  const auto length = static_cast<int>(text.size());
  const int wide_length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), wide_length);
  return wide;
}

// Registers the window class `name` of instance with procedure, once per process; describe
// fills in the rest of the class (icons, cursor, background).
template <typename Describe>
void RegisterWindowClassOnce(HINSTANCE instance, const wchar_t* name, WNDPROC procedure,
                             Describe describe) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  if (::GetClassInfoExW(instance, name, &window_class) != FALSE) return;
  window_class = WNDCLASSEXW{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = instance;
  window_class.lpszClassName = name;
  describe(window_class);
  if (::RegisterClassExW(&window_class) == 0) ThrowLastError("RegisterClassExW");
}

// The object a window procedure serves: the last argument of CreateWindowExW, kept with the
// window from WM_NCCREATE on. Null before that and for any message after WM_NCDESTROY,
// which is the last to reach the object.
template <typename Object>
Object* SelfOf(HWND window, UINT message, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Object*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_NCDESTROY) CutOff(window);
  return self;
}

}  // namespace dotloom::win32
