// The driver of multi-frame operations over a fake operation and a fake
// in-place writer: the range kinds, Esc, the first error, power-off after
// the run, one run at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "AviBuilder.h"
#include "TestSupport.h"
#include "command/Dispatcher.h"
#include "frame/Capture.h"
#include "platform/AppState.h"
#include "platform/Format.h"
#include "platform/Messages.h"
#include "platform/System.h"
#include "process/FrameOperation.h"
#include "process/Playback.h"

namespace {

constexpr int kFrames = 8;

struct FakeWriter : FrameWriter {
  std::vector<uint32_t>* written;
  int64_t mismatchAt;
  FakeWriter(std::vector<uint32_t>* w, int64_t m) : written(w), mismatchAt(m) {}
  std::string Write(OpenAviFile* owner, uint32_t globalFrame, uint32_t, const uint8_t*, size_t) override {
    if (globalFrame == mismatchAt)
      return Fmt("%sのフレーム圧縮サイズが一致しません!", owner->szFileName.c_str());
    written->push_back(globalFrame);
    return "";
  }
  void Close() override {}
};

struct FakeOperation : FrameOperation {
  FrameRangeChoice choice;
  bool writes = false;
  std::vector<int64_t> frames;
  int Command() const override { return 41020; }
  std::string Name() const override { return "テスト処理"; }
  const FrameRangeChoice* RangeChoice() const override { return &choice; }
  bool Process(FrameOperationDriver& d) override {
    frames.push_back(d.frame);
    d.processed = writes;
    return true;
  }
};

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = ME;
    AviBuildOptions o;
    o.frames = Frames(kFrames, 16 * 16 * 3);
    std::string path = dir_.File("clip.avi");
    ASSERT_TRUE(WriteFileBytes(path, BuildAvi(o).bytes));
    ASSERT_TRUE(shown_.table.OpenNamedFile(path));
    ASSERT_TRUE(shown_.view.SetupView());
    driver_.makeWriter = [this] { return std::make_unique<FakeWriter>(&written_, mismatchAt_); };
    SetPowerOffRoutine([this] { return ++powerOffs_, true; });
  }
  void TearDown() override {
    SetPowerOffRoutine(nullptr);
    SetAbortConfirmation(true);
    CloseLog();
    ME = saved_;
  }
  bool ShowedPercentage() const {
    return std::any_of(host_.titleSuffixes.begin(), host_.titleSuffixes.end(),
                       [](const std::string& s) { return s.find('%') != std::string::npos; });
  }

  AppState saved_;
  RecordingHost host_;
  ScratchDir dir_;
  ShownCapture shown_;
  FrameOperationDriver driver_{shown_};
  std::vector<uint32_t> written_;
  int64_t mismatchAt_ = -1;
  int powerOffs_ = 0;
};

TEST_F(DriverTest, RangeKindsGiveTheirFrames) {
  FakeOperation one;
  one.choice.kind = 2;
  shown_.reader.currentFrame = 3;
  EXPECT_EQ(driver_.Run(one), 1);
  EXPECT_EQ(one.frames, (std::vector<int64_t>{3}));
  EXPECT_FALSE(ShowedPercentage());
  EXPECT_EQ(host_.status[0].back(), "テスト処理終了");
  EXPECT_EQ(host_.titleSuffixes.back(), "");

  FakeOperation toEnd;
  toEnd.choice.kind = 2;
  toEnd.choice.toEnd = 1;
  shown_.reader.currentFrame = 5;
  EXPECT_EQ(driver_.Run(toEnd), 1);
  EXPECT_EQ(toEnd.frames, (std::vector<int64_t>{5, 6, 7}));
  EXPECT_TRUE(ShowedPercentage());

  // A negative start counts from 0, a missing end runs to the last frame.
  FakeOperation selection;
  selection.choice.kind = 1;
  shown_.navigation.selection = {-4, 2};
  EXPECT_EQ(driver_.Run(selection), 1);
  EXPECT_EQ(selection.frames, (std::vector<int64_t>{0, 1, 2}));
  selection.frames.clear();
  shown_.navigation.selection = {6, -1};
  EXPECT_EQ(driver_.Run(selection), 1);
  EXPECT_EQ(selection.frames, (std::vector<int64_t>{6, 7}));
  EXPECT_EQ(ME.fBusy, 0);
  EXPECT_EQ(BusyStateDepth(), 0);
}

