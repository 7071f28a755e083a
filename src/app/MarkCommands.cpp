#include "app/MarkCommands.h"

#include <algorithm>

#include "app/FrameCommands.h"
#include "app/SaveCommands.h"
#include "app/MainWindow.h"
#include "avi/AviReader.h"
#include "avi/DeletionView.h"
#include "avi/IndexEdit.h"
#include "command/Dispatcher.h"
#include "edit/MarkMenu.h"
#include "edit/Marks.h"
#include "platform/AppState.h"
#include "platform/Host.h"
#include "platform/Messages.h"
#include "platform/Paths.h"
#include "platform/Profile.h"

namespace {

MainWindow* window = nullptr;
// The folder of the last mark file chosen in this session.
std::string markFolder;

ShownCapture& S() {
  return window->Shown();
}
OpenAviTable& T() {
  return window->Shown().table;
}

bool HaveFrames() {
  return window && T().nOpenAvi > 0 && S().reader.framePool.block && !ME.fBusy;
}
bool HaveFiles() {
  return window && T().nOpenAvi > 0 && !ME.fBusy;
}

uint32_t Total() {
  return T().TotalFrames();
}

// Rebuilds every file's view after its ranges or the switch changed.
bool RebuildViews() {
  OpenAviTable& t = T();
  bool ok = true;
  for (int i = 0; i < t.nOpenAvi; ++i)
    ok = ChangeOpenAviParam(&t.pOpenAviList[static_cast<size_t>(i)], t.deleteRangesOn,
                            t.EffectiveFrameRate()) &&
         ok;
  t.SelectOpenAvi(t.nOpenAviIndex);
  return ok;
}

// The frame counts changed: the scroll range, the selection and the frame shown.
void Recount(uint32_t frameToShow) {
  S().navigation.RecountFrames(frameToShow);
  UpdateSelectionMenu();
  RefreshUi();
}

std::string CurrentMarkComment() {
  OpenAviTable& t = T();
  uint32_t g = t.CurrentToSet0Global(S().reader.currentFrame);
  FramePlace p = t.GlobalToLocal(g, true);
  for (const FrameMark& m : t.pOpenAviList[static_cast<size_t>(p.file)].marks)
    if (m.lFrame == static_cast<int64_t>(p.frame)) return m.szComment;
  return {};
}

void MarkFrame() {
  std::string comment = CurrentMarkComment();
  if (!CurrentHost().EditComment("このフレームのコメント", &comment)) return;
  if (SetMark(T(), 0, S().reader.currentFrame, comment, kMarkGlobalCurrent)) UpdateSelectionMenu();
}

void ClearAll(bool marks, CommandSource source) {
  bool byUser = source == CommandSource::kMenu || source == CommandSource::kAccelerator;
  const char* question =
      marks ? "ほんとうに全てのマークを削除しますか?" : "ほんとうに全ての削除範囲を削除しますか?";
  if (byUser && CurrentHost().MessageBox(question, "Mirdex", MB_YESNO | MB_ICONQUESTION) != IDYES) return;
  OpenAviTable& t = T();
  uint32_t unedited = t.CurrentToSet0Global(S().reader.currentFrame);
  for (int i = 0; i < t.nOpenAvi; ++i) {
    OpenAviFile& avi = t.pOpenAviList[static_cast<size_t>(i)];
    if (marks)
      std::vector<FrameMark>().swap(avi.marks);
    else
      std::vector<DeleteRange>().swap(avi.deleteRanges);
  }
  if (!marks && t.deleteRangesOn && t.nOpenAvi > 0) {
    RebuildViews();
    Recount(t.Set0ToCurrentGlobal(unedited));
  } else {
    UpdateSelectionMenu();
  }
}

// Adds the selection as deletion ranges, one piece per file it spans.
void AddSelectionAsRanges() {
  OpenAviTable& t = T();
  FrameSelection& sel = S().navigation.selection;
  uint32_t total = Total();
  int64_t first = sel.EffectiveStart(), last = sel.EffectiveEnd(total);
  if (total == 0 || first > last || last >= static_cast<int64_t>(total)) return;
  uint32_t current = S().reader.currentFrame;
  bool currentInside = current >= first && current <= last;
  uint32_t currentUnedited = t.CurrentToSet0Global(current);
  FramePlace a = t.GlobalToLocal(static_cast<uint32_t>(first)),
             b = t.GlobalToLocal(static_cast<uint32_t>(last));
  bool added = false;
  for (int file = a.file; file <= b.file; ++file) {
    OpenAviFile& avi = t.pOpenAviList[static_cast<size_t>(file)];
    int64_t from = file == a.file ? a.frame : 0;
    int64_t to = file == b.file ? b.frame : static_cast<int64_t>(avi.Set().FrameMax) - 1;
    if (!AddDeleteRange(t, file, from, to, nullptr, false)) break;
    added = true;
    if (t.deleteRangesOn) ChangeOpenAviParam(&avi, true, t.EffectiveFrameRate());
  }
  if (!added) return;
  if (!t.deleteRangesOn) {
    UpdateSelectionMenu();
    return;
  }
  // The selected frames are gone: the selection is unset, and a frame shown
  // inside it gives way to the frame that followed the range (or the last).
  t.SelectOpenAvi(t.nOpenAviIndex);
  sel.start = sel.end = -1;
  uint32_t newTotal = Total();
  uint32_t show = currentInside ? static_cast<uint32_t>(first) : t.Set0ToCurrentGlobal(currentUnedited);
  if (newTotal > 0 && show >= newTotal) show = newTotal - 1;
  Recount(show);
}

void ToggleDeletionRanges(int id, CommandSource source) {
  OpenAviTable& t = T();
  bool on = ToggleCheck(id, source, t.deleteRangesOn) != 0;
  if (on == t.deleteRangesOn) return;
  uint32_t unedited = t.nOpenAvi > 0 ? t.CurrentToSet0Global(S().reader.currentFrame) : 0;
  t.deleteRangesOn = on;
  t.AllocOpenAviTable(static_cast<int>(t.pOpenAviList.size()));  // every record's current set
  if (t.nOpenAvi == 0) return;
  RebuildViews();
  Recount(t.Set0ToCurrentGlobal(unedited));
}

void GoToMark(int n) {
  OpenAviTable& t = T();
  MarkEntry e = FindMarkEntry(t, static_cast<size_t>(n));
  if (e.file < 0) return;
  const FrameMark& m = t.pOpenAviList[static_cast<size_t>(e.file)].marks[e.index];
  uint32_t unedited = t.LocalToGlobal(e.file, static_cast<uint32_t>(m.lFrame), true);
  uint32_t current = t.Set0ToCurrentGlobal(unedited);
  S().reader.ShowCurrent(current);
  if (t.deleteRangesOn)
    Status(0, "マーク位置%ld. %lu/%luに移動しました", static_cast<long>(n + 1),
           static_cast<unsigned long>(unedited), static_cast<unsigned long>(current));
  else
    Status(0, "マーク位置%ld. %luに移動しました", static_cast<long>(n + 1),
           static_cast<unsigned long>(current));
}

void SelectRange(int n) {
  OpenAviTable& t = T();
  MarkEntry e = FindRangeEntry(t, static_cast<size_t>(n));
  if (e.file < 0) return;
  const DeleteRange& r = t.pOpenAviList[static_cast<size_t>(e.file)].deleteRanges[e.index];
  uint32_t before = UneditedFramesBefore(t, e.file);
  S().navigation.selection.start = r.lFrame1 + static_cast<int64_t>(before);
  S().navigation.selection.end = r.lFrame2 + static_cast<int64_t>(before);
  UpdateSelectionMenu();
}

void RemoveRange(int n) {
  OpenAviTable& t = T();
  MarkEntry e = FindRangeEntry(t, static_cast<size_t>(n));
  if (e.file < 0) return;
  uint32_t unedited = t.CurrentToSet0Global(S().reader.currentFrame);
  OpenAviFile& avi = t.pOpenAviList[static_cast<size_t>(e.file)];
  avi.deleteRanges.erase(avi.deleteRanges.begin() + static_cast<std::ptrdiff_t>(e.index));
  if (!t.deleteRangesOn) {
    UpdateSelectionMenu();
    return;
  }
  ChangeOpenAviParam(&avi, true, t.EffectiveFrameRate());
  t.SelectOpenAvi(t.nOpenAviIndex);
  Recount(t.Set0ToCurrentGlobal(unedited));
}

// The current file's path with ".avi" (any case) replaced by ".mrk".
std::string ProposedMarkFile() {
  std::string path = T().pCurrentOpenAvi ? T().pCurrentOpenAvi->szFileName : std::string();
  if (path.size() >= 4 && EqualsNoCase(path.substr(path.size() - 4), ".avi")) path.resize(path.size() - 4);
  return path + ".mrk";
}

void MarkFileCommand(bool save) {
  OpenAviTable& t = T();
  std::string proposal = ProposedMarkFile();
  FileDialogRequest req;
  req.title = save ? "Mirdex / マーク位置/削除範囲設定保存ファイル名入力"
                   : "Mirdex / マーク位置/削除範囲設定読込ファイル名入力";
  req.initialDir = markFolder.empty() ? DirectoryPart(proposal) : markFolder;
  req.initialName = proposal.substr(DirectoryPart(proposal).size());
  req.filters = {{"マーク位置/削除範囲設定ファイル", "*.mrk"}};
  req.defaultExt = "mrk";
  req.save = save;
  req.overwritePrompt = save;
  std::vector<std::string> paths;
  if (!CurrentHost().ChooseFiles(req, &paths) || paths.empty()) return;
  markFolder = DirectoryPart(paths[0]);
  if (save) {
    for (int i = 0; i < t.nOpenAvi; ++i)
      if (!SerializeMarks(t, i, paths[0], true)) {
        Message(MB_OK | MB_ICONSTOP, nullptr, "%sに書き込めません!", paths[0].c_str());
        return;
      }
    return;
  }
  if (!FileExists(paths[0])) {
    Message(MB_OK | MB_ICONSTOP, nullptr, "%sが開けません!", paths[0].c_str());
    return;
  }
  uint32_t unedited = t.CurrentToSet0Global(S().reader.currentFrame);
  for (int i = 0; i < t.nOpenAvi; ++i) SerializeMarks(t, i, paths[0], false);
  if (t.deleteRangesOn) {
    t.SelectOpenAvi(t.nOpenAviIndex);
    Recount(t.Set0ToCurrentGlobal(unedited));
  } else {
    UpdateSelectionMenu();
  }
}

// ---- the index commands ----

const char* IndexEditAction(int id) {
  return id == kCmdDeleteFrameFromIndex ? "を削除"
         : id == kCmdInsertNullFrame    ? "にヌルフレームを挿入"
                                        : "をヌルフレームに置換";
}
const char* IndexEditLogAction(int id) {
  return id == kCmdDeleteFrameFromIndex ? "フレームを削除"
         : id == kCmdInsertNullFrame    ? "ヌルフレームを挿入"
                                        : "ヌルフレームに置換";
}
IndexEditKind IndexEditKindOf(int id) {
  switch (id) {
    case kCmdDeleteFrameFromIndex:
      return IndexEditKind::kDeleteFrame;
    case kCmdMakeFrameNull:
      return IndexEditKind::kMakeNull;
    case kCmdInsertNullFrame:
      return IndexEditKind::kInsertNull;
    default:
      return IndexEditKind::kRemoveNulls;
  }
}

struct BusyScope {
  BusyScope() {
    ++ME.fBusy;
    PushBusyState();
  }
  ~BusyScope() {
    PopBusyState();
    --ME.fBusy;
    RefreshUi();
  }
};

// Edits one file's idx1 and reports it; the frame is the global number shown
// in the messages.
bool EditOneFile(int id, const std::string& path, uint32_t localFrame, uint32_t shownFrame) {
  int changed = 0;
  if (!EditIndexInPlace(path, IndexEditKindOf(id), localFrame, &changed)) return false;
  if (id == kCmdDeleteAllNullFrames) {
    Status(0, "%sの%d個のヌルフレームインデックスを削除しました", path.c_str(), changed);
    Log("[インデックス編集] %sの%d個のヌルフレームインデックスを削除しました\r\n", path.c_str(), changed);
  } else {
    Status(0, "%sの%ldフレームのインデックス%sしました", path.c_str(), static_cast<long>(shownFrame),
           IndexEditAction(id));
    Log("[インデックス編集] %s %s(%ld) %sしました\r\n", TimeStamp().c_str(), path.c_str(),
        static_cast<long>(shownFrame), IndexEditLogAction(id));
  }
  return true;
}

// Reads the file's indexes again after its idx1 changed; its marks go to
// the settings file and come back. False when it could not be opened again
// (it has left the table).
bool ReopenFile(int file) {
  OpenAviTable& t = T();
  OpenAviFile* avi = &t.pOpenAviList[static_cast<size_t>(file)];
  SerializeMarks(t, file, "", true);
  CloseOpenAvi(avi, 0);
  if (CloseOpenAvi(avi, 1)) {
    SerializeMarks(t, file, "", false);
    return true;
  }
  // The record leaves the table; the files after it move up.
  std::rotate(t.pOpenAviList.begin() + file, t.pOpenAviList.begin() + file + 1,
              t.pOpenAviList.begin() + t.nOpenAvi);
  --t.nOpenAvi;
  t.AllocOpenAviTable(static_cast<int>(t.pOpenAviList.size()));
  return false;
}

void IndexCommand(int id) {
  OpenAviTable& t = T();
  if (t.nOpenAvi <= 0) return;
  uint32_t current = S().reader.currentFrame;
  {
    BusyScope busy;
    S().reader.ForgetFrameReaders();
    if (id == kCmdDeleteAllNullFrames) {
      for (int i = 0; i < t.nOpenAvi; ++i) {
        std::string path = t.pOpenAviList[static_cast<size_t>(i)].szFileName;
        if (EditOneFile(id, path, 0, 0) && !ReopenFile(i)) --i;
      }
    } else {
      FramePlace p = t.GlobalToLocal(t.CurrentToSet0Global(current), true);
      std::string path = t.pOpenAviList[static_cast<size_t>(p.file)].szFileName;
      if (EditOneFile(id, path, p.frame, current)) ReopenFile(p.file);
    }
  }
  if (t.nOpenAvi == 0) {
    t.SetMainTitle(nullptr);
    FrameSetChanged();
    return;
  }
  t.SelectOpenAvi(std::min(t.nOpenAviIndex, t.nOpenAvi - 1));
  Recount(current);
}

void RebuildIndexCommand() {
  OpenAviTable& t = T();
  OpenAviFile* avi = t.pCurrentOpenAvi;
  if (!avi) return;
  uint32_t current = S().reader.currentFrame;
  {
    BusyScope busy;
    S().reader.ForgetFrameReaders();
    RebuildAviIndex(avi, true);
    ChangeOpenAviParam(avi, t.deleteRangesOn, t.EffectiveFrameRate());
  }
  t.SelectOpenAvi(t.nOpenAviIndex);
  Recount(current);
}

}  // namespace

