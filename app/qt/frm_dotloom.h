// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <QMainWindow>

#include "platform/qt/common_dialog.h"
#include "platform/qt/picture_box.h"

class QAction;
class QMenu;

namespace dotloom {

// The program's only window: the canvas, the file dialog object and the File menu.
class frmDotloom : public QMainWindow {  // NOLINT(readability-identifier-naming): designer name
  Q_OBJECT

 public:
  explicit frmDotloom(QWidget* parent = nullptr);

  PictureBox* Picture1() const { return picture1_; }
  CommonDialog& CommonDialog1() { return common_dialog1_; }
  QMenu* mnuFile() const { return mnu_file_; }
  QAction* mnuFileOpen() const { return mnu_file_open_; }
  QAction* mnuSaveAs() const { return mnu_save_as_; }

 protected:
  bool event(QEvent* event) override;

 private:
  // Sizes the canvas and the client area for the screen's device-pixel ratio.
  void FitToScreen();

  PictureBox* picture1_;
  CommonDialog common_dialog1_;
  QMenu* mnu_file_ = nullptr;
  QAction* mnu_file_open_ = nullptr;
  QAction* mnu_save_as_ = nullptr;
};

}  // namespace dotloom
