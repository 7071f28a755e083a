// The AVI save through the batch driver: Esc ends it with a valid shorter
// file whose headers count what was written.
#include <gtest/gtest.h>

#include "AviBuilder.h"
#include "TestSupport.h"
#include "command/Dispatcher.h"
#include "frame/Capture.h"
#include "platform/AppState.h"
#include "process/AviSave.h"

namespace {

TEST(AviSave, EscFinishesAShorterFileWithMatchingHeaders) {
  AppState saved = ME;
  RecordingHost host;
  ScratchDir dir;
  AviBuildOptions o;
  o.frames = Frames(40, 16 * 16 * 3);
  o.audio = true;
  o.audioSizes.assign(40, 320 * 4);  // 8000 Hz at 25 frames per second
  const std::string source = dir.File("clip.avi"), output = dir.File("out.avi");
  ASSERT_TRUE(WriteFileBytes(source, BuildAvi(o).bytes));
  {
    ShownCapture shown;
    ASSERT_TRUE(shown.table.OpenNamedFile(source));
    ASSERT_TRUE(shown.view.SetupView());
    FrameOperationDriver driver(shown);
    host.answers = {IDYES};
    host.onPump = [](int n) {
      if (n == 20) AbortCommand();
    };
    AviSaveOptions options;
    options.copy = true;
    AviSaveOperation op(output, options, FrameRangeChoice{});
    EXPECT_EQ(driver.Run(op), 0);
    EXPECT_TRUE(op.Saved());
  }
  OpenAviTable table;
  ASSERT_TRUE(table.OpenOne(output, 3));
  const AviStreamSet& set = table.pOpenAviList[0].Set();
  EXPECT_EQ(set.FrameMax, 20u);
  EXPECT_EQ(set.avih.dwTotalFrames, 20u);
  EXPECT_EQ(set.strhVideo.dwLength, 20u);
  // Audio for frames 0-29 went out before the stop, not the planned 40 frames.
  EXPECT_EQ(set.dwWaveSampleCounts, 30u * 320);
  EXPECT_EQ(set.strhAudio.dwLength, set.dwWaveSampleCounts);
  ME = saved;
}

}  // namespace
