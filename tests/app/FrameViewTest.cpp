// The frame view in the main window: a file opened, stepped with the keys and
// the number box, with the frame shown checked against ffmpeg's decode, and
// the brightness and zoom commands seen in the picture and the captions.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <memory>

#include "QtTestEnv.h"
#include "TestSupport.h"
#include "app/FrameCommands.h"
#include "command/Dispatcher.h"
#include "app/FrameView.h"
#include "app/MainWindow.h"
#include "avi/OpenAvi.h"
#include "command/Dispatcher.h"
#include "frame/FrameReader.h"
#include "frame/Navigation.h"
#include "frame/ViewState.h"
#include "platform/AppState.h"
#include "platform/Messages.h"

namespace {

constexpr int kW = 64, kH = 48, kFrames = 40;

class FrameViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = ME;
    ClearCommandRegistry();
    dir_ = std::make_unique<ScratchDir>();
    path_ = dir_->File("clip.avi");
    ASSERT_EQ(
        RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 40 -c:v huffyuv "
                   "-pix_fmt rgb24 '" +
                   path_ + "'"),
        0);
    ASSERT_EQ(RunCommand("ffmpeg -v error -i '" + path_ + "' -pix_fmt rgb24 -f rawvideo -", &frames_), 0);
    ASSERT_EQ(frames_.size(), size_t{kW} * kH * 3 * kFrames);
    window_ = std::make_unique<MainWindow>();
    ASSERT_TRUE(window_->Startup());
    window_->resize(720, 560);
    ASSERT_TRUE(ShowActive(window_.get()));
    SetCheck(kCmdMixField, true, true);  // interleaved rows, as ffmpeg gives them
    if (Capture().view.fitToWindow) DispatchCommand(kCmdFitWindow);
    ASSERT_TRUE(Capture().table.OpenNamedFile(path_));
    FrameSetChanged();
    window_->FrameNumberBox()->setFocus();
  }
  void TearDown() override {
    window_.reset();
    ClearCommandRegistry();
    ME = saved_;
    dir_.reset();
  }
  ShownCapture& Capture() { return window_->Shown(); }
  void Key(Qt::Key key, Qt::KeyboardModifiers m = Qt::NoModifier) {
    QTest::keyClick(window_->FrameNumberBox(), key, m);
    QApplication::processEvents();
  }
  // The picture as painted, and the pixel ffmpeg decoded for (x, y).
  QImage Shown() { return window_->FrameArea()->grab().toImage(); }
  QColor Want(uint32_t frame, int x, int y) {
    const char* p = &frames_[((size_t{frame} * kH + y) * kW + x) * 3];
    return QColor(static_cast<uint8_t>(p[0]), static_cast<uint8_t>(p[1]), static_cast<uint8_t>(p[2]));
  }
  // Every picture pixel of frame `frame` at zoom 1 matches.
  bool ShowsFrame(uint32_t frame) {
    QImage img = Shown();
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        if (img.pixelColor(x, y) != Want(frame, x, y)) return false;
    return true;
  }
  // One field line-doubled: rows 2m and 2m+1 equal (mode 0), or rows 2m+1
  // and 2m+2 (mode 1, one line lower).
  static bool PairsDoubled(const QImage& img) {
    auto same = [&](int first) {
      for (int y = first; y + 1 < kH; y += 2)
        for (int x = 0; x < kW; ++x)
          if (img.pixelColor(x, y) != img.pixelColor(x, y + 1)) return false;
      return true;
    };
    return same(0) || same(1);
  }
  std::string Box() { return window_->FrameNumberBox()->text().toStdString(); }
  std::string Pane(int i) { return window_->StatusPane(i)->text().toStdString(); }

  AppState saved_;
  std::unique_ptr<ScratchDir> dir_;
  std::unique_ptr<MainWindow> window_;
  std::string path_, frames_;
};

}  // namespace

