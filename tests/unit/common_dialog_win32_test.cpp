// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The Windows file dialog object: its classic filter text in the form the system dialogs
// take. The dialogs themselves are driven by the end-to-end test, which has a screen.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/win32/common_dialog.h"

namespace dotloom {
namespace {

using namespace std::string_view_literals;

struct FilterCase {
  const char* name;
  std::wstring_view filter;
  // Without the final NUL that c_str() adds, so each list ends "\0\0" in memory.
  std::wstring_view dialog_filter;
};

const FilterCase kFilterCases[] = {
    {"the window's own filter", L"Bitfile (*.bit)|*.bit|Bitmap (*.bmp)|*.bmp|All files (*.*)|*.*"sv,
     L"Bitfile (*.bit)\0*.bit\0Bitmap (*.bmp)\0*.bmp\0All files (*.*)\0*.*\0"sv},
    {"one pair", L"Bitfile|*.bit"sv, L"Bitfile\0*.bit\0"sv},
    {"several patterns in one entry", L"Pictures|*.bit;*.bmp"sv, L"Pictures\0*.bit;*.bmp\0"sv},
    {"no filter at all", L""sv, L""sv},
};

TEST(CommonDialogFilter, BecomesNulSeparatedList) {
  for (const FilterCase& test : kFilterCases) {
    SCOPED_TRACE(test.name);
    const std::wstring got = CommonDialog::ToDialogFilter(test.filter);
    EXPECT_EQ(got, test.dialog_filter);
  }
}

}  // namespace
}  // namespace dotloom
