// Mirdex's own settings: every option kept in Mirdex.ini, with its default,
// read once when the main window starts and written once when it closes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "settings/Settings.h"

constexpr int kRecentFileCount = 10;
// A path as long as the system allows (the list used to cut paths in deep
// folders of long names, which then could not be opened from the menu).
constexpr uint32_t kRecentFileCapacity = 4097;

struct MirdexSettings {
  // Setting (UseMMX/UseSSE and the priority levels live in ME).
  int logFile = 0;
  char frameRate[32] = "30000/1001";
  char frameRateList[4096] = "30000/1001";
  uint32_t playSync = 0;
  int32_t waveDelay = 0;
  int mixField = 0, fitWindow = 0, showStatus = 0, showWave = 0, notShow = 0, blinkUndo = 0;
  uint32_t brightness = 100;
  uint32_t previewDelay = 100;
  int fieldOrderOddToEven = 0, deleteRange = 0;
  uint32_t eraseSize = 2, eraseShape = 0, nearColor = 8;
  // Window
  int32_t posLeft = 0, posTop = 0, posRight = 0, posBottom = 0;
  int maximize = 0, bringTop = 0;
  // Composit
  uint32_t compositThreshold[4] = {15, 500, 150, 0};
  uint32_t compositLineMergin[3] = {40, 4, 4};
  uint32_t compositDivide = 1, compositBright = 2;
  // Compare
  uint32_t compareNextFrame = 64, compareThreshold = 300, compareDropCount = 1, compareLineMergin = 40;
  // Average
  uint32_t averageCount = 19, averageLimit = 3, averageSumLimit = 6;
  int averageEnableLimit = 1, averageEnableSumLimit = 1;
  // Adjust
  uint32_t waveLimit = 100;
  double waveLevel = 1.0;
  int32_t waveOffsetLch = 0, waveOffsetRch = 0;
  char shakeList[32768] = "";
  // AviFiles: most recent first.
  char recentFiles[kRecentFileCount][kRecentFileCapacity] = {};
};

extern MirdexSettings mirdexSettings;

// What the main window was when it closed.
struct WindowPlacement {
  int maximized = 0, minimized = 0;
  int left = 0, top = 0, right = 0, bottom = 0;
};

// Every descriptor of the start-up read, in table order, bound to `s` (and to
// ME for UseMMX, UseSSE, PriorityFore, PriorityBack). UseMMX and UseSSE are
// left out when the processor lacks the feature.
std::vector<Setting> MirdexReadTable(MirdexSettings& s);
// The descriptors written at close, in the order they are written.
std::vector<Setting> MirdexWriteTable(MirdexSettings& s, WindowPlacement& placement);

// Resets `s` to the defaults and reads the settings file.
void ReadMirdexSettings(MirdexSettings& s);
// Writes everything in one batch; false when the file could not be written.
bool WriteMirdexSettings(MirdexSettings& s, const WindowPlacement& placement);

// Reads only the recent-file list (the AviFiles section).
void ReadRecentFiles(MirdexSettings& s);
// Puts `path` first; an existing entry moves up, the eleventh drops out.
void AddRecentFile(MirdexSettings& s, const std::string& path);

// Where the saved rectangle puts a window of the current size: the size is
// taken from it only when right > left and bottom > top.
struct RestoredRect {
  int left, top, width, height;
};
RestoredRect RestoreWindowRect(const MirdexSettings& s, int currentWidth, int currentHeight);

// Per-file settings: the section is the full path of the AVI file.
struct PerFileSettings {
  uint32_t frameNo = 0;
  int32_t frameZero = 0;
  int32_t rangeStart = -1, rangeEnd = -1;
};
void ReadPerFileSettings(const std::string& aviPath, PerFileSettings* p);
bool WritePerFileSettings(const std::string& aviPath, const PerFileSettings& p);
