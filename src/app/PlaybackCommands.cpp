#include "app/PlaybackCommands.h"

#include "app/MainWindow.h"
#include "command/Dispatcher.h"
#include "platform/AppState.h"
#include "settings/MirdexSettings.h"

namespace {

MainWindow* window = nullptr;

bool CanStart() {
  if (!window || ME.fBusy) return false;
  const ShownCapture& s = window->Shown();
  return s.table.nOpenAvi > 0 && s.reader.framePool.block;
}

// Starts the playback the command names, or steers the running one.
void PlaybackCommand(int id) {
  FrameOperationDriver& d = window->Operations();
  bool forward = window->Playback().Choose(id);
  if (PlaybackRuns()) {
    d.runState = forward ? 5 : 4;
    return;
  }
  d.suppressDisplay = mirdexSettings.notShow != 0;
  PlaybackOperation op(window->Playback(), forward);
  d.Run(op);
}

}  // namespace

bool PlaybackRuns() {
  if (!window) return false;
  int running = window->Operations().runningCommand;
  return running == kCmdPlayForward || running == kCmdPlayBackward;
}

bool SteerPlayback(bool forward) {
  if (!PlaybackRuns()) return false;
  window->Operations().runState = forward ? 5 : 4;
  return true;
}

void RegisterPlaybackCommands(MainWindow* w) {
  window = w;
  auto canRun = [] { return CanStart() || PlaybackRuns(); };
  RegisterCommandRange(
      kCmdStepPlay, kCmdStepPlayDiff2Reverse, [](int id, CommandSource) { PlaybackCommand(id); }, canRun);
  const int keys[][2] = {{kCmdKeyF5, kCmdStepPlay},       {kCmdKeyF6, kCmdStepPlayReverse},
                         {kCmdKeyF7, kCmdStepPlayDiff},   {kCmdKeyF8, kCmdStepPlayDiffReverse},
                         {kCmdCtrlF7, kCmdStepPlayDiff2}, {kCmdCtrlF8, kCmdStepPlayDiff2Reverse}};
  for (const auto& k : keys) {
    int target = k[1];
    RegisterCommand(
        k[0], [target](int, CommandSource) { PlaybackCommand(target); }, canRun);
  }
}

void UnregisterPlaybackCommands(MainWindow* w) {
  if (window != w) return;
  UnregisterCommandRange(kCmdStepPlay, kCmdStepPlayDiff2Reverse);
  for (int id : {kCmdKeyF5, kCmdKeyF6, kCmdKeyF7, kCmdKeyF8, kCmdCtrlF7, kCmdCtrlF8}) UnregisterCommand(id);
  window = nullptr;
}
