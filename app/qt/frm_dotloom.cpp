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

#include "commands/file_commands.h"
#include "image/bitfile_codec.h"
#include "image/pixel_scale.h"

namespace dotloom {

frmDotloom::frmDotloom(QWidget* parent)
    : QMainWindow(parent), picture1_(nullptr), common_dialog1_(this) {
  setObjectName(QStringLiteral("frmDotloom"));
  setWindowTitle(QStringLiteral("Dotloom"));
  common_dialog1_.SetFilter(kFilter);

  auto* client = new QWidget(this);
  picture1_ = new PictureBox(client);
  picture1_->setObjectName(QStringLiteral("Picture1"));
  // What a screen reader announces; it has no caption of its own to read.
  picture1_->setAccessibleName(QStringLiteral("Canvas"));
  picture1_->setAccessibleDescription(
      QStringLiteral("%1 × %2 one-bit image").arg(BitfileCodec::kColumns).arg(BitfileCodec::kRows));
  picture1_->move(0, 0);
  setCentralWidget(client);

  mnu_file_ = menuBar()->addMenu(QStringLiteral("&File"));
  mnu_file_open_ = mnu_file_->addAction(QStringLiteral("&Open"));
  mnu_save_as_ = mnu_file_->addAction(QStringLiteral("&Save As..."));
  mnu_file_->setObjectName(QStringLiteral("mnuFile"));
  mnu_file_open_->setObjectName(QStringLiteral("mnuFileOpen"));
  mnu_save_as_->setObjectName(QStringLiteral("mnuSaveAs"));
  connect(mnu_file_open_, &QAction::triggered, this, &frmDotloom::mnuFileOpen_Click);
  connect(mnu_save_as_, &QAction::triggered, this, &frmDotloom::mnuSaveAs_Click);

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
  // The client area holds the picture control and, beside it, a column as wide as a canvas
  // pixel that shows the window's own background; the control's bottom edge is the window's.
  // Qt makes a window round(logical size x ratio) device pixels large: the client area gets
  // the fewest logical pixels that make it reach those device pixels, and that make the
  // whole window a whole number of device pixels, which a Wayland compositor shows without
  // resampling. The canvas stays in the top-left corner, also should the menu bar be wider.
  const qreal ratio = devicePixelRatioF();
  const QSize device = picture1_->DeviceSize();
  const auto fewest = [&](qreal device_pixels) { return qCeil((device_pixels - 0.5) / ratio); };
  const int top = menuBar()->sizeHint().height();
  const int width = WholeDeviceLength(
      qMax(fewest(device.width() + picture1_->scale()), menuBar()->sizeHint().width()), ratio);
  const int height =
      WholeDeviceLength(fewest(qCeil(top * ratio - 1e-6) + device.height()), ratio) - top;
  centralWidget()->setMinimumSize(width, height);
}

// The canvas is repainted after every command, also one that failed midway: a failed Open
// may already have cleared it or drawn part of a Bitfile.

void frmDotloom::mnuFileOpen_Click() {
  RunOpenCommand(picture1_->canvas(), common_dialog1_);
  picture1_->update();
}

void frmDotloom::mnuSaveAs_Click() {
  RunSaveAsCommand(picture1_->canvas(), common_dialog1_);
  picture1_->update();
}

}  // namespace dotloom