TEST_F(FrameViewTest, StepsWithKeysAndTheNumberBox) {
  EXPECT_EQ(Box(), "0");
  EXPECT_TRUE(ShowsFrame(0));
  EXPECT_EQ(Pane(1), "00:00:00:00");
  auto* last = qobject_cast<QLabel*>(window_->MainControl(kCmdStatic30006));
  EXPECT_EQ(last->text().toStdString(), "39");
  EXPECT_EQ(window_->FrameScrollBar()->maximum(), 39);

  Key(Qt::Key_Space);
  EXPECT_EQ(Box(), "1");
  EXPECT_TRUE(ShowsFrame(1));
  Key(Qt::Key_PageDown);
  EXPECT_EQ(Box(), "31");
  EXPECT_TRUE(ShowsFrame(31));
  EXPECT_FALSE(ShowsFrame(0));
  EXPECT_EQ(Pane(1), "00:00:01:06");
  EXPECT_EQ(window_->FrameScrollBar()->value(), 31);
  Key(Qt::Key_End);
  EXPECT_EQ(Box(), "39");
  EXPECT_TRUE(ShowsFrame(39));
  Key(Qt::Key_Space, Qt::ShiftModifier);
  EXPECT_EQ(Box(), "38");
  Key(Qt::Key_Home);
  EXPECT_EQ(Box(), "0");
  EXPECT_TRUE(ShowsFrame(0));

  window_->FrameNumberBox()->setText("17");
  Key(Qt::Key_Return);
  EXPECT_EQ(Capture().reader.currentFrame, 17u);
  EXPECT_TRUE(ShowsFrame(17));
  // The scroll bar moved by the user shows its frame.
  window_->FrameScrollBar()->setValue(25);
  EXPECT_EQ(Box(), "25");
  EXPECT_TRUE(ShowsFrame(25));

  // Relative numbering from frame 25.
  DispatchCommand(41012, CommandSource::kMenu);
  EXPECT_EQ(Box(), "0");
  Key(Qt::Key_Space, Qt::ShiftModifier);
  EXPECT_EQ(Box(), "-1");
  DispatchCommand(41013, CommandSource::kMenu);
  EXPECT_EQ(Box(), "24");

  // The file has no null frame.
  EXPECT_TRUE(DispatchCommand(41011, CommandSource::kMenu));
  EXPECT_EQ(Pane(0), "ヌルフレームはこの先にありません.");
  EXPECT_EQ(Box(), "24");
}

TEST_F(FrameViewTest, BrightnessAndZoomChangeThePicture) {
  QColor base = Want(0, 10, 10);
  DispatchCommand(44007, CommandSource::kMenu);  // 2.00
  EXPECT_EQ(window_->Menu(kMenuDisplay)->title().toStdString(), "表示/輝度2.00(&D)");
  QColor doubled = Shown().pixelColor(10, 10);
  auto twice = [](int v) { return std::min(255, (v * 200 * 10485) >> 20); };
  EXPECT_EQ(doubled.red(), twice(base.red()));
  EXPECT_EQ(doubled.green(), twice(base.green()));
  EXPECT_EQ(doubled.blue(), twice(base.blue()));
  EXPECT_EQ(IsCommandChecked(44007), 1);
  EXPECT_EQ(IsCommandChecked(44005), 0);
  DispatchCommand(44014, CommandSource::kMenu);  // 1.99: no preset checked
  EXPECT_EQ(window_->Menu(kMenuDisplay)->title().toStdString(), "表示/輝度1.99(&D)");
  EXPECT_EQ(IsCommandChecked(44007), 0);
  DispatchCommand(44005, CommandSource::kMenu);
  EXPECT_EQ(window_->Menu(kMenuDisplay)->title().toStdString(), "表示/輝度1.00(&D)");
  EXPECT_TRUE(ShowsFrame(0));

  // Zoom in: each picture pixel becomes 2 × 2.
  Key(Qt::Key_Asterisk, Qt::KeypadModifier);
  EXPECT_EQ(Capture().view.zoom, 2);
  QImage img = Shown();
  EXPECT_EQ(img.pixelColor(2 * 10 + 1, 2 * 10 + 1), Want(0, 10, 10));
  EXPECT_EQ(img.pixelColor(2 * 33, 2 * 20), Want(0, 33, 20));
  Key(Qt::Key_Slash, Qt::KeypadModifier);
  EXPECT_EQ(Capture().view.zoom, 1);
  EXPECT_TRUE(ShowsFrame(0));

  // Fitting stretches the picture over the whole view.
  DispatchCommand(kCmdFitWindow, CommandSource::kMenu);
  EXPECT_TRUE(Capture().view.fitToWindow);
  QImage fit = Shown();
  QColor corner = fit.pixelColor(fit.width() - 2, fit.height() - 2);
  EXPECT_NE(corner, QColor(Qt::black));
  Key(Qt::Key_Asterisk, Qt::KeypadModifier);
  EXPECT_FALSE(Capture().view.fitToWindow);
  EXPECT_EQ(IsCommandChecked(kCmdFitWindow), 0);

  // The pixel read-out under the mouse.
  Capture().view.zoom = 1;
  Capture().view.sx = Capture().view.sy = 0;
  Capture().view.RedrawCurrent();
  QTest::mouseMove(window_->FrameArea(), QPoint(5, 7));
  QApplication::processEvents();
  QColor c = Want(0, 5, 7);
  EXPECT_EQ(Pane(3), Fmt("RGB=(%3d,%3d,%3d)", c.red(), c.green(), c.blue()));
  EXPECT_EQ(Pane(2), "XY=(  5,  7)");
}

