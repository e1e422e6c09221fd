// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "commands/file_kind.h"

#include <gtest/gtest.h>

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
      {"x\xFF\x80.b", "\x80.b"},  // not UTF-8: byte by byte
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FileKind(c.path), c.kind) << c.path;
  }
}

}  // namespace
}  // namespace dotloom
