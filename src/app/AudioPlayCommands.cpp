#include "app/AudioPlayCommands.h"

#include <QTimer>
#include <memory>

#include "app/MainWindow.h"
#include "audio/AudioCompare.h"
#include "audio/AudioPlay.h"
#include "command/Dispatcher.h"
#include "platform/AppState.h"
#include "platform/Host.h"
#include "platform/Messages.h"
#include "platform/QtWaveOut.h"
#include "settings/MirdexSettings.h"

namespace {

MainWindow* window = nullptr;
std::unique_ptr<AudioPlayer> player;
WaveOutFactory factory;

// What the window accepts while the sound plays: moving the picture, which
// the sound follows.
const std::vector<int> kWhilePlaying = {
    kCmdStepForward1,   kCmdStepForward30, kCmdStepForward150, kCmdStepForward300,  kCmdGoToLastFrame,
    kCmdGoToFirstFrame, kCmdStepBackward1, kCmdStepBackward30, kCmdStepBackward150, kCmdStepBackward300,
    kCmdKeySpace,       kCmdShiftSpace,    kCmdKeyEnter};

bool HasAudio() {
  if (!window) return false;
  ShownCapture& s = window->Shown();
  if (s.table.nOpenAvi <= 0) return false;
  TableAudio a = ReadWave(s.table).State();
  return a == TableAudio::kPcm || a == TableAudio::kDecoded;
}

bool CanPlay() {
  return HasAudio() && !ME.fBusy && window->Shown().reader.framePool.block;
}

void Play(int command) {
  ShownCapture& s = window->Shown();
  uint32_t total = s.table.TotalFrames();
  if (total == 0) return;
  uint32_t first = s.reader.currentFrame, last = total - 1;
  if (command == kCmdPlayAudioSelection) {
    first = static_cast<uint32_t>(std::min<int64_t>(s.navigation.selection.EffectiveStart(), last));
    last = static_cast<uint32_t>(std::min<int64_t>(s.navigation.selection.EffectiveEnd(total), last));
  }
  player->Play(command, first, last, mirdexSettings.playSync, mirdexSettings.waveDelay);
}

void Compare() {
  ShownCapture& s = window->Shown();
  Capture second;
  second.table.SetFixedFrameRate(s.table.fixedRateOn, s.table.fixedRateText);
  if (!second.table.AllocOpenAviTable(1) ||
      !second.table.OpenAviDialog(kCmdCompareAudioPosAvi, &second.table.pOpenAviList[0]))
    return;
  second.table.nOpenAvi = 1;
  second.table.SelectOpenAvi(0);
  OpenAviFile& other = second.table.pOpenAviList[0];
  if (other.nAudioKind == 1 || !ReadWave(second.table).AudioFile()) {
    Message(MB_OK | MB_ICONSTOP, nullptr, "%sにはオーディオがありません!", other.szFileName.c_str());
    return;
  }
  // Without the comparison tool the second file's frame is the current one.
  int64_t frame = s.reader.currentFrame;
  CompareAudioPosition(s.table, second.table, frame, frame);
  RefreshUi();
}

}  // namespace

void SetWaveOutFactory(WaveOutFactory f) {
  factory = std::move(f);
}

void RegisterAudioPlayCommands(MainWindow* w) {
  window = w;
  AudioPlayHooks hooks;
  hooks.makeDevice = [] { return factory ? factory() : MakeQtWaveOut(); };
  hooks.currentFrame = [] { return window->Shown().reader.currentFrame; };
  hooks.goToFrame = [](uint32_t f) { window->Shown().reader.ShowCurrent(f); };
  hooks.setInterfaceBusy = [](bool busy) {
    if (busy) {
      SetAbortConfirmation(false);
      PushBusyState(kWhilePlaying);
    } else {
      PopBusyState();
      SetAbortConfirmation(true);
    }
  };
  hooks.postAgain = [](int command) {
    QTimer::singleShot(50, window, [command] { DispatchCommand(command, CommandSource::kProgram); });
  };
  player = std::make_unique<AudioPlayer>(w->Shown().table, std::move(hooks));

  auto play = [](int id, CommandSource) { Play(id); };
  RegisterCommand(kCmdPlayAudio, play, CanPlay);
  RegisterCommand(kCmdPlayAudioSelection, play, CanPlay);
  RegisterCommand(
      kCmdCtrlF5, [](int, CommandSource) { Play(kCmdPlayAudio); }, CanPlay);
  RegisterCommand(
      kCmdCtrlF6, [](int, CommandSource) { Play(kCmdPlayAudioSelection); }, CanPlay);
  RegisterCommand(
      kCmdCompareAudioPosAvi, [](int, CommandSource) { Compare(); }, [] { return HasAudio() && !ME.fBusy; });
}

void UnregisterAudioPlayCommands(MainWindow* w) {
  if (window != w) return;
  for (int id : {kCmdPlayAudio, kCmdPlayAudioSelection, kCmdCtrlF5, kCmdCtrlF6, kCmdCompareAudioPosAvi})
    UnregisterCommand(id);
  player.reset();
  window = nullptr;
}
