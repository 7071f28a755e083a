// The step-playback commands of the window (menu "ビデオ(&V)", F5..F8,
// Ctrl+F7, Ctrl+F8) and the steering of a running playback.
#pragma once

class MainWindow;

void RegisterPlaybackCommands(MainWindow* window);
void UnregisterPlaybackCommands(MainWindow* window);
// True while a playback runs.
bool PlaybackRuns();
// Space and Shift+Space during a playback: the same kind in that direction.
// False when no playback runs.
bool SteerPlayback(bool forward);
