// The Selection/Mark menu of the main window (frame selection, marks,
// deletion ranges, mark files), the index commands of the video menu, and
// the marks that follow each file into and out of the settings file.
#pragma once
#include <cstdint>
#include <string>

class MainWindow;

void RegisterMarkCommands(MainWindow* window);
void UnregisterMarkCommands(MainWindow* window);
// Rebuilds the captions and the mark and range entries of the menu.
void UpdateSelectionMenu();
// After a file was opened alone whose index was built by scanning: offers to
// save it as a new file.
void OfferToSaveBuiltIndex();

// What the frame comparison hands over to edit one file's index: cbSize must
// be 36; the frame is counted in that file.
struct FrameCompareRecord {
  uint32_t cbSize = 36;
  std::string fileName;
  uint32_t frame = 0;
};
// Commands 41007..41009 for a comparison request (no reopen afterwards).
bool EditIndexForComparison(int commandId, const FrameCompareRecord& request);
