#include <QApplication>

#include "app/frm_dotloom.h"

int main(int argc, char* argv[]) {
  const QApplication application(argc, argv);
  dotloom::frmDotloom window;
  window.show();
  return QApplication::exec();
}
