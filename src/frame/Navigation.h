// Moving through the frames: steps and jumps, the frame-number box in
// absolute or relative numbering, the time code, the search for the next null
// frame, and recounting after the file set changed.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

// Relative numbering base (0: off) and the last non-zero base.
extern uint32_t gRelativeBase, gLastRelativeBase;
// Total frames over the open files (current sets).
extern uint32_t gTotalFrames;

struct NavigationUi {
  std::function<void(uint32_t total)> setScrollRange;  // 0 .. total−1, disabled when total <= 1
  std::function<void(const std::string& text)> setStatic30006;
  std::function<void(const std::string& text)> setStatic30007;
  std::function<void(const std::string& text)> setFrameNumberBox;
  std::function<void()> rebuildMarkMenu;
};
extern NavigationUi gNavigationUi;

// "%u" of N, or "%d" of N − B while relative numbering is on.
std::string FrameNumberText(uint32_t frame);
void SetFrameNumberText(uint32_t frame);
// Time code of frame at the current file's rate into status pane 1.
void ShowFrameTimeCode(uint32_t frame);
// Installs the frame reader's window hooks that belong to navigation.
void InstallNavigationHooks();

// Steps (forward when delta > 0); false when nothing moved.
bool StepFrames(int delta);
bool GoToFirstFrame();
bool GoToLastFrame();
// Command number of a step key (50600..50610) to its move; false when none.
bool StepCommand(int id);
// The number typed into the box (plus B when relative); shown when it differs.
bool GoToTypedFrame(const std::string& text);
// Command 41011.
bool GoToNextNullFrame();
// Commands 41012..41014.
void RelativeNumberingCommand(int id);
// After a change of the file set or the deletion ranges.
void RecountFrames(uint32_t frameToShow);
