// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "platform/win32/picture_box.h"

#include <cstdint>
#include <vector>

#include "platform/win32/handles.h"
#include "platform/win32/win32_support.h"
#include "window/window_description.h"

namespace dotloom {
namespace {

constexpr wchar_t kClassName[] = L"DotloomPictureBox";
constexpr DWORD kStyle = WS_CHILD | WS_VISIBLE;
constexpr DWORD kExStyle = WS_EX_CLIENTEDGE;

void RegisterClassOnce(HINSTANCE instance, WNDPROC procedure) {
  // No background brush: every paint covers the whole interior.
  win32::RegisterWindowClassOnce(instance, kClassName, procedure, [](WNDCLASSEXW& window_class) {
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);  // NOLINT: the system's cursor id
  });
}

// The canvas's background (window_description.h). A system colour is a COLORREF, which has
// the canvas's own layout.
Colour CanvasBackground() { return static_cast<Colour>(GetSysColor(COLOR_HIGHLIGHTTEXT)); }

}  // namespace

PictureBox::PictureBox(HWND parent, int id) : canvas_(CanvasBackground()) {
  const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE));
  RegisterClassOnce(instance, &PictureBox::WindowProc);
  // The control id travels in the menu-handle parameter for child windows.
  window_.Reset(CreateWindowExW(kExStyle, kClassName, L"", kStyle, 0, 0, 0, 0, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, this));
  if (!window_) win32::ThrowLastError("cannot create the picture control");
}

void PictureBox::Place(int scale) {
  scale_ = scale;
  const window::Size size = window::PictureSize(scale);
  // The frame is computed afresh, as its width follows the scale.
  SetWindowPos(hwnd(), nullptr, 0, 0, size.width, size.height,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  InvalidateRect(hwnd(), nullptr, FALSE);
}

// The client edge keeps its look at every scale: each of its two lines becomes scale pixels
// wide, so the whole control grows by the same whole factor as the canvas inside it.
void PictureBox::PaintEdge() const {
  const win32::UniqueWindowDc dc({hwnd(), GetWindowDC(hwnd())});
  if (!dc) return;
  RECT frame{};
  GetWindowRect(hwnd(), &frame);
  RECT line{0, 0, frame.right - frame.left, frame.bottom - frame.top};
  static_assert(window::kBorder == 2, "one system edge per line");
  for (const UINT edge : {UINT{BDR_SUNKENOUTER}, UINT{BDR_SUNKENINNER}}) {
    for (int i = 0; i < scale_; ++i) {
      DrawEdge(dc.get().dc, &line, edge, BF_RECT);
      InflateRect(&line, -1, -1);
    }
  }
}

void PictureBox::Refresh() const {
  InvalidateRect(hwnd(), nullptr, FALSE);
  UpdateWindow(hwnd());
}

void PictureBox::Paint(HDC dc) const {
  const Picture image = canvas_.Image();
  std::vector<std::uint32_t> pixels;
  pixels.reserve(image.pixels().size());
  for (const Colour colour : image.pixels()) pixels.push_back(window::ToScreenPixel(colour));

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = image.width();
  info.bmiHeader.biHeight = -image.height();  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  // Whole-pixel copies only: each canvas pixel becomes a scale x scale block.
  SetStretchBltMode(dc, COLORONCOLOR);
  StretchDIBits(dc, 0, 0, image.width() * scale_, image.height() * scale_, 0, 0, image.width(),
                image.height(), pixels.data(), &info, DIB_RGB_COLORS, SRCCOPY);

  // Should the edge ever be drawn thinner than planned, what lies beyond the canvas shows its
  // background rather than whatever was there before.
  RECT client{};
  GetClientRect(hwnd(), &client);
  const int right = image.width() * scale_;
  const int bottom = image.height() * scale_;
  if (client.right > right || client.bottom > bottom) {
    const win32::UniqueGdiObject<HBRUSH> brush(CreateSolidBrush(canvas_.BackColor()));
    const RECT beside{right, 0, client.right, client.bottom};
    const RECT below{0, bottom, right, client.bottom};
    FillRect(dc, &beside, brush.get());
    FillRect(dc, &below, brush.get());
  }
}

LRESULT CALLBACK PictureBox::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = win32::SelfOf<PictureBox>(hwnd, message, lparam);
  switch (message) {
    case WM_NCDESTROY:
      // Gone with its parent: the handle may be given to another window from now on.
      if (self != nullptr) static_cast<void>(self->window_.Release());
      return DefWindowProcW(hwnd, message, wparam, lparam);
    case WM_NCCALCSIZE:
      // The edge is drawn here rather than by the system, whose client edge follows the dpi
      // itself: three pixels wide at 120 dpi, where the canvas is drawn at scale 1.
      if (self != nullptr) {
        auto* rect = reinterpret_cast<RECT*>(lparam);  // rgrc[0] when wparam is TRUE
        InflateRect(rect, -window::kBorder * self->scale_, -window::kBorder * self->scale_);
        return 0;
      }
      return DefWindowProcW(hwnd, message, wparam, lparam);
    case WM_NCPAINT:
      if (self != nullptr) {
        self->PaintEdge();
        return 0;
      }
      return DefWindowProcW(hwnd, message, wparam, lparam);
    case WM_ERASEBKGND:
      return 1;  // the paint covers it all
    case WM_PAINT: {
      PAINTSTRUCT paint{};
      const HDC dc = BeginPaint(hwnd, &paint);
      if (self != nullptr && dc != nullptr) self->Paint(dc);
      EndPaint(hwnd, &paint);
      return 0;
    }
    default:
      return DefWindowProcW(hwnd, message, wparam, lparam);
  }
}

}  // namespace dotloom
