// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// Reports, from inside the window system, what the Windows end-to-end test cannot read off
// the screen alone: where Dotloom's client area is and how large, where its picture control
// and that control's interior sit, the window's style and the system colours. One
// "key=value" line each; exits 1 when no Dotloom window is up.

#include <windows.h>

#include <cstdio>

namespace {

void PrintRect(const char* name, RECT rect) {
  std::printf("%s=%ld,%ld,%ld,%ld\n", name, rect.left, rect.top, rect.right - rect.left,
              rect.bottom - rect.top);
}

// A window's client area in screen coordinates.
RECT ScreenClient(HWND window) {
  RECT client{};
  GetClientRect(window, &client);
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
  return client;
}

}  // namespace

int main() {
  const HWND window = FindWindowW(L"frmDotloom", L"Dotloom");
  if (window == nullptr) return 1;
  const HWND picture = GetWindow(window, GW_CHILD);
  RECT frame{};
  GetWindowRect(window, &frame);
  RECT picture_frame{};
  GetWindowRect(picture, &picture_frame);
  PrintRect("window", frame);
  PrintRect("client", ScreenClient(window));
  PrintRect("picture", picture_frame);
  PrintRect("interior", ScreenClient(picture));
  std::printf("dpi=%u\n", GetDpiForWindow(window));
  const auto style = static_cast<unsigned long>(GetWindowLongPtrW(window, GWL_STYLE));
  std::printf("sizable=%d\n", (style & (WS_THICKFRAME | WS_MAXIMIZEBOX)) != 0 ? 1 : 0);
  const auto picture_style = static_cast<unsigned long>(GetWindowLongPtrW(picture, GWL_EXSTYLE));
  std::printf("client_edge=%d\n", (picture_style & WS_EX_CLIENTEDGE) != 0 ? 1 : 0);
  std::printf("button_face=%06lx\n", static_cast<unsigned long>(GetSysColor(COLOR_BTNFACE)));
  std::printf("highlight_text=%06lx\n",
              static_cast<unsigned long>(GetSysColor(COLOR_HIGHLIGHTTEXT)));
  return 0;
}
