#include "commands/file_kind.h"

#include <gtest/gtest.h>

namespace dotloom {
namespace {

TEST(FileKindTest, IsTheLowerCasedLastThreeCharacters) {
  struct Case {
    const char* path;
    const char* kind;
  };
  for (const Case& c : {
           Case{"/home/a/logo.bit", "bit"},
           Case{"LOGO.BIT", "bit"},
           Case{"drawing.abit", "bit"},
           Case{"/tmp/bit", "bit"},
           Case{"bit", "bit"},
           Case{"photo.bmp", "bmp"},
           Case{"Photo.BMP", "bmp"},
           Case{"photo.jpeg", "peg"},
           Case{"logo", "ogo"},
           Case{"photo.gif", "gif"},
           Case{"ab", "ab"},
           Case{"", ""},
           Case{"x.bit ", "it "},
           Case{"Bild\xC3\x9C.BIT", "bit"},
           Case{"caf\xC3\xA9.b\xC3\x84t", "b\xC3\x84t"},  // only ASCII letters are lowered
           Case{"x\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC", "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC"},
           Case{"x\xFF\x80.b", "\x80.b"},  // not UTF-8: byte by byte
       }) {
    EXPECT_EQ(FileKind(c.path), c.kind) << c.path;
  }
}

}  // namespace
}  // namespace dotloom
