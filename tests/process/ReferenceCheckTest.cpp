// The reference-file check over "dvrs" files whose records name other files:
// the list, Esc, an unreadable frame.
#include <gtest/gtest.h>
#include <unistd.h>

#include "AviBuilder.h"
#include "TestSupport.h"
#include "command/CommandIds.h"
#include "command/Dispatcher.h"
#include "frame/Capture.h"
#include "platform/AppState.h"
#include "platform/RiffFormats.h"
#include "process/FrameOperation.h"
#include "process/ReferenceCheck.h"

namespace {

class ReferenceCheckTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = ME; }
  void TearDown() override { ME = saved_; }

  // Opens a 720×480 "dvrs" file whose frames refer to `names` in turn ("" a
  // null frame).
  void Open(const std::vector<std::string>& names) {
    AviBuildOptions o;
    o.width = 720;
    o.height = 480;
    o.handler = "dvrs";
    o.compression = FourCC("dvsd");
    for (const std::string& n : names) o.frames.push_back(AviFrame{n.empty() ? 0u : 64u, true, false});
    layout_ = BuildAvi(o);
    for (size_t i = 0; i < names.size(); ++i) {
      if (names[i].empty()) continue;
      std::string record;
      Put32(record, 0);
      Put32(record, 8);
      Put32(record, 120000);
      record += names[i] + std::string(4 - names[i].size() % 4, '\0');
      layout_.bytes.replace(layout_.videoData[i], record.size(), record);
    }
    path_ = dir_.File("refs.avi");
    ASSERT_TRUE(WriteFileBytes(path_, layout_.bytes));
    ASSERT_TRUE(shown_.table.OpenNamedFile(path_));
    ASSERT_TRUE(shown_.view.SetupView());
    // Shown as the open shows it: the referenced files are not there.
    EXPECT_FALSE(shown_.reader.ShowCurrent(0));
    host_.boxes.clear();
  }

  AppState saved_;
  RecordingHost host_;
  ScratchDir dir_;
  ShownCapture shown_;
  FrameOperationDriver driver_{shown_};
  AviLayout layout_;
  std::string path_;
};

// Names come once each, in order of first appearance, whatever runs and null
// frames lie between; a name inside another line is not that line.
TEST_F(ReferenceCheckTest, ListsEachNamedFileOnceInOrder) {
  const std::string a = "/OLD/CAP/A.AVI", b = "/CAP/A.AVI";
  Open({a, a, "", b, a, "", b, a});
  ASSERT_TRUE(CanCheckReferenceFiles(shown_));
  int running = 0;
  host_.onPump = [&](int) { running += driver_.runningCommand == kCmdCheckReferenceFiles; };
  std::string text = CheckReferenceFiles(driver_);
  EXPECT_EQ(text, path_ + "の参照ファイル\n\n" + a + "\n" + b);
  ASSERT_EQ(host_.boxes.size(), 1u);
  EXPECT_EQ(host_.boxes[0].text, text);
  EXPECT_EQ(host_.boxes[0].caption, "Mirdex");
  EXPECT_EQ(running, 8);
  EXPECT_EQ(host_.status[0].back(), path_ + "の参照ファイル調査中(100%) ESC:中止");
  EXPECT_EQ(driver_.runningCommand, 0);
  EXPECT_EQ(ME.fBusy, 0);
  // The shown frame's record is what it was.
  EXPECT_EQ(shown_.table.pCurrentOpenAvi->frameInfo.refFileName, a);
  EXPECT_EQ(shown_.table.pCurrentOpenAvi->frameInfo.localFrame, 0u);
}

TEST_F(ReferenceCheckTest, EscOrAnUnreadableFrameShowsNoList) {
  Open({"/CAP/A.AVI", "/CAP/B.AVI", "/CAP/C.AVI", "/CAP/D.AVI"});
  host_.answers = {IDYES};
  host_.onPump = [](int n) {
    if (n == 2) AbortCommand();
  };
  EXPECT_EQ(CheckReferenceFiles(driver_), "");
  ASSERT_EQ(host_.boxes.size(), 1u);
  EXPECT_EQ(host_.boxes[0].text, kAbortQuestion);
  EXPECT_EQ(ME.fAbort, 0);
  EXPECT_EQ(ME.fBusy, 0);

  // The file loses its last frames while open.
  host_.onPump = nullptr;
  host_.boxes.clear();
  ASSERT_EQ(truncate(path_.c_str(), static_cast<off_t>(layout_.videoData[2])), 0);
  EXPECT_EQ(CheckReferenceFiles(driver_), "");
  ASSERT_EQ(host_.boxes.size(), 1u);
  EXPECT_EQ(host_.boxes[0].text, path_ + "からフレーム2が読み出せません!");
  EXPECT_EQ(driver_.runningCommand, 0);
}

}  // namespace
