// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include <windows.h>

#include "app/win32/frm_dotloom.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*command_line*/,
                    int show_command) {
  try {
    dotloom::frmDotloom window(instance);
    window.Show(show_command);
    MSG message{};
    BOOL got = FALSE;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0) {
      if (got == -1) return 1;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
  } catch (...) {
    return 1;  // no window could be made: there is nothing to show a message in
  }
}
