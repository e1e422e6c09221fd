// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The floor for start-up: the same window as Dotloom's, built from plain Qt widgets with
// nothing behind it: the caption, the File menu with its two items and a 103 x 56 sunken
// frame in a client area one pixel wider.

#include <QApplication>
#include <QFrame>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

int main(int argc, char* argv[]) {
  const QApplication application(argc, argv);
  QMainWindow window;
  window.setWindowTitle(QStringLiteral("Dotloom"));
  auto* client = new QWidget(&window);
  client->setFixedSize(104, 56);
  auto* frame = new QFrame(client);
  frame->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);  // two pixels, as the program's
  frame->setFixedSize(103, 56);
  window.setCentralWidget(client);
  QMenu* file = window.menuBar()->addMenu(QStringLiteral("&File"));
  file->addAction(QStringLiteral("&Open"));
  file->addAction(QStringLiteral("&Save As..."));
  window.show();
  return QApplication::exec();
}
