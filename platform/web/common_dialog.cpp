// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "platform/web/common_dialog.h"

#include <emscripten.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "commands/file_kind.h"

namespace dotloom {
namespace {

constexpr std::uintptr_t kCancelled = 0;
constexpr std::uintptr_t kFailed = 1;

// The kinds as the pickers' types, in JSON: every row but "*.*", which the pickers offer of
// their own as all files. The labels and patterns are ours and hold no quote.
std::string PickerTypes() {
  std::string types;
  for (const FileKindRow& row : FileKindRows()) {
    if (row.pattern == "*.*") continue;
    const std::string pattern(row.pattern);
    types += types.empty() ? "[" : ",";
    types += "{\"description\":\"" + std::string(row.label) + " (" + pattern + ")\",";
    types += "\"accept\":{\"application/octet-stream\":[\"" + pattern.substr(1) + "\"]}}";
  }
  return types.empty() ? "[]" : types + "]";
}

// The page's Module.dotloomAsk(save, types) resolves to the picked path, or to null when
// the user cancels; it rejects when the dialog cannot be shown. The path comes back in
// memory of malloc's.
// clang-format off
EM_ASYNC_JS(std::uintptr_t, dotloom_ask, (int save, const char* types), {
  try {
    const path = await Module.dotloomAsk(save !== 0, JSON.parse(UTF8ToString(types)));
    return path === null ? 0 : allocateUTF8(path);
  } catch (e) {
    return 1;
  }
});
// clang-format on

}  // namespace

std::optional<std::filesystem::path> CommonDialog::Ask(Purpose purpose,
                                                       const std::filesystem::path& /*folder*/) {
  // A page sees no folders: the browser remembers where its dialogs were last.
  const std::uintptr_t answer =
      dotloom_ask(purpose == Purpose::kSave ? 1 : 0, PickerTypes().c_str());
  if (answer == kCancelled) return std::nullopt;
  if (answer == kFailed) throw std::runtime_error("the file dialog cannot be shown");
  const std::unique_ptr<char, decltype(&std::free)> path(reinterpret_cast<char*>(answer),
                                                         &std::free);
  return std::filesystem::path(path.get());
}

}  // namespace dotloom
