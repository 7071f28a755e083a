#include "process/ReferenceCheck.h"

#include "command/CommandIds.h"
#include "frame/Capture.h"
#include "platform/AppState.h"
#include "platform/Format.h"
#include "platform/Host.h"
#include "platform/Messages.h"
#include "process/FrameOperation.h"

namespace {

constexpr unsigned kHeadOnlyScan = RF_HEAD_ONLY | RF_NO_TITLE | RF_KEEP_CORRECTION | RF_NO_SHIFT_DISPLAY |
                                   RF_NO_SWITCH | RF_KEEP_POSITION | RF_NO_SCROLL;

// Whether one of the lines after the header is `name`, in full.
bool HasLine(const std::string& text, size_t header, const std::string& name) {
  size_t at = header;
  for (;;) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    if (text.compare(at, end - at, name) == 0) return true;
    if (end == text.size()) return false;
    at = end + 1;
  }
}

}  // namespace

bool CanCheckReferenceFiles(const ShownCapture& shown) {
  const OpenAviFile* avi = shown.table.pCurrentOpenAvi;
  return shown.table.nOpenAvi > 0 && avi && avi->frameInfo.refKind != 0 && shown.reader.framePool.block;
}

std::string CheckReferenceFiles(FrameOperationDriver& driver) {
  ShownCapture& shown = driver.shown;
  FrameReader& reader = shown.reader;
  OpenAviFile* avi = shown.table.pCurrentOpenAvi;
  if (!CanCheckReferenceFiles(shown) || driver.Running() || ME.fBusy) return {};
  Host& host = CurrentHost();
  const std::string file = avi->szFileName;
  std::string text = Fmt("%sの参照ファイル\n", file.c_str());
  const size_t header = text.size();
  std::string last;
  unsigned long shownPercent = 999;

  ++ME.fBusy;
  host.PushBusyState({});
  driver.runningCommand = kCmdCheckReferenceFiles;
  driver.abortRequested = 0;
  ME.fAbort = 0;
  // The record belongs to the frame on screen; the check only borrows it.
  const FrameReadRecord shownRecord = avi->frameInfo;
  const int shownReadError = avi->fReadError;
  // Every frame as stored: frames inside deletion ranges need their files too.
  const uint32_t count = avi->sets[0].FrameMax;
  for (uint32_t i = 0; i < count; ++i) {
    AviStreamSet* view = avi->pCurrentSet;
    avi->pCurrentSet = &avi->sets[0];
    bool read = reader.ReadFrame(avi, reader.Slot(kCompareFrame), nullptr, i, kHeadOnlyScan);
    avi->pCurrentSet = view;
    if (!read) {
      Message(MB_OK | MB_ICONSTOP, nullptr, "%sからフレーム%ldが読み出せません!", file.c_str(),
              static_cast<long>(i));
      text.clear();
      break;
    }
    // Runs of one name are the rule: only a change of name needs the search.
    const std::string& name = avi->frameInfo.refFileName;
    if (name != last) {
      last = name;
      if (!HasLine(text, header, name)) text += "\n" + name;
    }
    unsigned long percent =
        static_cast<unsigned long>((static_cast<uint64_t>(i) + 1) * 100 / static_cast<uint64_t>(count));
    if (percent != shownPercent) {
      shownPercent = percent;
      Status(0, "%sの参照ファイル調査中(%3lu%%) ESC:中止", file.c_str(), percent);
      host.SetTitleSuffix(Fmt(" (%sの参照ファイル調査中 %3lu%%)", file.c_str(), percent));
    }
    host.Pump();
    if (ME.fAbort) {
      driver.abortRequested = 1;
      break;
    }
  }
  avi->frameInfo = shownRecord;
  avi->fReadError = shownReadError;
  host.SetTitleSuffix("");
  if (driver.abortRequested || text.empty())
    text.clear();
  else
    host.MessageBox(text, ME.programName, MB_OK);

  driver.runningCommand = 0;
  driver.abortRequested = 0;
  host.PopBusyState();
  ME.fAbort = 0;
  --ME.fBusy;
  return text;
}
