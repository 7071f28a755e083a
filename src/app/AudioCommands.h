// The audio edits of the window: WAVE export and import, audio from another
// AVI, volume, fades, the measurements and the DV audio check, all run by
// the audio engine over the shown files with the settings they share.
#pragma once
#include <string>

#include "audio/ReadWave.h"

class MainWindow;
class ShownCapture;
struct MirdexSettings;

class AudioEdits {
 public:
  explicit AudioEdits(ShownCapture& shown);
  AudioEdits(const AudioEdits&) = delete;
  AudioEdits& operator=(const AudioEdits&) = delete;

  ReadWave engine;
  ReadWaveSettings settings;

  // The limit, factor and offsets kept in the settings file.
  void Load(const MirdexSettings& s);
  void Store(MirdexSettings& s) const;
  // True in the states the operations run in (PCM, decoded).
  bool CanRun() const;
  // Fills the selection, the current frame and the ±N width from the
  // navigation, runs the engine and stores what the run changed.
  int Run(unsigned mode, ReadWaveRequest& request);
  // Above 30 frames per second a file holds fields: the ±N save then covers
  // 20 of them instead of 10 frames.
  bool WideAroundFrame() const;

 private:
  ShownCapture& shown_;
};

void RegisterAudioCommands(MainWindow* window);
void UnregisterAudioCommands(MainWindow* window);
