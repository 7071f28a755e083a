// The AVI save as the window runs it: the codec list of the options panel,
// the output name dialog with its rules, and the save offered after an index
// was built at open.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QWidget>

#include "AviBuilder.h"
#include "StartedWindow.h"
#include "TestSupport.h"
#include "app/FileCommands.h"
#include "app/MainWindow.h"
#include "command/Dispatcher.h"
#include "platform/AppState.h"
#include "platform/Riff.h"
#include "ui/AviSaveOptionsPanel.h"

namespace {

std::string BoxTexts(const RecordingHost& host) {
  std::string all;
  for (const RecordingHost::Box& b : host.boxes) all += " | " + b.text;
  return all;
}

TEST(AviSaveCodecList, UncompressedFirstAndEveryFourccAtColumn65) {
  const std::vector<CodecListEntry> list = CodecList(false);
  ASSERT_GE(list.size(), 2u);
  // Full-width characters take two columns: six for "無圧縮".
  EXPECT_EQ(list[0].text, "無圧縮" + std::string(59, ' ') + "00000000,0");
  bool mjpeg = false;
  for (const CodecListEntry& e : list) {
    EXPECT_NE(e.fourcc, FourCC("dvrs"));
    if (e.fourcc != FourCC("MJPG")) continue;
    mjpeg = true;
    // The FOURCC as a little-endian number, then the configure flag.
    ASSERT_EQ(e.text.size(), 75u) << e.text;
    EXPECT_EQ(e.text.substr(65), "47504A4D,1");
  }
  EXPECT_TRUE(mjpeg);
  EXPECT_EQ(CodecList(true).back().fourcc, FourCC("dvrs"));
}

class SaveWindowTest : public StartedWindowTest {
 protected:
  std::string WriteAvi(const std::string& name, bool withIdx1) {
    AviBuildOptions o = TenFramesWithAudio();
    if (!withIdx1) o.idx1 = AviBuildOptions::kNone;
    return StartedWindowTest::WriteAvi(name, o);
  }
  static uint32_t FramesOf(const std::string& path) {
    OpenAviTable table;
    return table.OpenOne(path, 3) ? table.pOpenAviList[0].Set().FrameMax : 0;
  }
  // Works the options panel of the dialog as the user would: copy mode.
  void ChooseCopyMode() {
    host_->onDialog = [](const FileDialogRequest& r) {
      QWidget area;
      r.addPanels(&area);
      auto* copy = area.findChild<QCheckBox*>("copy");
      ASSERT_TRUE(copy);
      copy->setChecked(true);
      r.panelsAccepted();
    };
  }
};

TEST_F(SaveWindowTest, DialogAddsTheExtensionAndRefusesAnOpenedFile) {
  const std::string source = WriteAvi("tape.avi", true);
  Open(source);
  ASSERT_EQ(window_->Shown().table.nOpenAvi, 1);
  ChooseCopyMode();
  // The open file, named without its extension, then a new name.
  host_->files = {dir_->File("tape"), dir_->File("copy")};
  DispatchCommand(kCmdSaveAvi, CommandSource::kMenu);

  ASSERT_EQ(host_->dialogs.size(), 2u);
  const FileDialogRequest& r = host_->dialogs[0];
  EXPECT_EQ(r.title, "Mirdex / ビデオ出力AVIファイル名入力");
  EXPECT_EQ(r.defaultExt, "avi");
  ASSERT_EQ(r.filters.size(), 1u);
  EXPECT_EQ(r.filters[0].first, "AVIファイル");
  EXPECT_EQ(host_->dialogs[1].initialName, "tape.avi");
  ASSERT_FALSE(host_->boxes.empty());
  EXPECT_EQ(host_->boxes[0].text, "保存するAVIファイル名は開いているAVIファイル名です!");

  EXPECT_EQ(FramesOf(dir_->File("copy.avi")), 10u) << BoxTexts(*host_);
  // The source was never written.
  EXPECT_EQ(FramesOf(source), 10u);
}

TEST_F(SaveWindowTest, BuiltIndexIsOfferedForSavingAndTheFileClosedOnlyWhenSaved) {
  const std::string scanned = WriteAvi("noidx.avi", false);
  ChooseCopyMode();
  // Build the index, save it: yes; the dialog is cancelled.
  host_->answers = {IDYES, IDYES};
  Open(scanned);
  ASSERT_GE(host_->boxes.size(), 2u);
  EXPECT_EQ(host_->boxes[1].text,
            "作成したインデックスは自動的に保存されません.\r新しいAVIファイルで保存しますか?");
  EXPECT_EQ(host_->dialogs.size(), 1u);
  EXPECT_EQ(window_->Shown().table.nOpenAvi, 1);

  DispatchCommand(kCmdClose);
  host_->answers = {IDYES, IDYES};
  host_->files = {dir_->File("indexed.avi")};
  Open(scanned);
  EXPECT_EQ(FramesOf(dir_->File("indexed.avi")), 10u) << BoxTexts(*host_);
  EXPECT_EQ(window_->Shown().table.nOpenAvi, 0);
}

}  // namespace
