// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "app/win32/frm_dotloom.h"

#include <algorithm>
#include <string>

#include "app/win32/resources.h"
#include "image/pixel_scale.h"
#include "platform/win32/win32_support.h"
#include "window/window_description.h"

namespace dotloom {
namespace {

// The window class is named after the form.
const std::wstring& ClassName() {
  static const std::wstring name = win32::ToWide(window::kFormName);
  return name;
}

// A fixed frame: nothing in the window follows a change of size, so none is offered.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kExStyle = 0;

void RegisterClassOnce(HINSTANCE instance, WNDPROC procedure) {
  win32::RegisterWindowClassOnce(
      instance, ClassName().c_str(), procedure, [&](WNDCLASSEXW& window_class) {
        window_class.hIcon = static_cast<HICON>(LoadImageW(
            instance, MAKEINTRESOURCEW(IDI_DOTLOOM), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
        window_class.hIconSm = static_cast<HICON>(
            LoadImageW(instance, MAKEINTRESOURCEW(IDI_DOTLOOM), IMAGE_ICON,
                       GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED));
        window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);  // NOLINT: the system's cursor id
        // The form's own background, shown in the column beside the picture control.
        window_class.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
      });
}

win32::UniqueMenu MakeMenuBar(HMENU& file_menu) {
  win32::UniqueMenu bar(CreateMenu());
  win32::UniqueMenu file(CreatePopupMenu());
  bool made = bar && file;
  for (const window::MenuItem& item : window::kFileMenuItems) {
    made = made &&
           AppendMenuW(file.get(), MF_STRING, item.id, win32::ToWide(item.text).c_str()) != FALSE;
  }
  if (!made || AppendMenuW(bar.get(), MF_POPUP, reinterpret_cast<UINT_PTR>(file.get()),
                           win32::ToWide(window::kFileMenuText).c_str()) == FALSE) {
    win32::ThrowLastError("cannot make the menu");
  }
  file_menu = file.Release();  // the bar owns it now
  return bar;
}

}  // namespace

frmDotloom::frmDotloom(HINSTANCE instance) {
  RegisterClassOnce(instance, &frmDotloom::WindowProc);
  win32::UniqueMenu bar = MakeMenuBar(mnu_file_);
  // window_ takes the handle as the window is made (WM_NCCREATE), so that a failure from here
  // on destroys it.
  if (CreateWindowExW(kExStyle, ClassName().c_str(), win32::ToWide(window::kCaption).c_str(),
                      kStyle, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                      bar.get(), instance, this) == nullptr) {
    win32::ThrowLastError("cannot create the main window");
  }
  static_cast<void>(bar.Release());  // the window owns it now

  picture1_.emplace(hwnd(), window::kPicture1Id);
  common_dialog1_.SetOwner(hwnd());
  window::SetUpCommonDialog1(common_dialog1_);
  FitTo(GetDpiForWindow(hwnd()), nullptr);
}

void frmDotloom::Show(int show_command) const {
  ShowWindow(hwnd(), show_command);
  UpdateWindow(hwnd());
}

void frmDotloom::FitTo(UINT dpi, const RECT* suggested) {
  // A whole factor, so that a canvas pixel stays a square block of screen pixels.
  const int scale = PixelScale(static_cast<double>(dpi) / USER_DEFAULT_SCREEN_DPI);
  picture1_->Place(scale);
  const window::Size client_size = window::ClientSize(scale);
  const SIZE client{client_size.width, client_size.height};

  RECT outer{0, 0, client.cx, client.cy};
  AdjustWindowRectExForDpi(&outer, kStyle, TRUE, kExStyle, dpi);
  SIZE frame{outer.right - outer.left, outer.bottom - outer.top};
  frame_ = frame;
  UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
  POINT at{};
  if (suggested != nullptr) {
    at = {suggested->left, suggested->top};
  } else {
    flags |= SWP_NOMOVE;
  }
  SetWindowPos(hwnd(), nullptr, at.x, at.y, frame.cx, frame.cy, flags);

  // A menu bar that wraps onto a second line in so narrow a window takes its height from the
  // client area: the frame grows by whatever the client area still lacks.
  RECT got{};
  GetClientRect(hwnd(), &got);
  if (got.right != client.cx || got.bottom != client.cy) {
    frame.cx += client.cx - got.right;
    frame.cy += client.cy - got.bottom;
    frame_ = frame;
    SetWindowPos(hwnd(), nullptr, 0, 0, frame.cx, frame.cy, flags | SWP_NOMOVE);
  }
}

void frmDotloom::Click(window::Command command) {
  window::RunThenRepaint(command, picture1_->canvas(), common_dialog1_,
                         [this] { picture1_->Refresh(); });
}

LRESULT frmDotloom::Handle(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wparam) == 0 && picture1_) {  // from a menu
        for (const window::MenuItem& item : window::kFileMenuItems) {
          if (LOWORD(wparam) == item.id) {
            Click(item.command);
            return 0;
          }
        }
      }
      break;
    case WM_GETMINMAXINFO:
      // The system's least size for a window with a caption is wider than this one; left
      // alone, it would widen the client area beyond the canvas's column.
      if (frame_.cx > 0) {
        reinterpret_cast<MINMAXINFO*>(lparam)->ptMinTrackSize = {frame_.cx, frame_.cy};
        return 0;
      }
      break;
    case WM_DPICHANGED:
      if (picture1_) {
        FitTo(HIWORD(wparam), reinterpret_cast<const RECT*>(lparam));
        return 0;
      }
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      // The handle may be given to another window from now on.
      static_cast<void>(window_.Release());
      return DefWindowProcW(hwnd, message, wparam, lparam);
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

LRESULT CALLBACK frmDotloom::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = win32::SelfOf<frmDotloom>(hwnd, message, lparam);
  if (self == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);
  if (message == WM_NCCREATE) self->window_.Reset(hwnd);
  // No exception may cross into the system's code; the commands already catch their own.
  try {
    return self->Handle(hwnd, message, wparam, lparam);
  } catch (...) {
    return DefWindowProcW(hwnd, message, wparam, lparam);
  }
}

}  // namespace dotloom
