// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The page's side of the program: what the page's script calls. The script builds the menu,
// the canvas and the dialogs from what these give, so every rule stays here in C++.
#include <emscripten.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "image/pixel_scale.h"
#include "platform/web/common_dialog.h"
#include "platform/web/picture_box.h"
#include "window/window_description.h"

namespace dotloom {
namespace {

struct Form {
  explicit Form(const PictureBox::Colours& colours) : picture1(colours) {
    window::SetUpCommonDialog1(common_dialog1);
  }
  PictureBox picture1;
  CommonDialog common_dialog1;
};
std::unique_ptr<Form> form;

std::string text;  // what the last text call returned, kept while the script reads it

const char* Text(std::string_view value) {
  text.assign(value);
  return text.c_str();
}

}  // namespace
}  // namespace dotloom

using namespace dotloom;

extern "C" {

// The window's texts: 0 the caption, 1 the menu's, 2 and on its items' (with their & marks);
// "" past the last.
EMSCRIPTEN_KEEPALIVE const char* dotloom_text(int which) {
  const auto item = static_cast<std::size_t>(which) - 2;
  if (which == 0) return Text(window::kCaption);
  if (which == 1) return Text(window::kFileMenuText);
  return Text(which > 1 && item < window::kFileMenuItems.size() ? window::kFileMenuItems[item].text
                                                                : "");
}

// The CSS system colours the picture control takes, in PictureBox's order; "" past the last.
EMSCRIPTEN_KEEPALIVE const char* dotloom_colour_name(int which) {
  const auto index = static_cast<std::size_t>(which);
  return Text(which >= 0 && index < PictureBox::kCssColours.size() ? PictureBox::kCssColours[index]
                                                                   : "");
}

// Device pixels per canvas pixel at the browser's devicePixelRatio.
EMSCRIPTEN_KEEPALIVE int dotloom_scale(double device_pixel_ratio) {
  return PixelScale(device_pixel_ratio);
}

// The picture control's and the client area's width and height at scale, in device pixels.
EMSCRIPTEN_KEEPALIVE int dotloom_size(int scale, int what) {
  const window::Size picture = window::PictureSize(scale);
  const window::Size client = window::ClientSize(scale);
  const int sizes[] = {picture.width, picture.height, client.width, client.height};
  return sizes[what & 3];
}

// Makes the form with the colours the page read out, 0x00BBGGRR each, in kCssColours' order.
EMSCRIPTEN_KEEPALIVE void dotloom_start(Colour background, Colour outer_top_left,
                                        Colour outer_bottom_right, Colour inner_top_left,
                                        Colour inner_bottom_right) {
  form = std::make_unique<Form>(PictureBox::Colours{background, outer_top_left, outer_bottom_right,
                                                    inner_top_left, inner_bottom_right});
}

// The picture control's RGBA pixels at scale (see dotloom_size).
EMSCRIPTEN_KEEPALIVE const std::uint8_t* dotloom_draw(int scale) {
  return form->picture1.Draw(scale).data();
}

// Runs menu item index (as dotloom_text numbers them, less 2). Called asynchronously: it
// waits for the dialogs and the files; the page repaints when it ends.
EMSCRIPTEN_KEEPALIVE void dotloom_run(int index) {
  const auto item = static_cast<std::size_t>(index);
  if (item >= window::kFileMenuItems.size()) return;
  window::RunThenRepaint(window::kFileMenuItems[item].command, form->picture1.canvas(),
                         form->common_dialog1, [] {});
}

}  // extern "C"