void UpdateSelectionMenu() {
  if (!window) return;
  OpenAviTable& t = T();
  const FrameSelection& sel = S().navigation.selection;
  long total = static_cast<long>(Total());
  ShowSelectionCaptions(static_cast<long>(sel.start), static_cast<long>(sel.end), total - 1);
  MarkMenuCaptions c = BuildMarkMenuCaptions(t, S().navigation.relativeBase);
  ShowMarkEntries(c.marks);
  ShowDeletionRangeEntries(c.selectRanges, c.deleteRanges);
}

void OfferToSaveBuiltIndex() {
  if (!window) return;
  OpenAviTable& t = T();
  if (t.nOpenAvi != 1 || t.pOpenAviList[0].nIndexKind != kIndexScanned) return;
  if (CurrentHost().MessageBox(
          "作成したインデックスは自動的に保存されません.\r新しいAVIファイルで保存しますか?", ME.programName,
          MB_YESNO | MB_ICONINFORMATION) != IDYES)
    return;
  // The scanned index lives only in memory: once it is in the new file,
  // the file it came from is done with.
  if (SaveAviWithDialog(false)) DispatchCommand(kCmdClose, CommandSource::kProgram);
}

bool EditIndexForComparison(int commandId, const FrameCompareRecord& request) {
  if (request.cbSize != 36) {
    Message(MB_OK | MB_ICONSTOP, "不正なフレーム比較情報です!");
    return false;
  }
  BusyScope busy;
  return EditOneFile(commandId, request.fileName, request.frame, request.frame);
}

