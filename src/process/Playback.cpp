#include "process/Playback.h"

#include <cstdlib>

#include "command/CommandIds.h"
#include "frame/Capture.h"
#include "frame/ViewKernels.h"

bool PlaybackSettings::Choose(int command) {
  int n = command - kCmdStepPlay;
  kind = n < 2 ? kPlain : kDifference;
  twoFrames = n >= 4;
  return n % 2 == 0;
}

int PlaybackOperation::Command() const {
  return forward_ ? kCmdPlayForward : kCmdPlayBackward;
}

void PlaybackOperation::SetDirection(FrameOperationDriver& d) {
  const int64_t magnitude = settings_.twoFrames ? 2 : 1;
  d.step = forward_ ? magnitude : -magnitude;
  d.to = forward_ ? d.LastFrame() : 0;
  d.runningCommand = Command();
}

void PlaybackOperation::AdjustRange(FrameOperationDriver& d) {
  SetDirection(d);
  d.stopWithoutAsking = 1;
}

// Two frame slots taken in turn, so that the frame before stays for the
// difference picture.
int PlaybackOperation::Slot(bool other) const {
  return ((passes_ & 1) != 0) != other ? kWorkFrame9 : kWorkFrame8;
}

bool PlaybackOperation::Read(FrameOperationDriver& d) {
  FrameReader& r = d.shown.reader;
  if (d.done == 0) passes_ = 0;
  ++passes_;
  if (d.done == 0 && settings_.kind == PlaybackSettings::kDifference) {
    // The first picture is a difference too: against the frame one step back.
    int64_t before = d.frame - d.step;
    if (before < 0 || before > d.LastFrame()) before = d.frame;
    r.ReadFrame(nullptr, r.Slot(Slot(true)), nullptr, static_cast<uint32_t>(before),
                RF_KEEP_POSITION | RF_NO_SCROLL | RF_NO_RECORD | RF_NO_SWITCH | RF_KEEP_CORRECTION);
  }
  // The frame read becomes the shown frame (number box, time code, scroll bar).
  return r.ReadFrame(nullptr, r.Slot(Slot(false)), nullptr, static_cast<uint32_t>(d.frame), 0);
}

void PlaybackOperation::Display(FrameOperationDriver& d) {
  FrameReader& r = d.shown.reader;
  const uint8_t* picture = r.Slot(Slot(false));
  unsigned flags = 2 | DF_SHOWN;
  if (settings_.kind == PlaybackSettings::kDifference) {
    uint8_t* diff = r.Slot(kCompareAdjusted);
    AbsDifference(diff, picture, r.Slot(Slot(true)), r.framePool.geometry.frameBytes);
    picture = diff;
    flags |= DF_DIFFERENCE;
  }
  d.shown.view.DrawFrame(picture, flags);
  d.shown.view.PaintView(false);
}

bool PlaybackOperation::AfterPump(FrameOperationDriver& d) {
  bool follow = !forward_;
  if (d.runState == 4 || d.runState == 5) {
    // A playback command or Space during the run: new direction and kind.
    forward_ = d.runState == 5;
    d.runState = 1;
    SetDirection(d);
    follow = true;
  }
  const int64_t current = d.shown.reader.currentFrame;
  if (current != d.frame) follow = true;
  if (!follow) return true;
  d.frame = current;
  if (d.frame + d.step < 0 || d.frame + d.step > d.LastFrame()) return false;
  // The loop's count follows the frame the run goes on from.
  d.total = d.done + std::llabs(d.to - d.frame);
  return true;
}
