// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// Reports, from inside the window system, what the Windows end-to-end test cannot read off
// the screen alone: where Dotloom's client area is and how large, where its picture control
// and that control's interior sit, the window's style, the system colours and the program
// file's icon and version resources. One "key=value" line each; exits 1 when no Dotloom window
// is up.

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

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

// The program file of the process that owns window.
std::wstring ProgramPath(HWND window) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
  if (process == nullptr) return {};
  std::wstring path(32768, L'\0');
  auto size = static_cast<DWORD>(path.size());
  const BOOL named = QueryFullProcessImageNameW(process, 0, path.data(), &size);
  CloseHandle(process);
  path.resize(named != FALSE ? size : 0);
  return path;
}

// The file's FILEVERSION as "major.minor.patch.build".
std::string FileVersion(const std::wstring& path) {
  std::vector<unsigned char> info(GetFileVersionInfoSizeW(path.c_str(), nullptr));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (path.empty() || info.empty() ||
      GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()) == FALSE ||
      VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) == FALSE) {
    return "?";
  }
  return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
         std::to_string(LOWORD(fixed->dwFileVersionLS));
}

// Whether the file holds the icon the window class is given (resource 1).
bool HasIcon(const std::wstring& path) {
  const HMODULE module = LoadLibraryExW(path.c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (module == nullptr) return false;
  const bool found = FindResourceW(module, MAKEINTRESOURCEW(1), RT_GROUP_ICON) != nullptr;
  FreeLibrary(module);
  return found;
}

}  // namespace

int main() {
  // Device pixels, as Dotloom sizes itself: a process unaware of the dpi is told coordinates
  // scaled to 96 dpi, by Windows and from Wine 10 on also by Wine.
  SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE);
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
  const std::wstring program = ProgramPath(window);
  std::printf("icon=%d\n", HasIcon(program) ? 1 : 0);
  std::printf("file_version=%s\n", FileVersion(program).c_str());
  std::printf("button_face=%06lx\n", static_cast<unsigned long>(GetSysColor(COLOR_BTNFACE)));
  std::printf("highlight_text=%06lx\n",
              static_cast<unsigned long>(GetSysColor(COLOR_HIGHLIGHTTEXT)));
  return 0;
}
