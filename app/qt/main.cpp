// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include <QApplication>
#include <QIcon>
#include <QString>

#include "app/qt/frm_dotloom.h"

int main(int argc, char* argv[]) {
  const QApplication application(argc, argv);
  // Ties the window to its menu entry (dotloom.desktop) on desktops that match them by name.
  QGuiApplication::setDesktopFileName(QStringLiteral("dotloom"));
  QIcon icon;
  for (const int size : {16, 32, 48, 64}) {
    icon.addFile(QStringLiteral(":/icons/dotloom-%1.png").arg(size), QSize(size, size));
  }
  QApplication::setWindowIcon(icon);

  dotloom::frmDotloom window;
  window.show();
  return QApplication::exec();
}
