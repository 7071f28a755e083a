// Audio playback (42000, 42001 and their keys Ctrl+F5, Ctrl+F6) and the
// audio position comparison with another AVI file (40011).
#pragma once
#include "platform/WaveOut.h"

class MainWindow;

void RegisterAudioPlayCommands(MainWindow* window);
void UnregisterAudioPlayCommands(MainWindow* window);
// Tests put a device of their own in place of the sound output.
void SetWaveOutFactory(WaveOutFactory factory);
