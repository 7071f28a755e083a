#include "command/Dispatcher.h"

#include <algorithm>
#include <map>

#include "platform/AppState.h"
#include "platform/Host.h"
#include "platform/Messages.h"

const char kAbortQuestion[] = "中止しますか?(Y/N)";

namespace {

struct Entry {
  CommandHandler handler;
  CommandPredicate canRun;
};
struct RangeEntry {
  int first, last;
  Entry entry;
};

std::map<int, Entry>& Singles() {
  static std::map<int, Entry> m;
  return m;
}
std::vector<RangeEntry>& Ranges() {
  static std::vector<RangeEntry> r;
  return r;
}
std::vector<std::vector<int>>& BusyStack() {
  static std::vector<std::vector<int>> s;
  return s;
}
std::function<void()>& RefreshListener() {
  static std::function<void()> f;
  return f;
}
std::function<bool()>& ModalToolCancel() {
  static std::function<bool()> f;
  return f;
}
std::function<int()>& OpenCountProvider() {
  static std::function<int()> f;
  return f;
}
std::string& PendingName() {
  static std::string s;
  return s;
}
bool askBeforeAbort = true;
CommandView* commandView = nullptr;

const Entry* Find(int id) {
  auto it = Singles().find(id);
  if (it != Singles().end()) return &it->second;
  // Later ranges win, so a subsystem can take over part of a range.
  for (auto r = Ranges().rbegin(); r != Ranges().rend(); ++r)
    if (id >= r->first && id <= r->last) return &r->entry;
  return nullptr;
}

bool IsAbortCommand(int id) {
  return id == kCmdEsc || id == kCmdAbortMenu || id == kCmdAbortButton;
}

// What the main window accepts while the reader works or playback runs.
bool AllowedNow(int id) {
  if (IsAbortCommand(id)) return true;
  if (ME.fReading) return false;
  if (ME.fPlaying) {
    static const int playKeys[] = {
        kCmdKeySpace, kCmdShiftSpace, kCmdKeyMultiply, kCmdKeyDivide, kCmdKeyF2, kCmdKeyF3, kCmdKeyF4,
        kCmdCtrlF3, kCmdCtrlF4, kCmdCtrlShiftLeft, kCmdCtrlShiftUp, kCmdCtrlShiftRight, kCmdCtrlShiftDown,
        // The playback commands steer the running playback.
        kCmdKeyF5, kCmdKeyF6, kCmdKeyF7, kCmdKeyF8, kCmdCtrlF7, kCmdCtrlF8, kCmdStepPlay, kCmdStepPlayReverse,
        kCmdStepPlayDiff, kCmdStepPlayDiffReverse, kCmdStepPlayDiff2, kCmdStepPlayDiff2Reverse};
    return std::find(std::begin(playKeys), std::end(playKeys), id) != std::end(playKeys);
  }
  if (!BusyStack().empty()) {
    const std::vector<int>& allowed = BusyStack().back();
    return std::find(allowed.begin(), allowed.end(), id) != allowed.end();
  }
  return true;
}

}  // namespace

void RegisterCommand(int id, CommandHandler handler, CommandPredicate canRun) {
  Singles()[id] = Entry{std::move(handler), std::move(canRun)};
}

void RegisterCommandRange(int first, int last, CommandHandler handler, CommandPredicate canRun) {
  Ranges().push_back(RangeEntry{first, last, Entry{std::move(handler), std::move(canRun)}});
}

void UnregisterCommand(int id) {
  Singles().erase(id);
}

void UnregisterCommandRange(int first, int last) {
  auto& r = Ranges();
  r.erase(std::remove_if(r.begin(), r.end(),
                         [&](const RangeEntry& e) { return e.first == first && e.last == last; }),
          r.end());
}

void ClearCommandRegistry() {
  Singles().clear();
  Ranges().clear();
  BusyStack().clear();
  ModalToolCancel() = nullptr;
  OpenCountProvider() = nullptr;
  PendingName().clear();
  askBeforeAbort = true;
}

bool HasCommandHandler(int id) {
  const Entry* e = Find(id);
  return e && e->handler;
}

bool CanRunCommand(int id) {
  const Entry* e = Find(id);
  if (!e || !e->handler) return false;
  if (!AllowedNow(id)) return false;
  return !e->canRun || e->canRun();
}

