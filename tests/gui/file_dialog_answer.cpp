// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "tests/gui/file_dialog_answer.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <utility>

namespace dotloom::testing {
namespace {

constexpr int kPollMilliseconds = 10;
// How long a dialog may stay open after its answer before it counts as stuck: far beyond
// what closing takes, short enough that a refused answer fails the test instead of hanging it.
constexpr int kStuckAfterPolls = 500;

}  // namespace

FileDialogAnswer::FileDialogAnswer(std::optional<QString> text) : text_(std::move(text)) {
  connect(&timer_, &QTimer::timeout, this, &FileDialogAnswer::Poll);
  timer_.start(kPollMilliseconds);
}

void FileDialogAnswer::Poll() {
  if (answered_) {
    // A dialog that is still open refused the answer (a missing file, say).
    if (dialog_ == nullptr || !dialog_->isVisible()) {
      timer_.stop();
    } else if (++polls_since_answer_ > kStuckAfterPolls) {
      stuck_ = true;
      dialog_->reject();
    }
    return;
  }
  auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
  if (dialog == nullptr) return;
  // Keys go where a person's would only once the dialog is the active window and its file
  // name box has the focus; before that the dialog takes typed text differently.
  if (!dialog->isActiveWindow()) {
    dialog->activateWindow();
    return;
  }

  dialog_ = dialog;
  answered_ = true;
  accept_mode_ = dialog->acceptMode();
  name_filters_ = dialog->nameFilters();
  if (!text_) {
    QTest::keyClick(dialog, Qt::Key_Escape);
    return;
  }
  auto* file_name_box = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  if (file_name_box == nullptr) {
    stuck_ = true;
    dialog->reject();
    return;
  }
  if (!file_name_box->hasFocus()) file_name_box->setFocus(Qt::OtherFocusReason);
  QTest::keyClicks(file_name_box, *text_);
  QTest::keyClick(file_name_box, Qt::Key_Return);
}

}  // namespace dotloom::testing
