#include "process/FrameOperation.h"

#include <algorithm>
#include <cstdlib>

#include "command/CommandIds.h"
#include "command/Dispatcher.h"
#include "frame/Capture.h"
#include "frame/Convert.h"
#include "platform/AppState.h"
#include "platform/Format.h"
#include "platform/Host.h"
#include "platform/Messages.h"
#include "platform/System.h"
#include "process/FrameWriteBack.h"

bool FrameOperation::Read(FrameOperationDriver& d) {
  FrameReader& r = d.shown.reader;
  return r.ReadFrame(nullptr, r.Slot(kAdjustedFrame), nullptr, static_cast<uint32_t>(d.frame), 0);
}

void FrameOperation::Display(FrameOperationDriver& d) {
  d.shown.view.DrawFrame(d.shown.reader.Slot(kAdjustedFrame), 2 | DF_SHOWN);
  d.shown.view.PaintView(false);
}

namespace {
// The program's writer: each frame over its chunk with the owner's codec.
class CodecFrameWriter : public FrameWriter {
 public:
  std::string Write(OpenAviFile* owner, uint32_t globalFrame, uint32_t localFrame, const uint8_t* frame,
                    size_t stride) override {
    return writeBack_.Write(owner, globalFrame, localFrame, frame, stride);
  }
  void Close() override { writeBack_.Close(); }

 private:
  FrameWriteBack writeBack_;
};
}  // namespace

FrameOperationDriver::FrameOperationDriver(ShownCapture& shown)
    : shown(shown), makeWriter([] { return std::make_unique<CodecFrameWriter>(); }) {}
FrameOperationDriver::~FrameOperationDriver() = default;

void FrameOperationDriver::Fail(const std::string& text) {
  if (errorText.empty()) errorText = text.empty() ? std::string(1, '\xFF') : text;
}

int64_t FrameOperationDriver::LastFrame() const {
  return static_cast<int64_t>(shown.table.TotalFrames()) - 1;
}

std::string FrameOperationDriver::ReadFailureText(int64_t globalFrame) const {
  FramePlace place = shown.table.GlobalToLocal(static_cast<uint32_t>(std::max<int64_t>(globalFrame, 0)));
  const OpenAviFile& f = shown.table.pOpenAviList[static_cast<size_t>(place.file)];
  return Fmt("%sからフレーム%ld(%ld)が読み出せません!", f.szFileName.c_str(), static_cast<long>(globalFrame),
             static_cast<long>(place.frame));
}

void FrameOperationDriver::SetUpRange(FrameOperation& op) {
  const int64_t current = shown.reader.currentFrame, last = LastFrame();
  from = to = current;
  step = 1;
  if (const FrameRangeChoice* c = op.RangeChoice()) {
    switch (c->kind) {
      case 0:
        from = 0;
        to = last;
        break;
      case 1: {
        const FrameSelection& s = shown.navigation.selection;
        from = s.start < 0 ? 0 : s.start;
        to = s.end < 0 ? last : s.end;
        break;
      }
      case 2:
        to = c->toEnd ? last : current;
        break;
      default:
        break;
    }
  }
  // A stale selection must not reach past the frames there are.
  from = std::clamp<int64_t>(from, 0, last);
  to = std::clamp<int64_t>(to, 0, last);
  if (to < from) std::swap(from, to);
}

void FrameOperationDriver::SyncAfterPump() {
  if (ME.fAbort) {
    abortRequested = 1;
    runState = 0;
  }
  // The power-off check box may change at any time during a run.
  if (ME.nPowerOffAfter >= 1)
    shutdownAfterRun = 1;
  else if (shutdownAfterRun == 1)
    shutdownAfterRun = -2;
}

