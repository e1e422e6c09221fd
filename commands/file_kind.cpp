// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "commands/file_kind.h"

#include <cstddef>
#include <string_view>

#include "commands/picture_files.h"

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
std::size_t StartOfLastCharacter(std::string_view name, std::size_t end) {
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

constexpr int kKindCharacters = 3;

// A name in UTF-8 bytes, as POSIX systems keep them. (Each system uses one of the two.)
[[maybe_unused]] std::string KindOf(std::string_view name) {
  std::size_t start = name.size();
  for (int i = 0; i < kKindCharacters && start > 0; ++i) {
    start = StartOfLastCharacter(name, start);
  }
  return std::string(name.substr(start));
}

constexpr bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800U && unit <= 0xDBFFU; }
constexpr bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00U && unit <= 0xDFFFU; }

void AppendUtf8(std::string& out, char32_t code) {
  const auto byte = [&out](char32_t value) { out.push_back(static_cast<char>(value)); };
  if (code < 0x80U) {
    byte(code);
  } else if (code < 0x800U) {
    byte(0xC0U | (code >> 6U));
    byte(0x80U | (code & 0x3FU));
  } else if (code < 0x10000U) {
    byte(0xE0U | (code >> 12U));
    byte(0x80U | ((code >> 6U) & 0x3FU));
    byte(0x80U | (code & 0x3FU));
  } else {
    byte(0xF0U | (code >> 18U));
    byte(0x80U | ((code >> 12U) & 0x3FU));
    byte(0x80U | ((code >> 6U) & 0x3FU));
    byte(0x80U | (code & 0x3FU));
  }
}

// A name in UTF-16, as Windows keeps them: a surrogate pair is one character, and a lone
// surrogate, which Windows allows in names, counts as one and reads as U+FFFD.
[[maybe_unused]] std::string KindOf(std::wstring_view name) {
  std::size_t start = name.size();
  for (int i = 0; i < kKindCharacters && start > 0; ++i) {
    --start;
    if (start > 0 && IsLowSurrogate(static_cast<char32_t>(name[start])) &&
        IsHighSurrogate(static_cast<char32_t>(name[start - 1]))) {
      --start;
    }
  }
  std::string kind;
  for (std::size_t i = start; i < name.size(); ++i) {
    const auto unit = static_cast<char32_t>(name[i]);
    if (IsHighSurrogate(unit) && i + 1 < name.size() &&
        IsLowSurrogate(static_cast<char32_t>(name[i + 1]))) {
      AppendUtf8(kind, 0x10000U + ((unit - 0xD800U) << 10U) +
                           (static_cast<char32_t>(name[i + 1]) - 0xDC00U));
      ++i;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      AppendUtf8(kind, 0xFFFDU);
    } else {
      AppendUtf8(kind, unit);
    }
  }
  return kind;
}

constexpr FileKindRow kRows[] = {
    {"bit", "Bitfile", "*.bit", &OpenBitfile, &SaveBitfile},
    {"bmp", "Bitmap", "*.bmp",
     [](const std::filesystem::path& path, Canvas& canvas) {
       canvas.SetPicture(LoadPicture(path, Canvas::kWidth, Canvas::kHeight));
     },
     [](const Canvas& canvas, const std::filesystem::path& path) {
       SavePicture(canvas.Image(), path);
     }},
    {"", "All files", "*.*"},
};

}  // namespace

std::span<const FileKindRow> FileKindRows() { return kRows; }

const FileKindRow* FindFileKind(const std::filesystem::path& path) {
  const std::string kind = FileKind(path);
  for (const FileKindRow& row : kRows) {
    if (!row.kind.empty() && row.kind == kind) return &row;
  }
  return nullptr;
}

std::string DialogFilter() {
  std::string filter;
  for (const FileKindRow& row : kRows) {
    if (!filter.empty()) filter += '|';
    filter.append(row.label).append(" (").append(row.pattern).append(")|").append(row.pattern);
  }
  return filter;
}

std::string FileKind(const std::filesystem::path& path) {
  // The native string, whatever its type: bytes on POSIX, UTF-16 on Windows.
  std::string kind =
      KindOf(std::basic_string_view<std::filesystem::path::value_type>(path.native()));
  for (char& c : kind) c = LowerAscii(c);
  return kind;
}

}  // namespace dotloom