int KeyboardAlias(int id) {
  switch (id) {
    case kCmdKeyEnter:
      return kCmdSaveCorrections;
    case kCmdCtrlZ:
      return kCmdUndoCorrection;
    case kCmdCtrlY:
      return kCmdRedoCorrection;
    case kCmdCtrlW:
      return kCmdFitWindow;
    case kCmdAltM:
      return kCmdMixField;
    case kCmdKeyInsert:
    case kCmdShiftInsert:
    case kCmdCtrlInsert:
      return kCmdInsertKeyAction;
    case kCmdAltDelete:
      return kCmdReplaceLineWithAverage;
    // Ctrl+S, D, E, X, A move the cross cursor like Ctrl+keypad 4, 6, 8, 2, 5.
    case kCmdCtrlS:
      return kCmdCtrlNum4;
    case kCmdCtrlD:
      return kCmdCtrlNum6;
    case kCmdCtrlE:
      return kCmdCtrlNum8;
    case kCmdCtrlX:
      return kCmdCtrlNum2;
    case kCmdCtrlA:
      return kCmdCtrlNum5;
  }
  return 0;
}

bool DispatchCommand(int id, CommandSource source) {
  // An alias is re-issued only when nobody handles the key command itself.
  if (int alias = KeyboardAlias(id); alias && !HasCommandHandler(id)) return DispatchCommand(alias, source);
  if (!CanRunCommand(id)) return false;
  // Copy: the handler may re-register itself.
  CommandHandler handler = Find(id)->handler;
  handler(id, source);
  return true;
}

void PushBusyState(std::vector<int> allowed) {
  BusyStack().push_back(std::move(allowed));
  RefreshUi();
}

void PopBusyState() {
  if (BusyStack().empty()) return;
  BusyStack().pop_back();
  RefreshUi();
}

int BusyStateDepth() {
  return static_cast<int>(BusyStack().size());
}

void SetUiRefreshListener(std::function<void()> listener) {
  RefreshListener() = std::move(listener);
}

void RefreshUi() {
  if (RefreshListener()) RefreshListener()();
}

void SetAbortConfirmation(bool ask) {
  askBeforeAbort = ask;
}
void SetModalToolCancel(std::function<bool()> cancel) {
  ModalToolCancel() = std::move(cancel);
}

void AbortCommand() {
  if (ME.fPlaying) {
    // Playback polls the abort flag; Esc ends only the playback.
    ME.fAbort = 1;
    return;
  }
  if (ModalToolCancel() && ModalToolCancel()()) return;
  // The flag belongs to a run: an Esc while nothing runs would otherwise stop
  // the next one before it began.
  if (!ME.fBusy && !ME.fReading && BusyStack().empty()) {
    ME.fMainInactive = 1;
    return;
  }
  if (ME.fBusy && askBeforeAbort) {
    if (Message(MB_YESNO | MB_ICONQUESTION, kAbortQuestion) != IDYES) return;
  }
  ME.fAbort = 1;
  // The busy count stays: the operation lowers it as it stops.
  ME.fMainInactive = 1;
}

void SetPendingOpenName(const std::string& path) {
  PendingName() = path;
}

std::string TakePendingOpenName() {
  std::string s;
  s.swap(PendingName());
  return s;
}

const std::string& PendingOpenName() {
  return PendingName();
}

void SetOpenFileCountProvider(std::function<int()> provider) {
  OpenCountProvider() = std::move(provider);
}

int OpenFileCount() {
  return OpenCountProvider() ? OpenCountProvider()() : 0;
}

void SetCommandView(CommandView* view) {
  commandView = view;
}

bool EnableCommand(int id, bool enable) {
  return commandView && commandView->EnableCommand(id, enable);
}

void SetCheck(int id, bool checked, bool notify) {
  if (commandView) commandView->SetCheck(id, checked, notify);
}

int ToggleCheck(int id, CommandSource sender, int oldValue) {
  return commandView ? commandView->ToggleCheck(id, sender, oldValue) : oldValue;
}

int IsCommandChecked(int id) {
  return commandView ? commandView->IsCommandChecked(id) : -1;
}

void SetItem(int id, const std::string* caption, bool enabled) {
  if (commandView) commandView->SetItem(id, caption, enabled);
}

void ShowSelectionCaptions(long start, long end, long lastFrame) {
  if (commandView) commandView->SetSelectionCaptions(start, end, lastFrame);
}

void ShowMarkEntries(const std::vector<std::string>& captions) {
  if (commandView) commandView->SetMarkEntries(captions);
}

void ShowDeletionRangeEntries(const std::vector<std::string>& selectCaptions,
                              const std::vector<std::string>& deleteCaptions) {
  if (commandView) commandView->SetDeletionRangeEntries(selectCaptions, deleteCaptions);
}

void ShowBrightnessCaption(unsigned brightnessPercent) {
  if (commandView) commandView->SetBrightnessCaption(brightnessPercent);
}

void ShowTimeCode(long frame) {
  if (commandView) commandView->ShowTimeCode(frame);
}
