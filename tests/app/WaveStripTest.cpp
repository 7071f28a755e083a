// The waveform strip of the main window, read from its pixels: lanes,
// baselines and scaling of 16-bit stereo and 8-bit mono audio, following the
// frame as it is stepped, black for a frame without audio, the window
// background without a file or without audio.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <map>
#include <memory>

#include "AviBuilder.h"
#include "QtTestEnv.h"
#include "TestSupport.h"
#include "app/FrameCommands.h"
#include "app/MainWindow.h"
#include "app/WaveStrip.h"
#include "command/Dispatcher.h"
#include "frame/Capture.h"
#include "platform/AppState.h"

namespace {

constexpr uint32_t kSamplesPerFrame = 320;  // 8000 Hz at 25 frames a second
constexpr QRgb kWhite = 0xFFFFFF, kRed = 0xFF0000;

// A 16 × 16 AVI of `frames` frames whose audio chunk k holds the sample
// levels[k][c] for channel c throughout; frames past `levels` have no audio,
// and without levels the file has no audio stream.
std::string MakeAvi(const ScratchDir& dir, const std::string& name, uint16_t bits, uint16_t channels,
                    const std::vector<std::vector<int>>& levels, uint32_t frames) {
  AviBuildOptions o;
  o.frames = Frames(frames, 16 * 16 * 3);
  o.audio = !levels.empty();
  o.wf.channels = channels;
  o.wf.bits = bits;
  o.wf.blockAlign = static_cast<uint16_t>(channels * bits / 8);
  o.wf.avgBytes = o.wf.rate * o.wf.blockAlign;
  const uint32_t chunkBytes = kSamplesPerFrame * o.wf.blockAlign;
  o.audioSizes.assign(levels.size(), chunkBytes);
  AviLayout l = BuildAvi(o);
  for (size_t k = 0; k < levels.size(); ++k) {
    std::string chunk;
    for (uint32_t i = 0; i < kSamplesPerFrame; ++i)
      for (uint16_t c = 0; c < channels; ++c) {
        const int v = levels[k][c];
        chunk += static_cast<char>(v & 0xFF);
        if (bits == 16) chunk += static_cast<char>((v >> 8) & 0xFF);
      }
    l.bytes.replace(l.audioData[k], chunkBytes, chunk);
  }
  const std::string path = dir.File(name);
  EXPECT_TRUE(WriteFileBytes(path, l.bytes));
  return path;
}

class WaveStripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = ME;
    ClearCommandRegistry();
    dir_ = std::make_unique<ScratchDir>();
    window_ = std::make_unique<MainWindow>();
    ASSERT_TRUE(window_->Startup());
    window_->resize(720, 560);
    ASSERT_TRUE(ShowActive(window_.get()));
    DispatchCommand(kCmdShowWave, CommandSource::kMenu);
    QApplication::processEvents();
    ASSERT_TRUE(window_->WaveArea()->isVisible());
    ASSERT_GE(window_->WaveArea()->height(), 130);
  }
  void TearDown() override {
    window_.reset();
    ClearCommandRegistry();
    ME = saved_;
    dir_.reset();
  }
  void Open(const std::string& path) {
    ShownCapture& s = window_->Shown();
    s.table.CloseAllOpenAvi();
    ASSERT_TRUE(s.table.OpenNamedFile(path));
    FrameSetChanged();
    window_->FrameNumberBox()->setFocus();
    QApplication::processEvents();
  }
  void StepForward() {
    QTest::keyClick(window_->FrameNumberBox(), Qt::Key_Space);
    QApplication::processEvents();
  }
  QImage Strip() { return window_->WaveArea()->grab().toImage().convertToFormat(QImage::Format_RGB32); }
  // The pixels of the middle column inside the border that are not black,
  // by row.
  std::map<int, QRgb> Lit() {
    QImage img = Strip();
    std::map<int, QRgb> lit;
    for (int y = 1; y + 1 < img.height(); ++y) {
      QRgb p = img.pixel(img.width() / 2, y) & 0xFFFFFF;
      if (p != 0) lit[y] = p;
    }
    return lit;
  }
  // Every pixel inside the border has colour `rgb`.
  bool Filled(QRgb rgb) {
    QImage img = Strip();
    for (int y = 1; y + 1 < img.height(); ++y)
      for (int x = 1; x + 1 < img.width(); ++x)
        if ((img.pixel(x, y) & 0xFFFFFF) != rgb) return false;
    return true;
  }
  QRgb Background() { return window_->WaveArea()->palette().color(QPalette::Window).rgb() & 0xFFFFFF; }

  AppState saved_;
  std::unique_ptr<ScratchDir> dir_;
  std::unique_ptr<MainWindow> window_;
};

}  // namespace

TEST_F(WaveStripTest, SixteenBitStereoLanesFollowTheFrame) {
  // Lanes of 64 rows: baselines 33 and 97; 32767 is 31 rows above, -32768
  // 32 below.
  Open(MakeAvi(*dir_, "s16.avi", 16, 2, {{0, 0}, {32767, 32767}, {-32768, -32768}, {-32768, 0}}, 6));
  EXPECT_EQ(Lit(), (std::map<int, QRgb>{{33, kWhite}, {97, kRed}}));
  StepForward();
  EXPECT_EQ(Lit(), (std::map<int, QRgb>{{2, kWhite}, {66, kRed}}));
  StepForward();
  EXPECT_EQ(Lit(), (std::map<int, QRgb>{{65, kWhite}, {129, kRed}}));
  StepForward();
  EXPECT_EQ(Lit(), (std::map<int, QRgb>{{65, kWhite}, {97, kRed}}));
  // Frames 4 and 5 have no audio.
  StepForward();
  EXPECT_TRUE(Filled(0));
  // Back through the number box to a frame with audio.
  window_->FrameNumberBox()->setText("1");
  QTest::keyClick(window_->FrameNumberBox(), Qt::Key_Return);
  QApplication::processEvents();
  EXPECT_EQ(Lit(), (std::map<int, QRgb>{{2, kWhite}, {66, kRed}}));
}

TEST_F(WaveStripTest, EightBitMonoScaling) {
  // One lane of 129 rows, baseline 65: 128 is silence, 0 draws 8 rows below,
  // 255 7 rows above.
  Open(MakeAvi(*dir_, "u8.avi", 8, 1, {{128}, {0}, {255}}, 3));
  EXPECT_EQ(Lit(), (std::map<int, QRgb>{{65, kWhite}}));
  StepForward();
  EXPECT_EQ(Lit(), (std::map<int, QRgb>{{73, kWhite}}));
  StepForward();
  EXPECT_EQ(Lit(), (std::map<int, QRgb>{{58, kWhite}}));
}

TEST_F(WaveStripTest, WindowBackgroundWithoutFileOrAudioAndSwitchedOff) {
  EXPECT_TRUE(Filled(Background()));
  Open(MakeAvi(*dir_, "audio.avi", 16, 2, {{0, 0}}, 2));
  EXPECT_FALSE(Filled(Background()));
  Open(MakeAvi(*dir_, "silent.avi", 16, 2, {}, 2));
  EXPECT_TRUE(Filled(Background()));

  DispatchCommand(kCmdShowWave, CommandSource::kMenu);
  EXPECT_FALSE(window_->WaveArea()->isVisible());
  EXPECT_EQ(IsCommandChecked(kCmdShowWave), 0);
}
