// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The main window as a person meets it: its caption, geometry and menu, the real file dialogs
// behind the menu items, and what the screen shows afterwards. Runs once at scale 1 and once
// at QT_SCALE_FACTOR=2, where every canvas pixel must be a sharp 2 x 2 block.

#include <QAccessible>
#include <QAccessibleInterface>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "app/qt/frm_dotloom.h"
#include "commands/picture_files.h"
#include "image/bitfile_codec.h"
#include "image/colour.h"
#include "platform/qt/path_conversion.h"
#include "tests/gui/file_dialog_answer.h"
#include "tests/support/test_support.h"
#include "window/window_description.h"

namespace dotloom {
namespace {

using testing::FileDialogAnswer;
using testing::IsBlackInBitfile;
using Bytes = std::vector<std::uint8_t>;

constexpr int kBitfileBytes = 576;
// The window's sizes in logical pixels, as window/ gives them: the test measures the real
// window against them.
constexpr window::Size kClient = window::ClientSize(1);
const QRect kPictureRect(QPoint(0, 0),
                         QSize(window::PictureSize(1).width, window::PictureSize(1).height));
const QRect kInteriorRect(window::kBorder, window::kBorder, Canvas::kWidth, Canvas::kHeight);

// An irregular pattern that sets bits in every row, column and bit position.
Bytes Pattern() {
  Bytes bytes(kBitfileBytes);
  for (int offset = 0; offset < kBitfileBytes; ++offset) {
    bytes[static_cast<std::size_t>(offset)] = static_cast<std::uint8_t>(offset * 151 + 7);
  }
  bytes.front() = 0x01;  // (0, 0)
  bytes.back() = 0x80;   // (95, 47)
  return bytes;
}

Bytes Blank() { return Bytes(kBitfileBytes); }

QByteArray ToByteArray(const Bytes& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())};
}

QRgb ToQRgb(Colour colour) { return qRgb(Red(colour), Green(colour), Blue(colour)); }

void WriteFile(const QString& path, const QByteArray& contents) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  QCOMPARE(file.write(contents), contents.size());
}

int DeviceRatio(const QWidget& window) { return qRound(window.devicePixelRatio()); }

// What the window shows, in device pixels. Read back from the screen where the platform can do
// that at device resolution, so that it also proves the window repainted itself; the offscreen
// screen reads back at scale 1 only, so at other scales the window is rendered afresh.
QImage ShownOnScreen(QWidget& window) {
  const QSize device_size = window.size() * DeviceRatio(window);
  QImage shown = window.screen()->grabWindow(window.winId()).toImage();
  if (shown.size() != device_size) shown = window.grab().toImage();
  return shown.convertToFormat(QImage::Format_RGB32);
}

// Device pixels inside the window's logical rect that differ from expected(x, y), where (x, y)
// is the logical pixel, relative to rect, they belong to. At an integer device-pixel ratio
// every device pixel of a logical one must carry the same colour: a blurred edge fails.
int Mismatches(const QImage& shown, int ratio, const QRect& rect,
               const std::function<QRgb(int, int)>& expected) {
  int mismatches = 0;
  for (int dy = 0; dy < rect.height() * ratio; ++dy) {
    for (int dx = 0; dx < rect.width() * ratio; ++dx) {
      const QPoint device(rect.x() * ratio + dx, rect.y() * ratio + dy);
      const QRgb want = expected(dx / ratio, dy / ratio);
      if (!shown.valid(device) || (shown.pixel(device) & RGB_MASK) != (want & RGB_MASK)) {
        ++mismatches;
      }
    }
  }
  return mismatches;
}

// The window's canvas interior, in the window's coordinates.
QRect InteriorInWindow(const frmDotloom& window) {
  const PictureBox& picture = *window.Picture1();
  return {picture.mapTo(&window, picture.contentsRect().topLeft()), picture.contentsRect().size()};
}

// Device pixels of the canvas interior on screen that do not show the Bitfile bytes in black
// over the canvas's background colour.
int CanvasMismatches(frmDotloom& window, const Bytes& bytes) {
  const QRgb back = ToQRgb(window.Picture1()->canvas().BackColor());
  return Mismatches(
      ShownOnScreen(window), DeviceRatio(window), InteriorInWindow(window),
      [&](int x, int y) { return IsBlackInBitfile(bytes, x, y) ? qRgb(0, 0, 0) : back; });
}

// Counts the paint events a widget gets, so that a test can wait for the repaint a command
// caused before it reads the screen: a grab taken earlier would still show the old picture.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget) : QObject(widget) { widget->installEventFilter(this); }
  int count() const { return count_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++count_;
    return QObject::eventFilter(watched, event);
  }

 private:
  int count_ = 0;
};

class FrmDotloomTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    QVERIFY(dir_.isValid());
    window_ = std::make_unique<frmDotloom>();
    paints_ = new PaintCounter(window_->Picture1());  // owned by Picture1
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }

  void cleanup() {
    window_.reset();
    QDir(dir_.path()).removeRecursively();
    QVERIFY(QDir().mkpath(dir_.path()));
  }

  // The designer names are checked where the objects are: the menu and the picture control
  // are found by them below.
  void CaptionAndScreenReaderText() {
    QCOMPARE(window_->windowTitle(), QStringLiteral("Dotloom"));
    QCOMPARE(window_->objectName(), QStringLiteral("frmDotloom"));
    // What a screen reader is told about the canvas.
    QAccessibleInterface* canvas = QAccessible::queryAccessibleInterface(window_->Picture1());
    QVERIFY(canvas != nullptr);
    QCOMPARE(canvas->text(QAccessible::Name), QStringLiteral("Canvas"));
    QCOMPARE(canvas->text(QAccessible::Description), QStringLiteral("96 × 48 one-bit image"));
  }

  void ScaleFactorIsInForce() {
    // Keeps the run at scale 2 honest: it must really draw at two device pixels per pixel.
    const QByteArray factor = qgetenv("QT_SCALE_FACTOR");
    const int expected = factor.isEmpty() ? 1 : factor.toInt();
    QCOMPARE(DeviceRatio(*window_), expected);
    QCOMPARE(ShownOnScreen(*window_).width(), window_->width() * expected);
  }

  void ClientAreaAndCanvasGeometry() {
    // The size the window was asked to be, written once here: every other test takes it
    // from window/, so a wrong size there fails this line.
    QCOMPARE(QSize(kClient.width, kClient.height), QSize(104, 56));

    const QWidget* client = window_->centralWidget();
    QCOMPARE(client->size(), QSize(kClient.width, kClient.height));
    QCOMPARE(client->pos(), QPoint(0, window_->menuBar()->geometry().bottom() + 1));
    QCOMPARE(client->geometry().bottom(), window_->height() - 1);
    if (window_->menuBar()->sizeHint().width() <= kClient.width) {
      QCOMPARE(window_->width(), kClient.width);
    }

    const auto* picture = window_->findChild<PictureBox*>(QStringLiteral("Picture1"));
    QVERIFY(picture != nullptr);
    QCOMPARE(picture->parentWidget(), client);
    QCOMPARE(picture->geometry(), kPictureRect);
    QCOMPARE(picture->contentsRect(), kInteriorRect);
  }

  void CanvasKeepsItsPlaceWhenTheWindowIsResized() {
    const QSize size = window_->size();
    QCOMPARE(window_->minimumSize(), size);
    QCOMPARE(window_->maximumSize(), size);
    window_->resize(size * 3);
    window_->resize(size / 2);
    QCoreApplication::processEvents();
    QCOMPARE(window_->size(), size);
    QCOMPARE(window_->Picture1()->geometry(), kPictureRect);
  }

  void RightmostClientColumnShowsTheWindowBackground() {
    const QWidget* client = window_->centralWidget();
    const QRect column(client->mapTo(window_.get(), QPoint(kPictureRect.width(), 0)),
                       QSize(client->width() - kPictureRect.width(), client->height()));
    QVERIFY(column.width() >= 1);
    const QRgb background = window_->palette().color(QPalette::Window).rgb();
    QCOMPARE(Mismatches(ShownOnScreen(*window_), DeviceRatio(*window_), column,
                        [&](int, int) { return background; }),
             0);
  }

  void StartsWithTheBackgroundColourOnly() {
    const Colour back = window_->Picture1()->canvas().BackColor();
    QVERIFY(back != kBlack);
    QCOMPARE(ToQRgb(back),
             QApplication::palette().color(QPalette::Active, QPalette::HighlightedText).rgb());
    QCOMPARE(CanvasMismatches(*window_, Blank()), 0);
  }

  void FileMenuStructure() {
    const QList<QAction*> menus = window_->menuBar()->actions();
    QCOMPARE(menus.size(), 1);
    const auto* file = window_->findChild<QMenu*>(QStringLiteral("mnuFile"));
    QVERIFY(file != nullptr);
    QCOMPARE(menus.front()->menu(), file);
    QCOMPARE(file->title(), QStringLiteral("&File"));
    QCOMPARE(window_->findChildren<QMenu*>().size(), 1);

    const QList<QAction*> items = file->actions();
    QCOMPARE(items.size(), 2);
    QCOMPARE(items[0]->objectName(), QStringLiteral("mnuFileOpen"));
    QCOMPARE(items[0]->text(), QStringLiteral("&Open"));
    QCOMPARE(items[1]->objectName(), QStringLiteral("mnuSaveAs"));
    QCOMPARE(items[1]->text(), QStringLiteral("&Save As..."));
    for (const QAction* item : items) {
      QVERIFY(!item->isSeparator());
      QVERIFY(item->menu() == nullptr);
      QVERIFY(item->shortcuts().isEmpty());
    }

    // Access keys: Alt+F opens the menu, O and S choose the items.
    QCOMPARE(QKeySequence::mnemonic(file->title()), QKeySequence(Qt::ALT | Qt::Key_F));
    QCOMPARE(QKeySequence::mnemonic(items[0]->text()), QKeySequence(Qt::ALT | Qt::Key_O));
    QCOMPARE(QKeySequence::mnemonic(items[1]->text()), QKeySequence(Qt::ALT | Qt::Key_S));
  }

  void OpenThroughTheDialog_data() {
    QTest::addColumn<QString>("opened_before");  // a Bitfile opened through the dialog first
    QTest::addColumn<bool>("drawn_before");
    QTest::addColumn<QString>("name");  // empty: the dialog is cancelled
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QByteArray>("shown_after");

    const QByteArray pattern = ToByteArray(Pattern());
    const QByteArray blank = ToByteArray(Blank());
    const QByteArray first_bytes = pattern.left(200);
    const QString none;
    // Whether the kind rule ignores case, and what other kinds do, the command tests hold;
    // here the window shows what the command left.
    QTest::newRow("bitfile with an upper-case name on a blank canvas")
        << none << false << "PATTERN.BIT" << pattern << pattern;
    QTest::newRow("bitfile replaces the drawing") << none << true << "blank.bit" << blank << blank;
    QTest::newRow("short bitfile") << none << false << "short.bit" << first_bytes << first_bytes;
    // The earlier file is gone by the time of the cancel: reading it again would clear.
    QTest::newRow("cancel after a named open keeps the drawing and reads nothing")
        << "earlier.bit" << false << "" << QByteArray() << pattern;
    QTest::newRow("bmp that is no picture clears")
        << none << true << "broken.bmp" << pattern << blank;
  }

  void OpenThroughTheDialog() {
    QFETCH(QString, opened_before);
    QFETCH(bool, drawn_before);
    QFETCH(QString, name);
    QFETCH(QByteArray, contents);
    QFETCH(QByteArray, shown_after);

    if (!opened_before.isEmpty()) {
      const QString earlier = dir_.filePath(opened_before);
      WriteFile(earlier, ToByteArray(Pattern()));
      Open(earlier);
      QCOMPARE(CanvasMismatches(*window_, Pattern()), 0);
      QVERIFY(QFile::remove(earlier));
    }
    if (drawn_before) DrawPattern();
    const QString path = dir_.filePath(name);
    if (!name.isEmpty()) WriteFile(path, contents);

    Open(name.isEmpty() ? QString() : path);
    const Bytes expected(shown_after.begin(), shown_after.end());
    QCOMPARE(CanvasMismatches(*window_, expected), 0);
  }

  void SaveAsThroughTheDialog_data() {
    QTest::addColumn<QStringList>("saved_before");  // the blank canvas saved so first
    QTest::addColumn<QString>("name");              // empty: the dialog is cancelled
    QTest::addColumn<QString>("written");

    const QString none;
    const QString bitfile = QStringLiteral("bitfile");
    const QString bitmap = QStringLiteral("bitmap");
    // Other kinds, and the kind rule's case, the command tests hold.
    QTest::newRow("bitfile") << QStringList() << "out.bit" << bitfile;
    QTest::newRow("bmp, upper case") << QStringList() << "OUT.BMP" << bitmap;
    // Writing an earlier name again would put the pattern into it.
    QTest::newRow("cancel after named bitfile and bmp saves writes nothing")
        << QStringList{QStringLiteral("earlier.bit"), QStringLiteral("earlier.bmp")} << none
        << none;
  }

  void SaveAsThroughTheDialog() {
    QFETCH(QStringList, saved_before);
    QFETCH(QString, name);
    QFETCH(QString, written);

    QStringList expected_files{QStringLiteral("before.bit")};
    QList<QByteArray> earlier_contents;
    for (const QString& earlier : saved_before) {
      SaveAs(dir_.filePath(earlier));
      earlier_contents.append(ReadAll(dir_.filePath(earlier)));
      QVERIFY(!earlier_contents.back().isEmpty());
      expected_files.append(earlier);
    }
    expected_files.sort();
    DrawPattern();
    const QString path = dir_.filePath(name);
    SaveAs(name.isEmpty() ? QString() : path);

    const QStringList files = QDir(dir_.path()).entryList(QDir::Files);
    if (written == QStringLiteral("bitfile")) {
      QFile file(path);
      QVERIFY(file.open(QIODevice::ReadOnly));
      QCOMPARE(file.readAll(), ToByteArray(Pattern()));
    } else if (written == QStringLiteral("bitmap")) {
      const QImage image(path);
      QCOMPARE(image.size(), kInteriorRect.size());
      const QRgb back = ToQRgb(window_->Picture1()->canvas().BackColor());
      QCOMPARE(Mismatches(image, 1, image.rect(),
                          [&](int x, int y) {
                            return IsBlackInBitfile(Pattern(), x, y) ? qRgb(0, 0, 0) : back;
                          }),
               0);
    } else {
      QCOMPARE(files, expected_files);
    }
    for (qsizetype i = 0; i < saved_before.size(); ++i) {
      QCOMPARE(ReadAll(dir_.filePath(saved_before[i])), earlier_contents[i]);
    }
    // Saving never changes what the canvas shows.
    QCOMPARE(CanvasMismatches(*window_, Pattern()), 0);
  }

  void DrawingSurvivesHidingAndRepainting() {
    DrawPattern();
    window_->hide();
    window_->showMinimized();
    window_->showNormal();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    window_->Picture1()->repaint();
    WaitForPattern();
  }

  void ClosingAsksNothing() {
    DrawPattern();
    QVERIFY(QApplication::quitOnLastWindowClosed());
    QVERIFY(window_->close());
    QCoreApplication::processEvents();
    QVERIFY(!window_->isVisible());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    for (const QWidget* widget : QApplication::topLevelWidgets()) QVERIFY(!widget->isVisible());
  }

 private:
  // Chooses File > Open or File > Save As and answers the dialog with path, or cancels it
  // when path is empty; returns once the canvas has been repainted after the command.
  void Open(const QString& path) {
    RunCommand(window_->mnuFileOpen(), QFileDialog::AcceptOpen, path);
  }
  void SaveAs(const QString& path) {
    RunCommand(window_->mnuSaveAs(), QFileDialog::AcceptSave, path);
  }

  void RunCommand(QAction* item, QFileDialog::AcceptMode mode, const QString& path) {
    const int paints = paints_->count();
    const FileDialogAnswer answer(path.isEmpty() ? FileDialogAnswer::Cancel()
                                                 : FileDialogAnswer::Type(path));
    item->trigger();
    QVERIFY(answer.answered());
    QVERIFY(!answer.stuck());
    QCOMPARE(answer.accept_mode(), mode);
    QCOMPARE(answer.name_filters(), ExpectedNameFilters());
    QVERIFY2(QTest::qWaitFor([&] { return paints_->count() > paints; }),
             "the canvas is repainted after every command");
  }

  static QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  static QStringList ExpectedNameFilters() {
    return {QStringLiteral("Bitfile (*.bit)"), QStringLiteral("Bitmap (*.bmp)"),
            QStringLiteral("All files (*)")};
  }

  // Puts the pattern on the canvas the way Open does, without a dialog.
  void DrawPattern() {
    const QString path = dir_.filePath(QStringLiteral("before.bit"));
    WriteFile(path, ToByteArray(Pattern()));
    OpenBitfile(ToPath(path), window_->Picture1()->canvas());
    window_->Picture1()->update();
    WaitForPattern();
  }

  // Waits up to five seconds for the pattern, and reports the wrong pixels when it does not
  // come. Not QTRY_COMPARE: Qt 6.8's narrows its timeout to an int, which -Wconversion stops.
  void WaitForPattern() {
    const auto mismatches = [this] { return CanvasMismatches(*window_, Pattern()); };
    if (!QTest::qWaitFor([&] { return mismatches() == 0; })) QCOMPARE(mismatches(), 0);
  }

  QTemporaryDir dir_;
  std::unique_ptr<frmDotloom> window_;
  PaintCounter* paints_ = nullptr;
};

}  // namespace
}  // namespace dotloom

int main(int argc, char* argv[]) {
  // The file dialog keeps its history in the user's settings: keep that out of $HOME.
  const QTemporaryDir settings;
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(settings.path()));
  qputenv("XDG_CACHE_HOME", QFile::encodeName(settings.path()));
  QApplication application(argc, argv);
  QApplication::setAttribute(Qt::AA_Use96Dpi, true);
  dotloom::FrmDotloomTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "tst_frm_dotloom.moc"
