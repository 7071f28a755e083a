#include "frame/Navigation.h"

#include <cerrno>
#include <cstdlib>

#include "avi/OpenAvi.h"
#include "frame/FrameReader.h"
#include "frame/ViewState.h"
#include "platform/Format.h"
#include "platform/Messages.h"

uint32_t gRelativeBase = 0, gLastRelativeBase = 0;
uint32_t gTotalFrames = 0;
NavigationUi gNavigationUi;

std::string FrameNumberText(uint32_t frame) {
  if (gRelativeBase > 0)
    return Fmt("%d", static_cast<int>(static_cast<int64_t>(frame) - static_cast<int64_t>(gRelativeBase)));
  return Fmt("%u", frame);
}

void SetFrameNumberText(uint32_t frame) {
  if (gNavigationUi.setFrameNumberBox) gNavigationUi.setFrameNumberBox(FrameNumberText(frame));
}

void ShowFrameTimeCode(uint32_t frame) {
  double rate = 0;
  if (pCurrentOpenAvi) {
    const AVIStreamHeader& h = pCurrentOpenAvi->Set().strhVideo;
    if (h.dwScale) rate = static_cast<double>(h.dwRate) / h.dwScale;
  }
  if (!(rate > 0)) rate = EffectiveFrameRate();
  Status(1, "%s", TimeCode(frame, rate).c_str());
}

void InstallNavigationHooks() {
  gFrameReaderUi.setFrameNumberText = [](uint32_t f) { SetFrameNumberText(f); };
  gFrameReaderUi.showTimeCode = [](uint32_t f) { ShowFrameTimeCode(f); };
}

bool StepFrames(int delta) {
  uint32_t t = TotalFrames(), n = gCurrentFrame;
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
  ShowCurrent(n);
  return true;
}

bool GoToFirstFrame() {
  if (TotalFrames() == 0 || gCurrentFrame == 0) return false;
  ShowCurrent(0);
  return true;
}

bool GoToLastFrame() {
  uint32_t t = TotalFrames();
  if (t == 0 || gCurrentFrame == t - 1) return false;
  ShowCurrent(t - 1);
  return true;
}

bool StepCommand(int id) {
  switch (id) {
    case 50600:
      return StepFrames(1);
    case 50601:
      return StepFrames(30);
    case 50602:
      return StepFrames(150);
    case 50603:
      return StepFrames(300);
    case 50607:
      return StepFrames(-1);
    case 50608:
      return StepFrames(-30);
    case 50609:
      return StepFrames(-150);
    case 50610:
      return StepFrames(-300);
    case 50606:
      return GoToFirstFrame();
    case 50604:
      return GoToLastFrame();
  }
  return false;
}

bool GoToTypedFrame(const std::string& text) {
  uint32_t t = TotalFrames();
  if (t == 0) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str() || errno == ERANGE) return false;
  while (*end == ' ') ++end;
  if (*end) return false;
  if (gRelativeBase > 0) v += gRelativeBase;
  if (v < 0 || v >= static_cast<long long>(t)) {
    SetFrameNumberText(gCurrentFrame);  // a number outside the frames is not taken
    return false;
  }
  if (static_cast<uint32_t>(v) == gCurrentFrame) return false;
  ShowCurrent(static_cast<uint32_t>(v));
  return true;
}

bool GoToNextNullFrame() {
  if (nOpenAvi <= 0) return false;
  uint32_t base = 0;
  for (int i = 0; i < nOpenAvi; ++i) {
    const AviStreamSet& s = pOpenAviList[static_cast<size_t>(i)].Set();
    uint32_t from = gCurrentFrame + 1 > base ? gCurrentFrame + 1 - base : 0;
    for (uint32_t f = from; f < s.FrameMax; ++f) {
      if (IndexIsNull(s.pFrameIndex[f])) {
        ShowCurrent(base + f);
        return true;
      }
    }
    base += s.FrameMax;
  }
  Status(0, "%s", "ヌルフレームはこの先にありません.");
  return false;
}

namespace {
void ShowRelativeState() {
  if (gNavigationUi.setStatic30007) gNavigationUi.setStatic30007(gRelativeBase > 0 ? "＋" : "");
  SetFrameNumberText(gCurrentFrame);
  if (gNavigationUi.rebuildMarkMenu) gNavigationUi.rebuildMarkMenu();
}
}  // namespace

void RelativeNumberingCommand(int id) {
  if (id == 41012)
    gRelativeBase = gCurrentFrame;
  else if (id == 41013)
    gRelativeBase = 0;
  else if (id == 41014)
    gRelativeBase = gLastRelativeBase;
  if (gRelativeBase > 0) gLastRelativeBase = gRelativeBase;
  ShowRelativeState();
}

void RecountFrames(uint32_t frameToShow) {
  ForgetFrameReaders();
  uint32_t t = TotalFrames();
  gTotalFrames = t;
  if (gNavigationUi.setScrollRange) gNavigationUi.setScrollRange(t);
  gView.sx = gView.sy = 0;
  if (t > 0 && ViewHasPicture()) {
    CenterOn(0, 0);
    ClampScroll();
  }
  if (gNavigationUi.setStatic30006)
    gNavigationUi.setStatic30006(t > 0 ? Fmt("%ld", static_cast<long>(t) - 1) : std::string());
  if (gRelativeBase > t) {
    gRelativeBase = 0;
    ShowRelativeState();
  }
  if (t == 0) {
    gCurrentFrame = gPreviousFrame = 0;
    if (gNavigationUi.setFrameNumberBox) gNavigationUi.setFrameNumberBox("");
    PaintView(true);
    return;
  }
  if (frameToShow > t - 1) frameToShow = t - 1;
  ShowCurrent(frameToShow);
}
