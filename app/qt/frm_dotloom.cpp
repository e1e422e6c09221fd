// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "app/qt/frm_dotloom.h"

#include <QAction>
#include <QEvent>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>
#include <QtMath>
#include <string_view>

#include "image/bitfile_codec.h"
#include "image/pixel_scale.h"
#include "window/window_description.h"

namespace dotloom {
namespace {

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

frmDotloom::frmDotloom(QWidget* parent)
    : QMainWindow(parent), picture1_(nullptr), common_dialog1_(this) {
  setObjectName(FromUtf8(window::kFormName));
  setWindowTitle(FromUtf8(window::kCaption));
  window::SetUpCommonDialog1(common_dialog1_);

  auto* client = new QWidget(this);
  picture1_ = new PictureBox(client);
  picture1_->setObjectName(FromUtf8(window::kPicture1Name));
  // What a screen reader announces; it has no caption of its own to read.
  picture1_->setAccessibleName(QStringLiteral("Canvas"));
  picture1_->setAccessibleDescription(
      QStringLiteral("%1 × %2 one-bit image").arg(BitfileCodec::kColumns).arg(BitfileCodec::kRows));
  picture1_->move(0, 0);
  setCentralWidget(client);

  mnu_file_ = menuBar()->addMenu(FromUtf8(window::kFileMenuText));
  mnu_file_->setObjectName(FromUtf8(window::kFileMenuName));
  for (const window::MenuItem& item : window::kFileMenuItems) {
    QAction* action = mnu_file_->addAction(FromUtf8(item.text));
    action->setObjectName(FromUtf8(item.name));
    connect(action, &QAction::triggered, this, [this, command = item.command] {
      window::RunThenRepaint(command, picture1_->canvas(), common_dialog1_,
                             [this] { picture1_->update(); });
    });
    if (item.command == window::Command::kOpen) {
      mnu_file_open_ = action;
    } else {
      mnu_save_as_ = action;
    }
  }

  // Nothing in the window follows a change of size, so the window does not offer one.
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  FitToScreen();
}

bool frmDotloom::event(QEvent* event) {
  // Sent to the window and its widgets when it moves to a screen, which may have another
  // device-pixel ratio.
  if (event->type() == QEvent::ScreenChangeInternal) FitToScreen();
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
  // Newer Qt also says so when the ratio changes on the same screen.
  if (event->type() == QEvent::DevicePixelRatioChange) FitToScreen();
#endif
  return QMainWindow::event(event);
}

void frmDotloom::FitToScreen() {
  picture1_->FitToScreen();
  // The client area's size is given in device pixels; its bottom edge is the window's. Qt
  // makes a window round(logical size x ratio) device pixels large: the client area gets the
  // fewest logical pixels that make it reach those device pixels, and that make the whole
  // window a whole number of device pixels, which a Wayland compositor shows without
  // resampling. The canvas stays in the top-left corner, also should the menu bar be wider.
  const qreal ratio = devicePixelRatioF();
  const window::Size device = window::ClientSize(picture1_->scale());
  const auto fewest = [&](qreal device_pixels) { return qCeil((device_pixels - 0.5) / ratio); };
  const int top = menuBar()->sizeHint().height();
  const int width =
      WholeDeviceLength(qMax(fewest(device.width), menuBar()->sizeHint().width()), ratio);
  const int height =
      WholeDeviceLength(fewest(qCeil(top * ratio - 1e-6) + device.height), ratio) - top;
  centralWidget()->setMinimumSize(width, height);
}

}  // namespace dotloom
