// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// What the main window is, for both window systems: its names and captions, its menu, its
// dialog's filter, the picture control's geometry and colours, and when it repaints. The
// window systems only build and draw what this describes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>

#include "commands/file_dialog.h"
#include "image/canvas.h"
#include "image/colour.h"

namespace dotloom::window {

// The form's designer name, which the Windows build gives its window class too.
inline constexpr std::string_view kFormName = "frmDotloom";
inline constexpr std::string_view kCaption = "Dotloom";

// The File menu: "&File" with "&Open" and "&Save As...", no shortcut keys, separators or
// other items. The ids are the items' command ids where the window system numbers them.
enum class Command { kOpen, kSaveAs };
struct MenuItem {
  Command command;
  std::string_view name;  // the designer name
  std::string_view text;
  unsigned id;
};
inline constexpr std::string_view kFileMenuName = "mnuFile";
inline constexpr std::string_view kFileMenuText = "&File";
inline constexpr std::array<MenuItem, 2> kFileMenuItems{{
    {Command::kOpen, "mnuFileOpen", "&Open", 101},
    {Command::kSaveAs, "mnuSaveAs", "&Save As...", 102},
}};
const MenuItem& FileMenuItem(Command command);

// Runs command on canvas through dialog, then repaints, also after a command that failed
// midway: a failed Open may already have cleared the canvas or drawn part of a Bitfile.
void RunThenRepaint(Command command, Canvas& canvas, FileDialog& dialog,
                    const std::function<void()>& repaint);

// Gives the form's file dialog object its properties: the file kinds' filter.
void SetUpCommonDialog1(FileDialog& dialog);

inline constexpr std::string_view kPicture1Name = "Picture1";
inline constexpr int kPicture1Id = 1;

struct Size {
  int width = 0;
  int height = 0;
  bool operator==(const Size&) const = default;
};

// The picture control's sunken edge on each side, in canvas pixels: two lines, outer and
// inner, each as wide as a canvas pixel, so the edge grows with the canvas.
inline constexpr int kBorder = 2;

// The picture control at scale device pixels per canvas pixel: the canvas inside its edge.
constexpr Size PictureSize(int scale) {
  return {(Canvas::kWidth + 2 * kBorder) * scale, (Canvas::kHeight + 2 * kBorder) * scale};
}

// The client area: the picture control in its top-left corner and, beside it, a column as
// wide as a canvas pixel that shows the form's own background. The control's bottom edge is
// the client area's.
constexpr Size ClientSize(int scale) {
  const Size picture = PictureSize(scale);
  return {picture.width + scale, picture.height};
}

// The canvas's background, and so the colour of every pixel nothing was drawn on, is the
// system's highlight-text colour, which each window system's picture control reads its own way.

// A canvas colour (0x00BBGGRR) as the 32-bit pixels both window systems draw, 0x00RRGGBB.
constexpr std::uint32_t ToScreenPixel(Colour colour) {
  return std::uint32_t{Blue(colour)} | (std::uint32_t{Green(colour)} << 8U) |
         (std::uint32_t{Red(colour)} << 16U);
}

}  // namespace dotloom::window
