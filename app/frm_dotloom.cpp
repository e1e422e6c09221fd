#include "app/frm_dotloom.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

#include "commands/file_commands.h"

namespace dotloom {

frmDotloom::frmDotloom(QWidget* parent)
    : QMainWindow(parent), picture1_(nullptr), common_dialog1_(this) {
  setWindowTitle(QStringLiteral("Dotloom"));
  common_dialog1_.SetFilter(kFilter);

  auto* client = new QWidget(this);
  // One column wider than the picture control, which shows the window's own background.
  client->setFixedSize(Canvas::kWidth + 2 * PictureBox::kBorder + 1,
                       Canvas::kHeight + 2 * PictureBox::kBorder);
  picture1_ = new PictureBox(client);
  picture1_->move(0, 0);
  setCentralWidget(client);

  mnu_file_ = menuBar()->addMenu(QStringLiteral("&File"));
  mnu_file_open_ = mnu_file_->addAction(QStringLiteral("&Open"));
  mnu_save_as_ = mnu_file_->addAction(QStringLiteral("&Save As..."));
  connect(mnu_file_open_, &QAction::triggered, this, &frmDotloom::mnuFileOpen_Click);
  connect(mnu_save_as_, &QAction::triggered, this, &frmDotloom::mnuSaveAs_Click);
}

void frmDotloom::mnuFileOpen_Click() {
  RunOpenCommand(picture1_->canvas(), common_dialog1_);
  // Repainted once per command, also when it failed midway.
  picture1_->update();
}

void frmDotloom::mnuSaveAs_Click() { RunSaveAsCommand(picture1_->canvas(), common_dialog1_); }

}  // namespace dotloom