// While the fields alternate only the view keys get through; Space still
// steps, and a left click ends it with the normal picture back.
TEST_F(FrameViewTest, AlternatingFieldsFilterCommandsAndStopOnClick) {
  std::vector<std::string> seen;
  bool otherRan = false, allowedWhileRunning = true;
  QTimer::singleShot(200, [&] {
    otherRan = DispatchCommand(41011, CommandSource::kMenu);  // not a view command
    std::string picture = PairsDoubled(Shown()) ? "doubled" : "not doubled";
    Key(Qt::Key_Space);
    seen.push_back(Box());
    allowedWhileRunning = Capture().view.AlternatingFields();
    seen.push_back(picture);
    QTest::mouseClick(window_->FrameArea(), Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
  });
  QTimer::singleShot(5000, [this] { Capture().view.StopAlternatingFields(); });  // never hang the test
  DispatchCommand(41006, CommandSource::kMenu);
  EXPECT_FALSE(Capture().view.AlternatingFields());
  EXPECT_FALSE(otherRan);
  EXPECT_TRUE(allowedWhileRunning);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], "1");
  EXPECT_EQ(seen[1], "doubled");
  EXPECT_TRUE(ShowsFrame(1));
  EXPECT_FALSE(PairsDoubled(Shown()));  // the frame itself has no doubled lines
  EXPECT_TRUE(CanRunCommand(41011));
}

TEST_F(FrameViewTest, StepPlaybackFollowsTheKeys) {
  RecordingHost host;  // pumps by the test; the window and its keys are real
  FrameReader& r = Capture().reader;
  std::vector<uint32_t> seen;
  bool difference = false;
  auto play = [&](uint32_t start, Qt::Key key, Qt::KeyboardModifiers m, int keyAt, Qt::Key steer,
                  Qt::KeyboardModifiers steerMods) {
    r.ShowCurrent(start);
    seen.clear();
    host.pumps = 0;
    host.onPump = [&, keyAt, steer, steerMods](int n) {
      seen.push_back(r.currentFrame);
      difference = Capture().view.lastDifference;
      if (n == keyAt) Key(steer, steerMods);
    };
    Key(key, m);
    host.onPump = nullptr;
  };
  const Qt::KeyboardModifiers none = Qt::NoModifier;

  play(30, Qt::Key_F5, none, 0, Qt::Key_Escape, none);
  EXPECT_EQ(seen, (std::vector<uint32_t>{30, 31, 32, 33, 34, 35, 36, 37, 38, 39}));
  EXPECT_FALSE(difference);
  EXPECT_TRUE(ShowsFrame(kFrames - 1));
  EXPECT_EQ(host.titleSuffixes.back(), "");

  // Shift+Space turns it backward (to frame 0), Space forward again.
  play(10, Qt::Key_F5, none, 3, Qt::Key_Space, Qt::ShiftModifier);
  ASSERT_GE(seen.size(), 5u);
  EXPECT_EQ(std::vector<uint32_t>(seen.begin(), seen.begin() + 5),
            (std::vector<uint32_t>{10, 11, 12, 11, 10}));
  EXPECT_EQ(r.currentFrame, 0u);
  play(20, Qt::Key_F6, none, 2, Qt::Key_Space, none);
  EXPECT_EQ(std::vector<uint32_t>(seen.begin(), seen.begin() + 4), (std::vector<uint32_t>{20, 19, 20, 21}));
  EXPECT_EQ(r.currentFrame, uint32_t(kFrames - 1));

  // Difference pictures; the two-frame kind steps by 2, and Esc stops it at
  // once without a question.
  play(5, Qt::Key_F8, none, 0, Qt::Key_Escape, none);
  EXPECT_TRUE(difference);
  EXPECT_EQ(seen.back(), 0u);
  play(4, Qt::Key_F7, Qt::ControlModifier, 3, Qt::Key_Escape, none);
  EXPECT_TRUE(difference);
  EXPECT_EQ(seen, (std::vector<uint32_t>{4, 6, 8}));
  EXPECT_EQ(r.currentFrame, 8u);
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_EQ(ME.fBusy, 0);
  EXPECT_EQ(ME.fPlaying, 0);
  EXPECT_EQ(host.status[0].back(), "ビデオコマ送り再生終了");
}