void FrameOperationDriver::ShowProgress() {
  if (done == 0) {
    lastPercent_ = lastH_ = lastM_ = lastS_ = -1;
  } else {
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - startTick_)
            .count();
    int64_t elapsed = (ms + 999) / 1000;
    int64_t remaining = elapsed * (total - done) / (done + 1);
    long percent = static_cast<long>((done + 1) * 100 / (total + 1));
    long h = static_cast<long>(remaining / 3600), m = static_cast<long>(remaining % 3600 / 60),
         s = static_cast<long>(remaining % 60);
    if (percent != lastPercent_ || h != lastH_ || m != lastM_ || s != lastS_) {
      lastPercent_ = percent;
      lastH_ = h;
      lastM_ = m;
      lastS_ = s;
      CurrentHost().SetTitleSuffix(
          Fmt(" (%s中 %3ld%% 残り時間 %02ld:%02ld:%02ld)", opName.c_str(), percent, h, m, s));
      ++progressWrites;
    }
  }
  if (shutdownAfterRun == -1) {
    shutdownAfterRun = -2;
    if (enablePowerOffChoice) enablePowerOffChoice(true);
  }
}

bool FrameOperationDriver::WriteBack() {
  OpenAviTable& t = shown.table;
  FrameReader& r = shown.reader;
  FramePlace place = t.GlobalToLocal(static_cast<uint32_t>(frame));
  t.SelectOpenAvi(place.file);
  OpenAviFile* owner = &t.pOpenAviList[static_cast<size_t>(place.file)];
  const char* name = owner->szFileName.c_str();
  if (!owner->fAllKeyFrames) {
    Fail(Fmt("%sにはキーフレーム以外のフレームがあるので上書きできません!", name));
    return false;
  }
  if (owner->fCodecFailed) {
    Fail(Fmt("%sはビデオコーデックが開けないので上書きできません!", name));
    return false;
  }
  // The writer works on the file as stored: through the deletion view the
  // frame sits further on in set 0.
  uint32_t local = place.frame;
  if (owner->pCurrentSet == &owner->sets[1] && local < owner->pFrameOffset.size())
    local += static_cast<uint32_t>(owner->pFrameOffset[local]);
  const FrameGeometry& g = r.framePool.geometry;
  const uint8_t* pixels = r.Slot(kAdjustedFrame);
  if (!r.mixedFields) {
    SplitFields(r.Slot(kWorkFrame9), pixels, g.height, g.stride, FieldDirection::Join, false);
    pixels = r.Slot(kWorkFrame9);
  }
  if (!writer_ && makeWriter) writer_ = makeWriter();
  if (!writer_) {
    Fail(Fmt("%sはビデオコーデックが開けないので上書きできません!", name));
    return false;
  }
  std::string error = writer_->Write(owner, static_cast<uint32_t>(frame), local, pixels, g.stride);
  if (!error.empty()) {
    Fail(error);
    return false;
  }
  if (firstWritten_ < 0) firstWritten_ = frame;
  lastWritten_ = frame;
  return true;
}

