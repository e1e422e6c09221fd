// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "platform/win32/common_dialog.h"

#include <commdlg.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "base/system_error.h"
#include "platform/win32/handles.h"

namespace dotloom {
namespace {

using DialogFunction = BOOL(WINAPI*)(LPOPENFILENAMEW);
using ErrorFunction = DWORD(WINAPI*)();

// The dialogs' library, loaded on first use rather than at start-up: loading it and the shell
// libraries it pulls in would otherwise delay every launch, dialog or not.
struct DialogLibrary {
  win32::UniqueModule module;
  DialogFunction open = nullptr;
  DialogFunction save = nullptr;
  ErrorFunction error = nullptr;
};

template <typename Function>
Function Find(HMODULE module, const char* name) {
  // Through the generic function type, which converts to any other without a warning.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

const DialogLibrary& Dialogs() {
  static const DialogLibrary library = [] {
    DialogLibrary loaded;
    // Only the system's own copy, never one planted beside the program.
    loaded.module.Reset(LoadLibraryExW(L"comdlg32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (loaded.module) {
      loaded.open = Find<DialogFunction>(loaded.module.get(), "GetOpenFileNameW");
      loaded.save = Find<DialogFunction>(loaded.module.get(), "GetSaveFileNameW");
      loaded.error = Find<ErrorFunction>(loaded.module.get(), "CommDlgExtendedError");
    }
    return loaded;
  }();
  if (library.open == nullptr || library.save == nullptr || library.error == nullptr) {
    throw std::runtime_error("the file dialogs are not available");
  }
  return library;
}

}  // namespace

std::wstring CommonDialog::ToDialogFilter(std::string_view filter) {
  if (filter.empty()) return {};
  std::wstring dialog_filter = win32::ToWide(filter);
  std::replace(dialog_filter.begin(), dialog_filter.end(), L'|', L'\0');
  dialog_filter.push_back(L'\0');
  return dialog_filter;
}

std::optional<std::filesystem::path> CommonDialog::Ask(Purpose purpose,
                                                       const std::filesystem::path& folder) {
  const bool save = purpose == Purpose::kSave;
  const std::wstring dialog_filter = ToDialogFilter(Filter());
  const std::wstring initial_folder = folder.wstring();
  std::vector<wchar_t> buffer(kBufferSize, L'\0');

  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner_;
  dialog.lpstrFilter = dialog_filter.empty() ? nullptr : dialog_filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = buffer.data();
  dialog.nMaxFile = kBufferSize;
  dialog.lpstrInitialDir = initial_folder.empty() ? nullptr : initial_folder.c_str();
  // The read-only box would offer a choice the program ignores; the process's current folder
  // is nobody's business but the program's.
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
                 (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST);

  const DialogLibrary& dialogs = Dialogs();
  if ((save ? dialogs.save(&dialog) : dialogs.open(&dialog)) == FALSE) {
    // 0 is a cancel; anything else, a name too long for the buffer among them, is a failure.
    const DWORD error = dialogs.error();
    if (error == 0) return std::nullopt;
    win32::ThrowError(error, "file dialog failed");
  }
  return std::filesystem::path(buffer.data());
}

}  // namespace dotloom
