// The Selection/Mark menu and the index commands as the window runs them:
// from the menu commands through the marks and ranges of the open file, the
// deletion view and the frame count, to the settings file and a mark file.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>

#include "AviBuilder.h"
#include "StartedWindow.h"
#include "TestSupport.h"
#include "app/CommandUi.h"
#include "app/FileCommands.h"
#include "app/MainWindow.h"
#include "app/MarkCommands.h"
#include "command/Dispatcher.h"
#include "platform/AppState.h"
#include "platform/Paths.h"
#include "platform/Profile.h"

namespace {

class MarkWindowTest : public StartedWindowTest {
 protected:
  std::vector<std::string> Captions(MenuHandle menu) {
    std::vector<std::string> out;
    for (QAction* a : window_->Menu(menu)->actions())
      if (!a->isSeparator() && a->data().toInt() >= kCmdMarkBase && a->data().toInt() < 20000)
        out.push_back(a->text().toStdString());
    return out;
  }
  ShownCapture& S() { return window_->Shown(); }
};

TEST_F(MarkWindowTest, RangesAndMarksFromTheMenuToTheSettingsAndMarkFiles) {
  std::string path = dir_->File("tape.avi");
  AviBuildOptions o;
  o.frames = Frames(10, 16 * 16 * 3);
  ASSERT_TRUE(WriteFileBytes(path, BuildAvi(o).bytes));
  Open(path);
  ASSERT_EQ(S().table.TotalFrames(), 10u);

  // Frames 2..4 become a range, frame 7 gets a mark.
  S().reader.ShowCurrent(2);
  DispatchCommand(kCmdSetSelectionStart, CommandSource::kMenu);
  S().reader.ShowCurrent(4);
  DispatchCommand(kCmdSetSelectionEnd, CommandSource::kMenu);
  host_->comments = {"cut|here"};
  DispatchCommand(kCmdAddDeletionRange, CommandSource::kMenu);
  S().reader.ShowCurrent(7);
  host_->comments = {"look"};
  DispatchCommand(kCmdMarkFrame, CommandSource::kMenu);
  EXPECT_EQ(Captions(kMenuDelDelete),
            std::vector<std::string>{"1.フレーム削除範囲 000002-000004 を削除 [cut|here]"});

  // The deletion view: three frames fewer, the shown frame stays on its frame.
  DispatchCommand(kCmdDeleteRangeOn, CommandSource::kMenu);
  EXPECT_EQ(S().table.TotalFrames(), 7u);
  EXPECT_EQ(S().reader.currentFrame, 4u);
  EXPECT_EQ(Captions(kMenuSelect), std::vector<std::string>{"1.マーク位置 000007/000004 に移動？ [look]"});
  S().reader.ShowCurrent(0);
  DispatchCommand(kCmdMarkBase, CommandSource::kMenu);
  EXPECT_EQ(S().reader.currentFrame, 4u);
  EXPECT_EQ(host_->status[0].back(), "マーク位置1. 7/4に移動しました");

  // Closing keeps them in the settings file; opening brings them back.
  DispatchCommand(kCmdClose, CommandSource::kMenu);
  ForgetProfileCache();
  EXPECT_EQ(GetProfileText(path, "DeleteRange", "", SettingsPath()), "2,4,cut||here");
  EXPECT_EQ(GetProfileText(path, "FrameMark", "", SettingsPath()), "7,look");
  Open(path);
  EXPECT_EQ(S().table.TotalFrames(), 7u);

  // A mark file takes them to another session; what it names comes back.
  std::string marks = dir_->File("tape.mrk");
  host_->files = {marks};
  DispatchCommand(kCmdSaveMarkFile, CommandSource::kMenu);
  ASSERT_EQ(host_->dialogs.size(), 1u);
  EXPECT_EQ(host_->dialogs[0].initialName, "tape.mrk");
  DispatchCommand(kCmdDeleteAllRanges, CommandSource::kProgram);
  EXPECT_EQ(S().table.TotalFrames(), 10u);
  host_->files = {marks};
  DispatchCommand(kCmdLoadMarkFile, CommandSource::kMenu);
  EXPECT_EQ(S().table.TotalFrames(), 7u);

  // An index edit reopens the file with its marks: frame 0 leaves idx1.
  DispatchCommand(kCmdDeleteRangeOn, CommandSource::kMenu);
  S().reader.ShowCurrent(0);
  DispatchCommand(kCmdDeleteFrameFromIndex, CommandSource::kMenu);
  ASSERT_EQ(S().table.nOpenAvi, 1);
  EXPECT_EQ(S().table.pOpenAviList[0].sets[0].FrameMax, 9u);
  EXPECT_EQ(S().table.pOpenAviList[0].deleteRanges.size(), 1u);
  EXPECT_EQ(host_->status[0].back(), path + "の0フレームのインデックスを削除しました");

  // The comparison's request must be of its own size.
  FrameCompareRecord request;
  request.cbSize = 32;
  request.fileName = path;
  EXPECT_FALSE(EditIndexForComparison(kCmdMakeFrameNull, request));
  EXPECT_EQ(host_->boxes.back().text, "不正なフレーム比較情報です!");
  EXPECT_EQ(S().table.pOpenAviList[0].sets[0].FrameMax, 9u);
}

}  // namespace
