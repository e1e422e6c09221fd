// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "app/qt/frm_dotloom.h"

#include <QAction>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

#include "commands/file_commands.h"
#include "image/bitfile_codec.h"

namespace dotloom {

frmDotloom::frmDotloom(QWidget* parent)
    : QMainWindow(parent), picture1_(nullptr), common_dialog1_(this) {
  setObjectName(QStringLiteral("frmDotloom"));
  setWindowTitle(QStringLiteral("Dotloom"));
  common_dialog1_.SetFilter(kFilter);

  auto* client = new QWidget(this);
  // One column wider than the picture control, which shows the window's own background. Only
  // a minimum: should a menu bar ever be wider than this, the client area grows to its right
  // and the canvas stays in the top-left corner instead of being centred.
  client->setMinimumSize(Canvas::kWidth + 2 * PictureBox::kBorder + 1,
                         Canvas::kHeight + 2 * PictureBox::kBorder);
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
