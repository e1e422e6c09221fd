// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "commands/file_kind.h"

#include <cstddef>

namespace dotloom {
namespace {

constexpr bool IsContinuationByte(unsigned char c) { return (c & 0xC0U) == 0x80U; }

// The length of the UTF-8 sequence a lead byte starts, or 0 for a byte that starts none.
constexpr std::size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80U) return 1;
  if ((lead & 0xE0U) == 0xC0U) return 2;
  if ((lead & 0xF0U) == 0xE0U) return 3;
  if ((lead & 0xF8U) == 0xF0U) return 4;
  return 0;
}

// Where the character that ends at `end` starts; a broken sequence counts byte by byte.
std::size_t StartOfLastCharacter(const std::string& name, std::size_t end) {
  constexpr std::size_t kMaxSequence = 4;
  for (std::size_t length = 1; length <= kMaxSequence && length <= end; ++length) {
    const auto byte = static_cast<unsigned char>(name[end - length]);
    if (!IsContinuationByte(byte)) return SequenceLength(byte) == length ? end - length : end - 1;
  }
  return end - 1;
}

constexpr char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string FileKind(const std::filesystem::path& path) {
  const std::string& name = path.native();
  constexpr int kCharacters = 3;
  std::size_t start = name.size();
  for (int i = 0; i < kCharacters && start > 0; ++i) start = StartOfLastCharacter(name, start);
  std::string kind = name.substr(start);
  for (char& c : kind) c = LowerAscii(c);
  return kind;
}

}  // namespace dotloom
