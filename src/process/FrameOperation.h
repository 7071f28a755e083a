// The driver of every multi-frame operation: the range, the loop of read,
// process, write-back and display, progress in the title, the status texts,
// the operation log, Esc, the first error, the end of run and power-off
// after it. An operation supplies only its stages.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "process/FrameRange.h"

class ShownCapture;
struct OpenAviFile;
class FrameOperationDriver;

// Writes a processed frame over its chunk in the open file (FrameWriteBack
// with the file's own codec in the program; tests give their own).
class FrameWriter {
 public:
  virtual ~FrameWriter() = default;
  // "" when written, else the error text.
  virtual std::string Write(OpenAviFile* owner, uint32_t globalFrame, uint32_t localFrame,
                            const uint8_t* frame, size_t stride) = 0;
  virtual void Close() = 0;
};

// The stages of one operation. The driver calls them in the order of a run;
// each may leave errorText set (the first text wins) to end the run.
class FrameOperation {
 public:
  virtual ~FrameOperation() = default;
  // The command number that names the operation (50400, 41020, ...).
  virtual int Command() const = 0;
  // The label of title, status line and log.
  virtual std::string Name() const = 0;
  // Null: the shown frame is the whole range.
  virtual const FrameRangeChoice* RangeChoice() const { return nullptr; }
  // The operation needs interleaved rows: the mixed-fields display is forced
  // on and its command disabled for the run.
  virtual bool NeedsMixedFields() const { return false; }
  virtual bool ShowsProgress() const { return true; }
  // Playback keeps the stepping keys live and stops on Esc without a question.
  virtual bool IsPlayback() const { return false; }
  // The end of the run reads and shows the current frame again (with its
  // field shift) instead of only repainting what the loop left in the view.
  virtual bool ShowsCurrentFrameAtEnd() const { return IsPlayback(); }
  // Before the range is known (dialogs, buffers). False ends the run; a
  // cancel leaves errorText "\xFF" (CancelRun).
  virtual bool SetUp(FrameOperationDriver& d) {
    (void)d;
    return true;
  }
  // After the range was chosen: may change from, to and step.
  virtual void AdjustRange(FrameOperationDriver& d) { (void)d; }
  // The start line of the operation log; none by default.
  virtual void LogStart(FrameOperationDriver& d) { (void)d; }
  // Reads d.frame; false ends the run (the driver names the frame when the
  // stage left no text). Default: the frame into the adjusted slot.
  virtual bool Read(FrameOperationDriver& d);
  // The operation's work on the frame; sets d.processed to write it back.
  virtual bool Process(FrameOperationDriver& d) {
    (void)d;
    return true;
  }
  // Unless display is suppressed. Default: the adjusted frame.
  virtual void Display(FrameOperationDriver& d);
  // After the pump; false ends the run (playback follows the user here).
  virtual bool AfterPump(FrameOperationDriver& d) {
    (void)d;
    return true;
  }
  // End of run, before the reports (per-run buffers, second files).
  virtual void End(FrameOperationDriver& d) { (void)d; }
};

class FrameOperationDriver {
 public:
  explicit FrameOperationDriver(ShownCapture& shown);
  FrameOperationDriver(const FrameOperationDriver&) = delete;
  FrameOperationDriver& operator=(const FrameOperationDriver&) = delete;
  ~FrameOperationDriver();

  ShownCapture& shown;
  // Makes the in-place writer when a run first writes a frame back.
  std::function<std::unique_ptr<FrameWriter>()> makeWriter;
  // Enables the Options window's "終了後シャットダウン" once a run shows its
  // progress, and disables it at the end of the run; may be empty.
  std::function<void(bool enable)> enablePowerOffChoice;
  // "複数フレーム処理中に画面表示を停止"; re-read after every pump.
  bool suppressDisplay = false;

  // Run state that the window's commands read and change between frames.
  int runningCommand = 0;  // 0 idle
  int runState = 0;        // 1 runs, 0 stop; playback requests 4 backward, 5 forward
  int abortRequested = 0;
  int stopWithoutAsking = 0;
  int shutdownAfterRun = 0;  // -1 at start, -2 once progress showed, 1 power off at the end

  // The run in progress.
  std::string opName;
  std::string errorText;  // first byte 0xFF: reported or cancelled, nothing shown
  int64_t from = 0, to = 0, step = 1, done = 0, frame = 0, total = 0;
  bool processed = false;
  // Title suffixes with a percentage written in this driver's life.
  uint64_t progressWrites = 0;

  bool Running() const { return runningCommand != 0; }
  // 1 when the run ended without an error and without a stop; a second run
  // while one goes on returns 0 at once.
  int Run(FrameOperation& op);
  // The first error wins; later ones are dropped.
  void Fail(const std::string& text);
  void CancelRun() { Fail(std::string(1, '\xFF')); }
  // The stop command: sets the stop unless the question is answered no.
  void Stop();
  // The last frame over the current sets (−1 when none).
  int64_t LastFrame() const;
  // "%sからフレーム%ld(%ld)が読み出せません!" for a global frame.
  std::string ReadFailureText(int64_t globalFrame) const;

 private:
  void SetUpRange(FrameOperation& op);
  void ShowProgress();
  bool WriteBack();
  void SyncAfterPump();
  void EndRun(FrameOperation& op, int* result);

  std::unique_ptr<FrameWriter> writer_;
  std::chrono::steady_clock::time_point startTick_;
  long lastPercent_ = -1, lastH_ = -1, lastM_ = -1, lastS_ = -1;
  bool forcedMixed_ = false;
  // The frames written back in place by this run (-1: none), for the report
  // of a run that ends with an error.
  int64_t firstWritten_ = -1, lastWritten_ = -1;
};