TEST_F(DriverTest, EscStopsPlaybackAtOnceAndAsksElsewhere) {
  PlaybackSettings settings;
  PlaybackOperation play(settings, true);
  host_.onPump = [](int n) {
    if (n == 3) AbortCommand();
  };
  EXPECT_EQ(driver_.Run(play), 0);
  EXPECT_TRUE(host_.boxes.empty());
  EXPECT_EQ(shown_.reader.currentFrame, 2u);
  EXPECT_EQ(host_.status[0].back(), "ビデオコマ送り再生終了");

  // "No" lets the run go on to its end; "yes" stops it after that frame.
  FakeOperation op;
  host_.pumps = 0;
  host_.answers = {IDNO};
  EXPECT_EQ(driver_.Run(op), 1);
  ASSERT_EQ(host_.boxes.size(), 1u);
  EXPECT_EQ(host_.boxes[0].text, kAbortQuestion);
  EXPECT_EQ(op.frames.size(), size_t(kFrames));
  op.frames.clear();
  host_.pumps = 0;
  host_.answers = {IDYES};
  EXPECT_EQ(driver_.Run(op), 0);
  EXPECT_EQ(op.frames.size(), 3u);
}

TEST_F(DriverTest, SizeMismatchStopsAndKeepsEarlierFrames) {
  FakeOperation op;
  op.writes = true;
  mismatchAt_ = 3;
  EXPECT_EQ(driver_.Run(op), 0);
  EXPECT_EQ(written_, (std::vector<uint32_t>{0, 1, 2}));
  ASSERT_EQ(host_.boxes.size(), 1u);
  // The report says how far the file was changed.
  EXPECT_EQ(host_.boxes[0].text, shown_.table.pOpenAviList[0].szFileName +
                                     "のフレーム圧縮サイズが一致しません!\rフレーム0～2を書き込みました.");
  EXPECT_EQ(host_.boxes[0].style, unsigned(MB_OK | MB_ICONSTOP));
  EXPECT_EQ(host_.status[0].back(), "テスト処理エラー:" + host_.boxes[0].text);
}

TEST_F(DriverTest, PowerOffAfterAnErrorOnlyWithTheLogOpen) {
  FakeOperation op;
  op.writes = true;
  mismatchAt_ = 1;
  ASSERT_TRUE(OpenLog());
  ME.nPowerOffAfter = 1;
  EXPECT_EQ(driver_.Run(op), 0);
  EXPECT_TRUE(host_.boxes.empty());
  EXPECT_EQ(powerOffs_, 1);
  std::string log = ReadFileBytes(LogPath());
  EXPECT_NE(log.find("] テスト処理 エラー:"), std::string::npos) << log;
  EXPECT_NE(log.find("一致しません!\rフレーム0～0を書き込みました.\r\n"), std::string::npos) << log;

  CloseLog();
  ME.nPowerOffAfter = 1;
  EXPECT_EQ(driver_.Run(op), 0);
  EXPECT_EQ(host_.boxes.size(), 1u);
  EXPECT_EQ(powerOffs_, 1);
}

TEST_F(DriverTest, SecondRunWhileOneRunsDoesNothing) {
  FakeOperation outer, inner;
  int innerResult = -1;
  host_.onPump = [&](int n) {
    if (n == 1) innerResult = driver_.Run(inner);
  };
  EXPECT_EQ(driver_.Run(outer), 1);
  EXPECT_EQ(innerResult, 0);
  EXPECT_TRUE(inner.frames.empty());
  EXPECT_EQ(outer.frames.size(), size_t(kFrames));
}

}  // namespace
