// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The floor for start-up on Windows: the same window as dotloom.exe's, made from bare Win32
// with nothing behind it: the caption, the File menu with its two items and a 103 x 56 child
// window with the system's sunken client edge, in a client area one pixel wider, and the
// program's icon.

#include <windows.h>

namespace {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_GETMINMAXINFO) {  // as small as the program's own window
    reinterpret_cast<MINMAXINFO*>(lparam)->ptMinTrackSize = {0, 0};
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*command_line*/,
                    int show_command) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.hIcon = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  window_class.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                       GetSystemMetrics(SM_CXSMICON),
                                                       GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  window_class.lpszClassName = L"FloorWindow";
  RegisterClassExW(&window_class);

  const HMENU file = CreatePopupMenu();
  AppendMenuW(file, MF_STRING, 1, L"&Open");
  AppendMenuW(file, MF_STRING, 2, L"&Save As...");
  const HMENU bar = CreateMenu();
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");

  constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT outer{0, 0, 104, 56};
  AdjustWindowRectEx(&outer, kStyle, TRUE, 0);
  const HWND window = CreateWindowExW(0, L"FloorWindow", L"Dotloom", kStyle, CW_USEDEFAULT,
                                      CW_USEDEFAULT, outer.right - outer.left,
                                      outer.bottom - outer.top, nullptr, bar, instance, nullptr);
  // A class of its own, as the program's: a system control class would pull in the common
  // controls library, which the program never loads at start-up.
  WNDCLASSEXW child_class{};
  child_class.cbSize = sizeof child_class;
  child_class.lpfnWndProc = DefWindowProcW;
  child_class.hInstance = instance;
  child_class.hbrBackground = GetSysColorBrush(COLOR_HIGHLIGHTTEXT);
  child_class.lpszClassName = L"FloorChild";
  RegisterClassExW(&child_class);
  CreateWindowExW(WS_EX_CLIENTEDGE, L"FloorChild", L"", WS_CHILD | WS_VISIBLE, 0, 0, 103, 56,
                  window, nullptr, instance, nullptr);
  ShowWindow(window, show_command);
  UpdateWindow(window);

  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
