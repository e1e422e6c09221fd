// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// What every Windows part of the program shares: owners for the system's handles, one way
// to turn a failed call into an exception (base/), and the plumbing of a window class.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>

#include "base/system_error.h"
#include "base/unique_handle.h"

namespace dotloom::win32 {

// ThrowError and ThrowLastError are base/system_error.h's, in this namespace.

// A window is cut off from its object before it goes, so that no message reaches a
// half-destroyed object.
inline void CutOff(HWND window) { ::SetWindowLongPtrW(window, GWLP_USERDATA, 0); }
inline BOOL CutOffAndDestroy(HWND window) {
  CutOff(window);
  return ::DestroyWindow(window);
}

template <auto close>
struct Closer {
  template <typename Handle>
  void operator()(Handle handle) const {
    close(handle);
  }
};
template <typename Handle, auto close>
using UniquePointerHandle = std::unique_ptr<std::remove_pointer_t<Handle>, Closer<close>>;

// One owner per kind of handle. A file, pipe or mailslot HANDLE is base/'s UniqueFile.
using UniqueFile = dotloom::UniqueFile;
using UniqueWindow = UniquePointerHandle<HWND, &CutOffAndDestroy>;
// Only until the menu is attached to a window, which then owns it.
using UniqueMenu = UniquePointerHandle<HMENU, &::DestroyMenu>;
template <typename Object>
using UniqueGdiObject = UniquePointerHandle<Object, &::DeleteObject>;
using UniqueModule = UniquePointerHandle<HMODULE, &::FreeLibrary>;

// A window's whole-window device context, released on every way out.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(::GetWindowDC(window)) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc() {
    if (dc_ != nullptr) ::ReleaseDC(window_, dc_);
  }
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

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
