// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "commands/file_kind.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace dotloom {
namespace {

TEST(FileKindTest, IsTheLowerCasedLastThreeCharacters) {
  struct Case {
    const char* path;
    const char* kind;
  };
  const Case cases[] = {
      {"/home/a/logo.bit", "bit"},
      {"LOGO.BIT", "bit"},
      {"drawing.abit", "bit"},
      {"/tmp/bit", "bit"},
      {"bit", "bit"},
      {"photo.bmp", "bmp"},
      {"Photo.BMP", "bmp"},
      {"photo.jpeg", "peg"},
      {"logo", "ogo"},
      {"photo.gif", "gif"},
      {"ab", "ab"},
      {"", ""},
      {"x.bit ", "it "},
      {"Bild\xC3\x9C.BIT", "bit"},
      {"caf\xC3\xA9.b\xC3\x84t", "b\xC3\x84t"},  // only ASCII letters are lowered
      {"x\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC", "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC"},
#ifndef _WIN32
      {"x\xFF\x80.b", "\x80.b"},  // not UTF-8: byte by byte; Windows names are never bytes
#endif
  };
  for (const Case& c : cases) {
    // The name as UTF-8, whatever the system's own path encoding.
    const std::u8string name(c.path, c.path + std::char_traits<char>::length(c.path));
    EXPECT_EQ(FileKind(std::filesystem::path(name)), c.kind) << c.path;
  }

#ifdef _WIN32
  // Windows names are UTF-16: a surrogate pair is one character, and a lone surrogate, which
  // a Windows name may hold, counts as one and reads as U+FFFD.
  struct WideCase {
    const wchar_t* path;
    const char* kind;
  };
  const WideCase wide_cases[] = {
      {L"C:\\pics\\LOGO.BIT", "bit"},
      {L"x\xD83D\xDE00.b", "\xF0\x9F\x98\x80.b"},  // U+1F600, one character
      {L"x\xD800.B", "\xEF\xBF\xBD.b"},
      {L"\xDC00IT", "\xEF\xBF\xBDit"},
  };
  for (const WideCase& c : wide_cases) {
    EXPECT_EQ(FileKind(c.path), c.kind) << c.kind;
  }
#endif
}

// The one place the dialogs' filter text is held to its exact form; both builds show it.
TEST(FileKindTest, DialogFilterListsTheKindsThenAllFiles) {
  EXPECT_EQ(DialogFilter(), "Bitfile (*.bit)|*.bit|Bitmap (*.bmp)|*.bmp|All files (*.*)|*.*");
}

}  // namespace
}  // namespace dotloom
