// The window driven as a user drives it, on the offscreen platform: a file
// dropped, the save dialog answered, the list, the log, the commands.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <cmath>
#include <functional>

#include "QuendrixTestUtil.h"
#include "platform/AppState.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "quendrix/QuendrixWindow.h"

namespace {

QApplication* App() {
  static int argc = 1;
  static char name[] = "quendrix_window_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  SetProgramFiles(kQuendrixFiles);
  ResetPathCache();
  return app;
}

// Answers every modal window that opens (file dialogs, message boxes) with
// `handle`, once each.
class ModalAnswerer {
 public:
  explicit ModalAnswerer(std::function<void(QWidget*)> handle) : handle_(std::move(handle)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* w = QApplication::activeModalWidget();
      if (!w || w->property("answered").toBool()) return;
      w->setProperty("answered", true);
      handle_(w);
    });
    timer_.start(20);
  }

 private:
  std::function<void(QWidget*)> handle_;
  QTimer timer_;
};

std::string Sine(int frames) {
  std::string d;
  for (int i = 0; i < frames; ++i) {
    Put16(d, static_cast<uint16_t>(static_cast<int16_t>(9000 * std::sin(i * 0.05))));
    Put16(d, static_cast<uint16_t>(static_cast<int16_t>(5000 * std::sin(i * 0.031))));
  }
  return MakeWave(2, 8000, 16, d);
}

void Drop(QWidget* w, const std::string& path) {
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &drop);
}

template <typename T>
T* Ctl(const QuendrixWindow& w, int id) {
  return qobject_cast<T*>(w.Control(id));
}

TEST(QuendrixWindowTest, WholeRunFromDropToLog) {
  App();
  ScratchDir dir;
  WriteFileBytes(dir.File("Quendrix.ini"), "[Setting]\nRange=1000\nDispose=1\nExtend=0\nKeepSize=0\n");
  WriteFileBytes(dir.File("in.wav"), Sine(12500));
  ASSERT_EQ(mkdir(dir.File("out").c_str(), 0755), 0);
  const std::string out = dir.File("out/short.wav");

  QuendrixWindow w;
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  EXPECT_EQ(w.windowTitle(), "Quendrix");
  EXPECT_EQ(Ctl<QLabel>(w, 1005)->text(), "WAVEﾌｧｲﾙをﾄﾞﾛｯﾌﾟして下さい");
  EXPECT_EQ(Ctl<QLineEdit>(w, 1004)->text(), "1000");
  EXPECT_EQ(Ctl<QLineEdit>(w, 1002)->text(), "1");
  EXPECT_TRUE(Ctl<QRadioButton>(w, 1000)->isChecked());
  EXPECT_FALSE(Ctl<QCheckBox>(w, 1007)->isChecked());
  EXPECT_EQ(w.Command(40001)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
  EXPECT_EQ(w.Command(40002)->shortcut(), QKeySequence(Qt::Key_Escape));

  QString dialogTitle, proposed;
  bool closedWhileBusy = true, inputsEnabled = true;
  ModalAnswerer answer([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (!dialog) return;
    dialogTitle = dialog->windowTitle();
    proposed = dialog->selectedFiles().value(0);
    inputsEnabled = Ctl<QLineEdit>(w, 1004)->isEnabled();
    closedWhileBusy = w.close();
    dialog->selectFile(QString::fromStdString(out));
    static_cast<QDialog*>(dialog)->accept();
  });
  Drop(&w, dir.File("in.wav"));
  // The drop starts the run from the event loop once the drag is over.
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogTitle.isEmpty() && !w.Busy(); }, 20000));

  EXPECT_EQ(dialogTitle, "WAVE短縮保存ファイル名入力");
  EXPECT_EQ(proposed.toStdString(), dir.File("in-.wav"));
  EXPECT_FALSE(closedWhileBusy);
  EXPECT_FALSE(inputsEnabled);
  EXPECT_TRUE(Ctl<QLineEdit>(w, 1004)->isEnabled());
  EXPECT_TRUE(w.isVisible());
  EXPECT_EQ(w.windowTitle().toStdString(), "Quendrix - " + dir.File("in.wav"));
  QListWidget* list = Ctl<QListWidget>(w, 1003);
  ASSERT_EQ(list->count(), 12);
  EXPECT_EQ(Sox(out).samples, 12500 - 12);

  list->setCurrentRow(2);
  EXPECT_EQ(Ctl<QLabel>(w, 1005)->text(), "#00002");

  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
  std::string log;
  for (int i = 0; i < list->count(); ++i) log += list->item(i)->text().toStdString() + "\n";
  EXPECT_EQ(ReadFileBytes(dir.File("out/short.log")), log);

  // Only the height changes; the list and the status line follow the bottom edge.
  const int width = w.width(), listHeight = list->height(), statusTop = Ctl<QLabel>(w, 1005)->y();
  w.resize(width + 80, w.height() + 100);
  QApplication::processEvents();
  EXPECT_EQ(w.width(), width);
  EXPECT_EQ(list->height(), listHeight + 100);
  EXPECT_EQ(Ctl<QLabel>(w, 1005)->y(), statusTop + 100);

  Ctl<QLineEdit>(w, 1004)->setText("4410");
  Ctl<QCheckBox>(w, 1007)->setChecked(true);
  EXPECT_TRUE(w.close());
  ForgetProfileCache();
  std::string ini = ReadFileBytes(dir.File("Quendrix.ini"));
  // The values of the last run are saved, not what the controls show now.
  EXPECT_NE(ini.find("Range=1000"), std::string::npos) << ini;
  EXPECT_NE(ini.find("KeepSize=0"), std::string::npos) << ini;
  EXPECT_NE(ini.find("[Window]"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Left="), std::string::npos) << ini;
}

TEST(QuendrixWindowTest, EscStopsARunAndBadPeriodsAreRefused) {
  App();
  ScratchDir dir;
  WriteFileBytes(dir.File("in.wav"), Sine(40000));
  const std::string out = dir.File("stopped.wav");
  QuendrixWindow w;
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  Ctl<QLineEdit>(w, 1004)->setText("100");
  Ctl<QRadioButton>(w, 1001)->setChecked(true);

  std::vector<std::string> boxes;
  ModalAnswerer answer([&](QWidget* modal) {
    if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
      EXPECT_EQ(dialog->windowTitle(), "WAVE延長保存ファイル名入力");
      w.Command(40002)->trigger();  // Esc: noticed after the first block
      dialog->selectFile(QString::fromStdString(out));
      static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept checks the name
    } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      boxes.push_back(box->text().toStdString());
      EXPECT_EQ(box->windowTitle(), "Quendrix");
      box->accept();
    }
  });
  w.ProcessFile(QString::fromStdString(dir.File("in.wav")));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "中止されました.");
  EXPECT_EQ(Ctl<QListWidget>(w, 1003)->count(), 1);
  EXPECT_EQ(Sox(out).samples, 100);  // 99 frames read, one repeated

  Ctl<QLineEdit>(w, 1004)->setText("6");
  Ctl<QLineEdit>(w, 1002)->setText("2");
  w.ProcessFile(QString::fromStdString(dir.File("in.wav")));
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1], "4以上のサンプル数毎に1サンプル処理されるように設定して下さい!");
  EXPECT_FALSE(w.Busy());
  EXPECT_TRUE(w.acceptDrops());
}

}  // namespace
