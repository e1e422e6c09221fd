// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QString>
#include <QTranslator>
#include <cstdlib>

#include "app/qt/frm_dotloom.h"

int main(int argc, char* argv[]) {
  const QApplication application(argc, argv);
  // Ties the window to its menu entry (io.github.dotloom.Dotloom.desktop) on desktops that
  // match them by name.
  QGuiApplication::setDesktopFileName(QStringLiteral("io.github.dotloom.Dotloom"));
  // Qt's own texts (the file dialogs' buttons and labels) in the user's language. The window's
  // captions are not run through tr(), so they read the same in every language.
  QTranslator qt_translations;
  if (qt_translations.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(&qt_translations);
  }
  QIcon icon;
  for (const int size : {16, 32, 48, 64}) {
    icon.addFile(QStringLiteral(":/icons/dotloom-%1.png").arg(size), QSize(size, size));
  }
  QApplication::setWindowIcon(icon);

  dotloom::frmDotloom window;
  window.show();
  const int status = QApplication::exec();
  // Qt's Wayland client at times deadlocks between its event thread and the main thread while
  // closing its connection (seen with 6.4; 6.8 stayed behind too), leaving the process behind
  // with its window gone. Every file is written and closed by now, so leaving at once loses
  // nothing.
  if (QGuiApplication::platformName() == QLatin1String("wayland")) std::_Exit(status);
  return status;
}
