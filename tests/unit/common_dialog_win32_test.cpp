// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The Windows file dialog object: its classic filter text in the form the system dialogs
// take. The dialogs themselves are driven by the end-to-end test, which has a screen.
#include <gtest/gtest.h>

#include <string>

#include "commands/file_kind.h"
#include "platform/win32/common_dialog.h"

namespace dotloom {
namespace {

using namespace std::string_literals;

struct FilterCase {
  const char* name;
  std::string filter;
  // Without the final NUL that c_str() adds, so each list ends "\0\0" in memory.
  std::wstring dialog_filter;
};

TEST(CommonDialogFilter, BecomesNulSeparatedList) {
  const FilterCase cases[] = {
      {"the window's own filter", DialogFilter(),
       L"Bitfile (*.bit)\0*.bit\0Bitmap (*.bmp)\0*.bmp\0All files (*.*)\0*.*\0"s},
      {"one pair", "Bitfile|*.bit", L"Bitfile\0*.bit\0"s},
      {"several patterns in one entry", "Pictures|*.bit;*.bmp", L"Pictures\0*.bit;*.bmp\0"s},
      {"no filter at all", "", L""s},
      {"UTF-8 becomes UTF-16", "Bild (\xC3\xA4)|*.\xC3\xA4", L"Bild (\u00E4)\0*.\u00E4\0"s},
  };
  for (const FilterCase& test : cases) {
    SCOPED_TRACE(test.name);
    EXPECT_EQ(CommonDialog::ToDialogFilter(test.filter), test.dialog_filter);
  }
}

}  // namespace
}  // namespace dotloom
