#include "frame/Navigation.h"

#include <cerrno>
#include <cstdlib>

#include "command/CommandIds.h"
#include "avi/OpenAvi.h"
#include "frame/FrameReader.h"
#include "frame/ViewState.h"
#include "platform/Format.h"
#include "platform/Messages.h"

std::string Navigation::FrameNumberText(uint32_t frame) const {
  if (relativeBase > 0)
    return Fmt("%d", static_cast<int>(static_cast<int64_t>(frame) - static_cast<int64_t>(relativeBase)));
  return Fmt("%u", frame);
}

void Navigation::SetFrameNumberText(uint32_t frame) {
  if (events) events->SetFrameNumberBox(FrameNumberText(frame));
}

void Navigation::ShowFrameTimeCode(uint32_t frame) const {
  double rate = 0;
  if (table.pCurrentOpenAvi) {
    const AVIStreamHeader& h = table.pCurrentOpenAvi->Set().strhVideo;
    if (h.dwScale) rate = static_cast<double>(h.dwRate) / h.dwScale;
  }
  if (!(rate > 0)) rate = table.EffectiveFrameRate();
  Status(1, "%s", TimeCode(frame, rate).c_str());
}

bool Navigation::StepFrames(int delta) {
  uint32_t t = table.TotalFrames(), n = reader.currentFrame;
  if (t == 0 || delta == 0) return false;
  if (delta > 0) {
    if (static_cast<uint64_t>(n) + 1 >= t) return false;
    uint64_t to = static_cast<uint64_t>(n) + static_cast<uint64_t>(delta);
    n = static_cast<uint32_t>(to > t - 1 ? t - 1 : to);
  } else {
    if (n == 0) return false;
    uint32_t back = static_cast<uint32_t>(-static_cast<int64_t>(delta));
    n = back > n ? 0 : n - back;
  }
  reader.ShowCurrent(n);
  return true;
}

bool Navigation::GoToFirstFrame() {
  if (table.TotalFrames() == 0 || reader.currentFrame == 0) return false;
  reader.ShowCurrent(0);
  return true;
}

bool Navigation::GoToLastFrame() {
  uint32_t t = table.TotalFrames();
  if (t == 0 || reader.currentFrame == t - 1) return false;
  reader.ShowCurrent(t - 1);
  return true;
}

bool Navigation::StepCommand(int id) {
  switch (id) {
    case kCmdStepForward1:
      return StepFrames(1);
    case kCmdStepForward30:
      return StepFrames(30);
    case kCmdStepForward150:
      return StepFrames(150);
    case kCmdStepForward300:
      return StepFrames(300);
    case kCmdStepBackward1:
      return StepFrames(-1);
    case kCmdStepBackward30:
      return StepFrames(-30);
    case kCmdStepBackward150:
      return StepFrames(-150);
    case kCmdStepBackward300:
      return StepFrames(-300);
    case kCmdGoToFirstFrame:
      return GoToFirstFrame();
    case kCmdGoToLastFrame:
      return GoToLastFrame();
  }
  return false;
}

bool Navigation::GoToTypedFrame(const std::string& text) {
  uint32_t t = table.TotalFrames();
  if (t == 0) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str() || errno == ERANGE) return false;
  while (*end == ' ') ++end;
  if (*end) return false;
  if (relativeBase > 0) v += relativeBase;
  if (v < 0 || v >= static_cast<long long>(t)) {
    SetFrameNumberText(reader.currentFrame);  // a number outside the frames is not taken
    return false;
  }
  if (static_cast<uint32_t>(v) == reader.currentFrame) return false;
  reader.ShowCurrent(static_cast<uint32_t>(v));
  return true;
}

bool Navigation::GoToNextNullFrame() {
  if (table.nOpenAvi <= 0) return false;
  uint32_t base = 0;
  for (int i = 0; i < table.nOpenAvi; ++i) {
    const AviStreamSet& s = table.pOpenAviList[static_cast<size_t>(i)].Set();
    uint32_t from = reader.currentFrame + 1 > base ? reader.currentFrame + 1 - base : 0;
    for (uint32_t f = from; f < s.FrameMax; ++f) {
      if (IndexIsNull(s.pFrameIndex[f])) {
        reader.ShowCurrent(base + f);
        return true;
      }
    }
    base += s.FrameMax;
  }
  Status(0, "%s", "ヌルフレームはこの先にありません.");
  return false;
}

void Navigation::ShowRelativeState() {
  if (events) events->SetStatic30007(relativeBase > 0 ? "＋" : "");
  SetFrameNumberText(reader.currentFrame);
  if (events) events->RebuildMarkMenu();
}

void Navigation::RelativeNumberingCommand(int id) {
  if (id == kCmdRelativeFrameSet)
    relativeBase = reader.currentFrame;
  else if (id == kCmdRelativeFrameClear)
    relativeBase = 0;
  else if (id == kCmdRelativeFrameRestore)
    relativeBase = lastRelativeBase;
  if (relativeBase > 0) lastRelativeBase = relativeBase;
  ShowRelativeState();
}

void Navigation::RecountFrames(uint32_t frameToShow) {
  reader.ForgetFrameReaders();
  uint32_t t = table.TotalFrames();
  if (events) events->SetScrollRange(t);
  view.sx = view.sy = 0;
  if (t > 0 && view.ViewHasPicture()) {
    view.CenterOn(0, 0);
    view.ClampScroll();
  }
  if (events) events->SetStatic30006(t > 0 ? Fmt("%ld", static_cast<long>(t) - 1) : std::string());
  bool selectionCut = false;
  for (int64_t* end : {&selection.start, &selection.end})
    if (*end >= static_cast<int64_t>(t)) {
      *end = -1;
      selectionCut = true;
    }
  if (relativeBase > t) {
    relativeBase = 0;
    ShowRelativeState();
  } else if (selectionCut && events) {
    events->RebuildMarkMenu();
  }
  if (t == 0) {
    reader.currentFrame = reader.previousFrame = 0;
    if (events) events->SetFrameNumberBox("");
    view.PaintView(true);
    return;
  }
  if (frameToShow > t - 1) frameToShow = t - 1;
  reader.ShowCurrent(frameToShow);
}