int FrameOperationDriver::Run(FrameOperation& op) {
  // One run at a time, and none while another long loop holds the program.
  if (shown.table.nOpenAvi <= 0 || runningCommand != 0 || ME.fBusy || !shown.reader.framePool.block) return 0;
  Host& host = CurrentHost();
  const bool playback = op.IsPlayback();
  ++ME.fBusy;
  if (playback) ME.fPlaying = 1;
  // Playback lets the stepping keys through by itself (ME.fPlaying).
  host.PushBusyState({kCmdPowerOffAfter, kCmdNotShow});
  runningCommand = op.Command();
  forcedMixed_ = op.NeedsMixedFields();
  if (forcedMixed_) {
    host.EnableCommand(kCmdMixField, false);
    if (!shown.reader.mixedFields) {
      shown.reader.mixedFields = true;
      host.SetCheck(kCmdMixField, true, false);
    }
  }
  opName = op.Name();
  errorText.clear();
  firstWritten_ = lastWritten_ = -1;
  abortRequested = 1;
  processed = false;
  int result = 0;

  if (op.SetUp(*this) && errorText.empty()) {
    host.SetTitleSuffix(Fmt(" (%s中)", opName.c_str()));
    stopWithoutAsking = playback ? 1 : 0;
    SetUpRange(op);
    op.AdjustRange(*this);
    op.LogStart(*this);
    Status(0, "%s実行中 ESC:中止", opName.c_str());
    SetAbortConfirmation(!stopWithoutAsking);
    ME.fAbort = 0;
    abortRequested = 0;
    runState = 1;
    shutdownAfterRun = -1;
    startTick_ = std::chrono::steady_clock::now();
    total = std::llabs(to - from);
    FrameReader& r = shown.reader;
    if (!r.ReadFrame(nullptr, r.Slot(kCurrentFrame), nullptr, static_cast<uint32_t>(from), 0x173))
      Fail(ReadFailureText(from));
    frame = from;
    done = 0;
    while (errorText.empty() && done <= total) {
      processed = false;
      if (!op.Read(*this)) {
        Fail(ReadFailureText(frame));
        break;
      }
      if (!op.Process(*this)) {
        Fail("");
        break;
      }
      if (processed && !abortRequested && !WriteBack()) break;
      if (!suppressDisplay) {
        op.Display(*this);
        // Showing a frame also moves the waveform strip to it.
        if (shown.Window()) shown.Window()->DrawWaveForm(frame);
      }
      host.Pump();
      SyncAfterPump();
      if (runState == 0) break;
      if (!op.AfterPump(*this)) break;
      if (op.ShowsProgress()) ShowProgress();
      done += std::llabs(step);
      frame += step;
    }
  }
  EndRun(op, &result);
  return result;
}

void FrameOperationDriver::EndRun(FrameOperation& op, int* result) {
  Host& host = CurrentHost();
  runState = 0;
  // The writer exists from the first frame the run tried to write back.
  const bool wroteInPlace = writer_ != nullptr;
  if (writer_) {
    writer_->Close();
    writer_.reset();
  }
  op.End(*this);
  SyncAfterPump();
  if (!errorText.empty()) {
    // Whoever finds the file changed must know how far: each frame was
    // written whole or not at all.
    if (errorText[0] != '\xFF' && wroteInPlace)
      errorText += lastWritten_ < 0 ? std::string("\r書き込んだフレームはありません.")
                                    : Fmt("\rフレーム%ld～%ldを書き込みました.",
                                          static_cast<long>(firstWritten_), static_cast<long>(lastWritten_));
    if (errorText[0] != '\xFF') {
      if (LogIsOpen()) Log("[%s] %s エラー:%s\r\n", TimeStamp().c_str(), opName.c_str(), errorText.c_str());
      Status(0, "%sエラー:%s", opName.c_str(), errorText.c_str());
      // An unattended run that will power off only logs its error.
      if (!(shutdownAfterRun > 0 && LogIsOpen())) {
        host.MessageBox(errorText, ME.programName, MB_OK | MB_ICONSTOP);
        shutdownAfterRun = 0;
      }
    }
  } else {
    Status(0, "%s終了", opName.c_str());
    *result = abortRequested == 0 ? 1 : 0;
  }
  if (op.ShowsCurrentFrameAtEnd())
    shown.reader.ShowCurrent(shown.reader.currentFrame);
  else
    shown.view.PaintView(false);

  host.SetTitleSuffix("");
  runningCommand = 0;
  if (enablePowerOffChoice) enablePowerOffChoice(false);
  if (forcedMixed_) host.EnableCommand(kCmdMixField, true);
  forcedMixed_ = false;
  host.PopBusyState();
  SetAbortConfirmation(true);
  ME.fAbort = 0;
  ME.fPlaying = 0;
  --ME.fBusy;

  if (shutdownAfterRun > 0) {
    if (!PowerOff()) Message(MB_OK | MB_ICONSTOP, "シャットダウンに失敗しました!");
  }
  // The check belongs to the run it was set in.
  if (shutdownAfterRun > 0 || ME.nPowerOffAfter >= 1) {
    ME.nPowerOffAfter = -2;
    host.SetCheck(kCmdPowerOffAfter, false, false);
  }
  shutdownAfterRun = 0;
}
