// The audio edits as the window runs them: the menu items follow the audio
// of the shown files, a WAVE save goes through its dialog to the engine with
// the settings of the session, and the volume window edits those settings.
#include <gtest/gtest.h>

#include <QAction>
#include <QDialog>
#include <QLineEdit>
#include <QTest>

#include "AviBuilder.h"
#include "StartedWindow.h"
#include "TestSupport.h"
#include "app/AudioCommands.h"
#include "app/CommandUi.h"
#include "app/FileCommands.h"
#include "app/MainWindow.h"
#include "app/VolumeWindow.h"
#include "command/Dispatcher.h"
#include "platform/AppState.h"
#include "settings/MirdexSettings.h"

namespace {

class AudioWindowTest : public StartedWindowTest {
 protected:
  // The audio in the format `tag`.
  std::string WriteAvi(const std::string& name, uint16_t tag) {
    AviBuildOptions o = TenFramesWithAudio();
    o.wf.tag = tag;
    return StartedWindowTest::WriteAvi(name, o);
  }
};

const int kAudioCommands[] = {kCmdSaveWave,         kCmdSaveWaveScaled, kCmdReadWave,
                              kCmdReadAudioFromAvi, kCmdFadeIn,         kCmdChangeVolume,
                              kCmdSaveWaveAround,   kCmdWaveLimitCheck, kCmdLevelCheck};

TEST_F(AudioWindowTest, OperationsRunOnlyOnPcmOrDecodedAudio) {
  for (int id : kAudioCommands) EXPECT_FALSE(CanRunCommand(id)) << id;
  EXPECT_TRUE(CanRunCommand(kCmdVolumeWindow));

  // Compressed audio that was not decoded at open: nothing to work on.
  Open(WriteAvi("mp3.avi", 0x55));
  ASSERT_EQ(window_->Shown().table.nOpenAvi, 1);
  EXPECT_EQ(window_->AudioWork().engine.State(), TableAudio::kNotDecoded);
  window_->RefreshBeforePopup();
  for (int id : kAudioCommands) EXPECT_FALSE(CanRunCommand(id)) << id;
  EXPECT_FALSE(FindCommandAction(kCmdSaveWave)->isEnabled());

  Open(WriteAvi("pcm.avi", 1));
  window_->RefreshBeforePopup();
  for (int id : kAudioCommands) EXPECT_TRUE(CanRunCommand(id)) << id;
  ASSERT_TRUE(FindCommandAction(kCmdSaveWave));
  EXPECT_TRUE(FindCommandAction(kCmdSaveWave)->isEnabled());
  // Not a DV file.
  EXPECT_FALSE(CanRunCommand(kCmdDvAudioCheck));
}

TEST_F(AudioWindowTest, ScaledSaveWritesTheChosenFileWithFactorAndShift) {
  std::string avi = WriteAvi("tape.avi", 1);
  Open(avi);
  AudioEdits& audio = window_->AudioWork();
  audio.settings.factor = 2.0;
  audio.settings.shiftSamples = 3;  // later: three silent sample frames first
  std::string out = dir_->File("out.wav");
  host_->files = {out};
  DispatchCommand(kCmdSaveWaveScaled, CommandSource::kMenu);

  ASSERT_EQ(host_->dialogs.size(), 1u);
  const FileDialogRequest& r = host_->dialogs[0];
  EXPECT_EQ(r.title, "Mirdex / WAVE出力ファイル名入力");
  EXPECT_EQ(r.initialName, "tape.wav");
  EXPECT_EQ(r.initialDir, dir_->path());
  EXPECT_EQ(r.defaultExt, "wav");
  EXPECT_TRUE(r.save);
  EXPECT_TRUE(r.addPanels && r.panelsAccepted);

  std::string wav = ReadFileBytes(out);
  ASSERT_GT(wav.size(), 44u) << (host_->boxes.empty() ? "" : host_->boxes.back().text);
  const size_t data = wav.find("data");
  ASSERT_NE(data, std::string::npos);
  EXPECT_EQ(wav.size() - data - 8, 3u * 4 + 10 * 1280);
  EXPECT_EQ(wav.substr(data + 8, 12), std::string(12, '\0'));
  // The AVI's audio bytes are k*7 in each chunk: its sample 1 is bytes 14, 21.
  auto sample = [&](size_t i) {
    size_t at = data + 8 + 12 + 2 * i;
    return static_cast<int16_t>(static_cast<uint8_t>(wav[at]) | (static_cast<uint8_t>(wav[at + 1]) << 8));
  };
  const int16_t source1 = static_cast<int16_t>(14 | (21 << 8));
  EXPECT_EQ(sample(1), static_cast<int16_t>(source1 * 2));
  // The import asks with its own title and both filters (cancelled here).
  host_->files.clear();
  DispatchCommand(kCmdReadWave, CommandSource::kMenu);
  ASSERT_EQ(host_->dialogs.size(), 2u);
  EXPECT_EQ(host_->dialogs[1].title, "Mirdex / WAVE取込ファイル名入力");
  EXPECT_EQ(host_->dialogs[1].filters.size(), 2u);
}

TEST_F(AudioWindowTest, VolumeWindowEditsTheFactorAtOnce) {
  Open(WriteAvi("tape.avi", 1));
  DispatchCommand(kCmdVolumeWindow, CommandSource::kMenu);
  QDialog* w = VolumeWindow();
  ASSERT_TRUE(w);
  auto* factor = w->findChild<QLineEdit*>(QString::number(kVolumeFactorEdit));
  ASSERT_TRUE(factor);
  EXPECT_EQ(factor->text(), "1.000");
  factor->selectAll();
  QTest::keyClicks(factor, "1.5");
  EXPECT_DOUBLE_EQ(window_->AudioWork().settings.factor, 1.5);
  EXPECT_DOUBLE_EQ(mirdexSettings.waveLevel, 1.5);
  EXPECT_EQ(FindCommandAction(kCmdChangeVolume)->text().toStdString(), "オーディオの音量を 1.500倍に変更");
  // Stereo: both offsets and the channel choice are there.
  EXPECT_FALSE(w->findChild<QLineEdit*>(QString::number(kVolumeOffsetRightEdit))->isHidden());
  // The buttons are the menu's commands.
  EXPECT_EQ(FindControl(kCmdChangeVolume)->window(), w);
}

}  // namespace