void UnregisterMarkCommands(MainWindow* w) {
  if (window != w) return;
  T().afterFileOpened = nullptr;
  T().beforeClose = nullptr;
  window = nullptr;
}

void RegisterMarkCommands(MainWindow* w) {
  window = w;
  OpenAviTable& table = T();
  // Marks and ranges follow each file through the settings file.
  table.afterFileOpened = [](int file) { SerializeMarks(T(), file, "", false); };
  table.beforeClose = [] {
    BeginProfileBatch();
    for (int i = 0; i < T().nOpenAvi; ++i) SerializeMarks(T(), i, "", true);
    EndProfileBatch();
  };

  RegisterCommand(
      kCmdSetSelectionStart,
      [](int, CommandSource) {
        S().navigation.selection.start = S().reader.currentFrame;
        UpdateSelectionMenu();
      },
      HaveFrames);
  RegisterCommand(
      kCmdSetSelectionEnd,
      [](int, CommandSource) {
        S().navigation.selection.end = S().reader.currentFrame;
        UpdateSelectionMenu();
      },
      HaveFrames);
  auto goTo = [](int id, CommandSource) {
    const FrameSelection& sel = S().navigation.selection;
    int64_t f = id == kCmdGoToSelectionStart ? sel.EffectiveStart() : sel.EffectiveEnd(Total());
    if (f >= 0 && f < static_cast<int64_t>(Total())) S().reader.ShowCurrent(static_cast<uint32_t>(f));
  };
  RegisterCommand(kCmdGoToSelectionStart, goTo, HaveFrames);
  RegisterCommand(kCmdGoToSelectionEnd, goTo, HaveFrames);
  RegisterCommand(
      kCmdMarkFrame, [](int, CommandSource) { MarkFrame(); }, HaveFrames);
  RegisterCommand(
      kCmdUnmarkFrame,
      [](int, CommandSource) {
        if (SetMark(T(), 0, S().reader.currentFrame, "", kMarkGlobalCurrent | kMarkRemove))
          UpdateSelectionMenu();
      },
      HaveFrames);
  RegisterCommand(
      kCmdDeleteAllMarks, [](int, CommandSource src) { ClearAll(true, src); }, HaveFiles);
  RegisterCommand(
      kCmdDeleteAllRanges, [](int, CommandSource src) { ClearAll(false, src); }, HaveFiles);
  RegisterCommand(
      kCmdAddDeletionRange, [](int, CommandSource) { AddSelectionAsRanges(); }, HaveFrames);
  RegisterCommand(kCmdDeleteRangeOn, ToggleDeletionRanges, [] { return !ME.fBusy; });
  RegisterCommand(
      kCmdSaveMarkFile, [](int, CommandSource) { MarkFileCommand(true); }, HaveFiles);
  RegisterCommand(
      kCmdLoadMarkFile, [](int, CommandSource) { MarkFileCommand(false); }, HaveFiles);
  RegisterCommandRange(
      kCmdMarkBase, kCmdDelSelectBase - 1, [](int id, CommandSource) { GoToMark(id - kCmdMarkBase); },
      HaveFrames);
  RegisterCommandRange(
      kCmdDelSelectBase, kCmdDelDeleteBase - 1,
      [](int id, CommandSource) { SelectRange(id - kCmdDelSelectBase); },
      [] { return HaveFiles() && FindRangeEntry(T(), 0).file >= 0; });
  RegisterCommandRange(
      kCmdDelDeleteBase, kCmdDelDeleteBase + 499,
      [](int id, CommandSource) { RemoveRange(id - kCmdDelDeleteBase); },
      [] { return HaveFrames() && FindRangeEntry(T(), 0).file >= 0; });

  for (int id : {kCmdDeleteFrameFromIndex, kCmdMakeFrameNull, kCmdInsertNullFrame, kCmdDeleteAllNullFrames})
    RegisterCommand(
        id, [](int id, CommandSource) { IndexCommand(id); }, HaveFrames);
  RegisterCommand(
      kCmdRebuildIndex, [](int, CommandSource) { RebuildIndexCommand(); }, HaveFrames);
}
