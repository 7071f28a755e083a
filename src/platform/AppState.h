// Global application state shared by every subsystem of the program.
#pragma once
#include <string>

struct AppState {
  int fBusy = 0;          // a multi-frame operation is running; closing is refused
  int fAbort = 0;         // abort requested (Esc); polled by every long loop
  int fMainInactive = 0;  // main window is not the active window
  int fReading = 0;       // the AVI reader is working (restricts what the window accepts)
  int fPlaying = 0;       // frame-stepping playback runs
  int fAudioPlaying = 0;  // audio playback runs
  int fHasMMX = 0, fHasSSE = 0;
  int fUseMMX = 0, fUseSSE = 0;
  int nPriorityFore = 0, nPriorityBack = 0;
  int nPowerOffAfter = 0;  // 1 on, -2 off, 0 not set since start
  int hLogFile = -1;       // operation log descriptor, -1 while closed
  const char* programName = "Mirdex";
  // Last stamp given to an audio index; see NextIndexStamp.
  unsigned long long indexStamp = 0;
};

extern AppState ME;

// A stamp no audio index has had before in this run: whoever replaces an
// audio index stamps it, so what was worked out from the old one (sample
// counts per chunk) is known to be stale.
inline unsigned long long NextIndexStamp() {
  return ++ME.indexStamp;
}

// One step of the message pump followed by the abort test: true when the
// running loop must stop.
bool PumpAndTestAbort();
