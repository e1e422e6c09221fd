// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#pragma once

#include <QFileDialog>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <optional>

namespace dotloom::testing {

// Answers the next file dialog the program shows, the way a person would: types a path into
// its file name box and presses Enter, or presses Escape. Waits for the dialog by polling
// QApplication::activeModalWidget() from the dialog's own event loop.
class FileDialogAnswer : public QObject {
  Q_OBJECT

 public:
  // Types text and presses Enter.
  static std::optional<QString> Type(const QString& text) { return text; }
  // Presses Escape.
  static std::optional<QString> Cancel() { return std::nullopt; }

  explicit FileDialogAnswer(std::optional<QString> text);

  // Whether a dialog was shown and answered, and what it looked like when it was.
  bool answered() const { return answered_; }
  // Set when the dialog refused the answer and had to be cancelled to end the test.
  bool stuck() const { return stuck_; }
  QFileDialog::AcceptMode accept_mode() const { return accept_mode_; }
  QStringList name_filters() const { return name_filters_; }

 private:
  void Poll();

  std::optional<QString> text_;
  QTimer timer_;
  QPointer<QFileDialog> dialog_;
  int polls_since_answer_ = 0;
  bool answered_ = false;
  bool stuck_ = false;
  QFileDialog::AcceptMode accept_mode_ = QFileDialog::AcceptOpen;
  QStringList name_filters_;
};

}  // namespace dotloom::testing
