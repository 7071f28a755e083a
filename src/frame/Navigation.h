// Moving through the frames: steps and jumps, the frame-number box in
// absolute or relative numbering, the time code, the search for the next null
// frame, and recounting after the file set changed.
#pragma once
#include <cstdint>
#include <string>

class OpenAviTable;

// The frame selection in global numbers of the current view; -1 unset.
struct FrameSelection {
  int64_t start = -1, end = -1;
  int64_t EffectiveStart() const { return start < 0 ? 0 : start; }
  int64_t EffectiveEnd(uint32_t total) const { return end < 0 ? static_cast<int64_t>(total) - 1 : end; }
  bool All() const { return start < 0 && end < 0; }
};
class FrameReader;
class ViewState;

// What moving through the frames tells the window; every call may be ignored.
class NavigationEvents {
 public:
  virtual ~NavigationEvents() = default;
  // 0 .. total−1, disabled when total <= 1.
  virtual void SetScrollRange(uint32_t total) { (void)total; }
  virtual void SetStatic30006(const std::string& text) { (void)text; }
  virtual void SetStatic30007(const std::string& text) { (void)text; }
  virtual void SetFrameNumberBox(const std::string& text) { (void)text; }
  virtual void RebuildMarkMenu() {}
};

class Navigation {
 public:
  Navigation(OpenAviTable& table, FrameReader& reader, ViewState& view)
      : table(table), reader(reader), view(view) {}
  Navigation(const Navigation&) = delete;
  Navigation& operator=(const Navigation&) = delete;

  OpenAviTable& table;
  FrameReader& reader;
  ViewState& view;
  NavigationEvents* events = nullptr;
  // Relative numbering base (0: off) and the last non-zero base.
  uint32_t relativeBase = 0, lastRelativeBase = 0;
  // Program-wide: the operations and the writer work on it.
  FrameSelection selection;

  // "%u" of N, or "%d" of N − B while relative numbering is on.
  std::string FrameNumberText(uint32_t frame) const;
  void SetFrameNumberText(uint32_t frame);
  // Time code of frame at the current file's rate into status pane 1.
  void ShowFrameTimeCode(uint32_t frame) const;

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
  // After a change of the file set or the deletion ranges; a selection end
  // beyond the new total is unset.
  void RecountFrames(uint32_t frameToShow);

 private:
  void ShowRelativeState();
};
