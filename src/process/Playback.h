// Frame-stepping playback as an operation of the driver: as fast as frames
// are read and shown, plain or as difference pictures, and steerable while
// it runs (direction requests, the user moving the shown frame).
#pragma once
#include "process/FrameOperation.h"

// What the playback commands set; it stays between playbacks.
struct PlaybackSettings {
  enum Kind { kDifference = 2, kPlain = 4 };
  int kind = kPlain;
  bool twoFrames = false;  // difference against the frame two back, stepping by 2
  // Commands 41000..41005: the kind they choose; true for the forward ones.
  bool Choose(int command);
};

class PlaybackOperation : public FrameOperation {
 public:
  PlaybackOperation(const PlaybackSettings& settings, bool forward)
      : settings_(settings), forward_(forward) {}

  int Command() const override;
  std::string Name() const override { return "ビデオコマ送り再生"; }
  bool ShowsProgress() const override { return false; }
  bool IsPlayback() const override { return true; }
  void AdjustRange(FrameOperationDriver& d) override;
  bool Read(FrameOperationDriver& d) override;
  void Display(FrameOperationDriver& d) override;
  bool AfterPump(FrameOperationDriver& d) override;

 private:
  void SetDirection(FrameOperationDriver& d);
  int Slot(bool other) const;

  const PlaybackSettings& settings_;
  bool forward_;
  int64_t passes_ = 0;
};
