// What a dialog's frame-range panel yields and the driver turns into the
// first and last global frame of a run.
#pragma once
#include <cstdint>

struct FrameRangeChoice {
  // The panel reads the first five fields: the id of the parent's control
  // whose top-left it takes (0: stays), the kind, and the hide flags of its
  // three buttons (shown frame, selection, all frames).
  int32_t placeholderId = 0;
  int32_t kind = 0;  // 0 all frames, 1 the selection, 2 the shown frame
  int32_t hideShown = 0, hideSelection = 0, hideAll = 0;
  int32_t toEnd = 0;  // kind 2: from the shown frame to the last
};
