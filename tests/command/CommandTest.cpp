// The shell without windows: accelerator tables, the dispatcher and its busy
// rules, the Esc protocol and the composed captions.
#include <gtest/gtest.h>

#include <set>

#include "TestSupport.h"
#include "command/Accelerators.h"
#include "command/CommandIds.h"
#include "command/Dispatcher.h"
#include "command/MenuTable.h"
#include "platform/AppState.h"
#include "platform/Messages.h"

namespace {

struct Key {
  const char* name;
  int vk;
  bool shift, ctrl, alt;
  int command;
};

// The 93 entries in order, as the key list of the program gives them.
const Key kKeys[] = {
    {"Left", 37, 0, 0, 0, kCmdKeyLeft},
    {"Right", 39, 0, 0, 0, kCmdKeyRight},
    {"Del", 46, 0, 0, 0, kCmdKeyDelete},
    {"Up", 38, 0, 0, 0, kCmdKeyUp},
    {"Down", 40, 0, 0, 0, kCmdKeyDown},
    {"Alt+Backspace", 8, 0, 0, 1, kCmdAltBackspace},
    {"Enter", 13, 0, 0, 0, kCmdKeyEnter},
    {"Ctrl+Enter", 13, 0, 1, 0, kCmdPreviewCorrection},
    {"Esc", 27, 0, 0, 0, kCmdEsc},
    {"Space", 32, 0, 0, 0, kCmdKeySpace},
    {"Shift+Space", 32, 1, 0, 0, kCmdShiftSpace},
    {"Ctrl+A", 'A', 0, 1, 0, kCmdCtrlA},
    {"Ctrl+Shift+C", 'C', 1, 1, 0, kCmdCopyToClipboard},
    {"Ctrl+D", 'D', 0, 1, 0, kCmdCtrlD},
    {"Ctrl+E", 'E', 0, 1, 0, kCmdCtrlE},
    {"Alt+M", 'M', 0, 0, 1, kCmdAltM},
    {"Ctrl+O", 'O', 0, 1, 0, kCmdOpen},
    {"Ctrl+Shift+O", 'O', 1, 1, 0, kCmdOpenAdd},
    {"Ctrl+R", 'R', 0, 1, 0, kCmdCtrlR},
    {"Ctrl+Shift+R", 'R', 1, 1, 0, kCmdCtrlShiftR},
    {"Ctrl+S", 'S', 0, 1, 0, kCmdCtrlS},
    {"Ctrl+Shift+V", 'V', 1, 1, 0, kCmdPasteFromClipboard},
    {"Ctrl+W", 'W', 0, 1, 0, kCmdCtrlW},
    {"Ctrl+X", 'X', 0, 1, 0, kCmdCtrlX},
    {"Ctrl+Y", 'Y', 0, 1, 0, kCmdCtrlY},
    {"Ctrl+Z", 'Z', 0, 1, 0, kCmdCtrlZ},
    {"Ctrl+,", 188, 0, 1, 0, kCmdGoToSelectionStart},
    {"Ctrl+.", 190, 0, 1, 0, kCmdGoToSelectionEnd},
    {"Ctrl+[", 219, 0, 1, 0, kCmdSetSelectionStart},
    {"Ctrl+]", 221, 0, 1, 0, kCmdSetSelectionEnd},
    {"F1", 112, 0, 0, 0, kCmdKeyF1},
    {"F2", 113, 0, 0, 0, kCmdKeyF2},
    {"F3", 114, 0, 0, 0, kCmdKeyF3},
    {"Ctrl+F3", 114, 0, 1, 0, kCmdCtrlF3},
    {"F4", 115, 0, 0, 0, kCmdKeyF4},
    {"Ctrl+F4", 115, 0, 1, 0, kCmdCtrlF4},
    {"F5", 116, 0, 0, 0, kCmdKeyF5},
    {"Ctrl+F5", 116, 0, 1, 0, kCmdCtrlF5},
    {"F6", 117, 0, 0, 0, kCmdKeyF6},
    {"Ctrl+F6", 117, 0, 1, 0, kCmdCtrlF6},
    {"F7", 118, 0, 0, 0, kCmdKeyF7},
    {"Ctrl+F7", 118, 0, 1, 0, kCmdCtrlF7},
    {"F8", 119, 0, 0, 0, kCmdKeyF8},
    {"Ctrl+F8", 119, 0, 1, 0, kCmdCtrlF8},
    {"F9", 120, 0, 0, 0, kCmdKeyF9},
    {"F10", 121, 0, 0, 0, kCmdKeyF10},
    {"F11", 122, 0, 0, 0, kCmdKeyF11},
    {"F12", 123, 0, 0, 0, kCmdKeyF12},
    {"Ctrl+Left", 37, 0, 1, 0, kCmdCtrlLeft},
    {"Ctrl+Shift+Left", 37, 1, 1, 0, kCmdCtrlShiftLeft},
    {"Ctrl+Up", 38, 0, 1, 0, kCmdCtrlUp},
    {"Shift+Up", 38, 1, 0, 0, kCmdShiftUp},
    {"Ctrl+Shift+Up", 38, 1, 1, 0, kCmdCtrlShiftUp},
    {"Ctrl+Right", 39, 0, 1, 0, kCmdCtrlRight},
    {"Ctrl+Shift+Right", 39, 1, 1, 0, kCmdCtrlShiftRight},
    {"Ctrl+Down", 40, 0, 1, 0, kCmdCtrlDown},
    {"Shift+Down", 40, 1, 0, 0, kCmdShiftDown},
    {"Ctrl+Shift+Down", 40, 1, 1, 0, kCmdCtrlShiftDown},
    {"Ins", 45, 0, 0, 0, kCmdKeyInsert},
    {"Ctrl+Ins", 45, 0, 1, 0, kCmdCtrlInsert},
    {"Shift+Ins", 45, 1, 0, 0, kCmdShiftInsert},
    {"Ctrl+Del", 46, 0, 1, 0, kCmdCtrlDelete},
    {"Alt+Del", 46, 0, 0, 1, kCmdAltDelete},
    {"Shift+Del", 46, 1, 0, 0, kCmdShiftDelete},
    {"Ctrl+Shift+Del", 46, 1, 1, 0, kCmdCtrlShiftDelete},
    {"Home", 36, 0, 0, 0, kCmdGoToFirstFrame},
    {"Ctrl+Home", 36, 0, 1, 0, kCmdCtrlHome},
    {"Shift+Home", 36, 1, 0, 0, kCmdShiftHome},
    {"Ctrl+Shift+Home", 36, 1, 1, 0, kCmdCtrlShiftHome},
    {"End", 35, 0, 0, 0, kCmdGoToLastFrame},
    {"Ctrl+End", 35, 0, 1, 0, kCmdGoToSmoothingFrame},
    {"Shift+End", 35, 1, 0, 0, kCmdShiftEnd},
    {"Ctrl+Shift+End", 35, 1, 1, 0, kCmdCtrlShiftEnd},
    {"PgDn", 34, 0, 0, 0, kCmdStepForward30},
    {"Ctrl+PgDn", 34, 0, 1, 0, kCmdStepForward300},
    {"Shift+PgDn", 34, 1, 0, 0, kCmdStepForward150},
    {"PgUp", 33, 0, 0, 0, kCmdStepBackward30},
    {"Ctrl+PgUp", 33, 0, 1, 0, kCmdStepBackward300},
    {"Shift+PgUp", 33, 1, 0, 0, kCmdStepBackward150},
    {"Divide", 111, 0, 0, 0, kCmdKeyDivide},
    {"Multiply", 106, 0, 0, 0, kCmdKeyMultiply},
    {"Ctrl+Subtract", 109, 0, 1, 0, kCmdCtrlSubtract},
    {"Ctrl+Add", 107, 0, 1, 0, kCmdCtrlAdd},
    {"Ctrl+Num0", 96, 0, 1, 0, kCmdCtrlNum0},
    {"Ctrl+Num1", 97, 0, 1, 0, kCmdCtrlNum1},
    {"Ctrl+Num2", 98, 0, 1, 0, kCmdCtrlNum2},
    {"Ctrl+Num3", 99, 0, 1, 0, kCmdCtrlNum3},
    {"Ctrl+Num4", 100, 0, 1, 0, kCmdCtrlNum4},
    {"Ctrl+Num5", 101, 0, 1, 0, kCmdCtrlNum5},
    {"Ctrl+Num6", 102, 0, 1, 0, kCmdCtrlNum6},
    {"Ctrl+Num7", 103, 0, 1, 0, kCmdCtrlNum7},
    {"Ctrl+Num8", 104, 0, 1, 0, kCmdCtrlNum8},
    {"Ctrl+Num9", 105, 0, 1, 0, kCmdCtrlNum9},
};

class ShellCore : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearCommandRegistry();
    saved_ = ME;
  }
  void TearDown() override {
    ClearCommandRegistry();
    CloseLog();
    ME = saved_;
  }
  AppState saved_;
};

}  // namespace

TEST(Accelerators, TheArrayHoldsEveryKeyInOrder) {
  static_assert(sizeof kKeys / sizeof kKeys[0] == 93);
  for (int i = 0; i < kAccelCount; ++i) {
    const AccelEntry& e = kAccelEntries[i];
    const Key& k = kKeys[i];
    EXPECT_EQ(e.key, k.vk) << k.name;
    EXPECT_EQ(e.cmd, k.command) << k.name;
    EXPECT_EQ(e.fVirt,
              FVIRTKEY | FNOINVERT | (k.shift ? FSHIFT : 0) | (k.ctrl ? FCONTROL : 0) | (k.alt ? FALT : 0))
        << k.name;
    // A key without a menu command is its modifier base + key; Ctrl+Shift+End
    // is the one that was numbered as a Ctrl key.
    if (k.command >= kCmdKeyBase && k.command < kCmdAltKeyBase + 1000) {
      int base = k.alt               ? kCmdAltKeyBase
                 : k.ctrl && k.shift ? kCmdCtrlShiftKeyBase
                 : k.ctrl            ? kCmdCtrlKeyBase
                 : k.shift           ? kCmdShiftKeyBase
                                     : kCmdKeyBase;
      if (k.command == kCmdCtrlShiftEnd) base = kCmdCtrlKeyBase;
      EXPECT_EQ(k.command, base + k.vk) << k.name;
    }
  }
}

TEST(Accelerators, SmallerTablesLeaveOutExactlyTheirKeys) {
  const std::set<std::string> left[4] = {
      {}, {"Left", "Right"}, {"Left", "Right", "Del"}, {"Left", "Right", "Del", "Up", "Down"}};
  for (int table = 0; table < 4; ++table) {
    for (const Key& k : kKeys) {
      int expected = left[table].count(k.name) ? 0 : k.command;
      EXPECT_EQ(LookupAccelerator(table, k.vk, k.shift, k.ctrl, k.alt), expected)
          << "table " << table << " " << k.name;
    }
  }
  // Modifiers must match exactly.
  EXPECT_EQ(LookupAccelerator(0, 'O', false, true, true), 0);
  EXPECT_EQ(LookupAccelerator(0, 'O', false, false, false), 0);
  EXPECT_EQ(LookupAccelerator(0, 113, true, false, false), 0);
  EXPECT_EQ(LookupAccelerator(4, 113, false, false, false), 0);
}

TEST(Accelerators, TheWindowInFrontChoosesTheTable) {
  EXPECT_EQ(ChooseAccelTable(AccelWindowKind::kMainWindow, true), 0);
  EXPECT_EQ(ChooseAccelTable(AccelWindowKind::kMainWindow, false), 1);
  EXPECT_EQ(ChooseAccelTable(AccelWindowKind::kFieldShiftOrVolume, false), 2);
  EXPECT_EQ(ChooseAccelTable(AccelWindowKind::kOther, true), 3);
}

TEST_F(ShellCore, CommandsWithoutHandlerCannotRun) {
  EXPECT_FALSE(CanRunCommand(kCmdSaveAvi));
  EXPECT_FALSE(DispatchCommand(kCmdSaveAvi));
  int runs = 0;
  bool allowed = false;
  RegisterCommand(
      kCmdSaveAvi, [&](int id, CommandSource) { runs += id == kCmdSaveAvi; }, [&] { return allowed; });
  EXPECT_FALSE(CanRunCommand(kCmdSaveAvi));
  EXPECT_FALSE(DispatchCommand(kCmdSaveAvi));
  allowed = true;
  EXPECT_TRUE(DispatchCommand(kCmdSaveAvi));
  EXPECT_EQ(runs, 1);
  UnregisterCommand(kCmdSaveAvi);
  EXPECT_FALSE(DispatchCommand(kCmdSaveAvi));
  EXPECT_EQ(runs, 1);
}

TEST_F(ShellCore, WithoutAWindowTheViewCallsChangeNothing) {
  EXPECT_FALSE(EnableCommand(kCmdOpen, true));
  EXPECT_EQ(IsCommandChecked(kCmdMixField), -1);
  EXPECT_EQ(ToggleCheck(kCmdMixField, CommandSource::kMenu, 1), 1);
  int runs = 0;
  RegisterCommand(kCmdMixField, [&](int, CommandSource) { ++runs; });
  SetCheck(kCmdMixField, true, true);
  ShowSelectionCaptions(1, 2, 3);
  ShowTimeCode(5);
  EXPECT_EQ(runs, 0);
}

TEST_F(ShellCore, RangesAndSingleRegistrations) {
  std::vector<int> seen;
  RegisterCommandRange(kCmdRecentFile0, kCmdRecentFile0 + 9,
                       [&](int id, CommandSource) { seen.push_back(id); });
  RegisterCommand(kCmdRecentFile0 + 5, [&](int id, CommandSource) { seen.push_back(-id); });
  EXPECT_TRUE(DispatchCommand(kCmdRecentFile0));
  EXPECT_TRUE(DispatchCommand(kCmdRecentFile0 + 9));
  EXPECT_TRUE(DispatchCommand(kCmdRecentFile0 + 5));
  EXPECT_FALSE(DispatchCommand(kCmdRecentFile0 + 10));
  EXPECT_EQ(seen, (std::vector<int>{kCmdRecentFile0, kCmdRecentFile0 + 9, -(kCmdRecentFile0 + 5)}));
  UnregisterCommandRange(kCmdRecentFile0, kCmdRecentFile0 + 9);
  EXPECT_FALSE(DispatchCommand(kCmdRecentFile0 + 1));
}

TEST_F(ShellCore, KeyboardAliasesReissueTheirCommand) {
  std::vector<int> seen;
  for (int id : {kCmdSaveCorrections, kCmdUndoCorrection, kCmdRedoCorrection, kCmdFitWindow, kCmdMixField,
                 kCmdInsertKeyAction, kCmdReplaceLineWithAverage, kCmdCtrlNum4, kCmdCtrlNum6, kCmdCtrlNum8,
                 kCmdCtrlNum2, kCmdCtrlNum5})
    RegisterCommand(id, [&](int got, CommandSource) { seen.push_back(got); });
  for (int key : {kCmdKeyEnter, kCmdCtrlZ, kCmdCtrlY, kCmdCtrlW, kCmdAltM, kCmdKeyInsert, kCmdShiftInsert,
                  kCmdCtrlInsert, kCmdAltDelete, kCmdCtrlS, kCmdCtrlD, kCmdCtrlE, kCmdCtrlX, kCmdCtrlA})
    EXPECT_TRUE(DispatchCommand(key, CommandSource::kAccelerator)) << key;
  EXPECT_EQ(seen, (std::vector<int>{kCmdSaveCorrections, kCmdUndoCorrection, kCmdRedoCorrection,
                                    kCmdFitWindow, kCmdMixField, kCmdInsertKeyAction, kCmdInsertKeyAction,
                                    kCmdInsertKeyAction, kCmdReplaceLineWithAverage, kCmdCtrlNum4,
                                    kCmdCtrlNum6, kCmdCtrlNum8, kCmdCtrlNum2, kCmdCtrlNum5}));
  // A handler of the key command itself comes first.
  RegisterCommand(kCmdKeyEnter, [&](int got, CommandSource) { seen.push_back(got); });
  DispatchCommand(kCmdKeyEnter);
  EXPECT_EQ(seen.back(), kCmdKeyEnter);
}

TEST_F(ShellCore, BusyReadingAndPlayingLimitWhatRuns) {
  std::vector<int> seen;
  auto record = [&](int id, CommandSource) { seen.push_back(id); };
  for (int id : {kCmdEsc, kCmdOpen, kCmdStepPlay, kCmdKeySpace, kCmdKeyLeft, kCmdCtrlF3})
    RegisterCommand(id, record);
  int refreshes = 0;
  SetUiRefreshListener([&] { ++refreshes; });
  PushBusyState({kCmdStepPlay});
  EXPECT_EQ(refreshes, 1);
  EXPECT_FALSE(CanRunCommand(kCmdOpen));
  EXPECT_TRUE(CanRunCommand(kCmdStepPlay));
  EXPECT_TRUE(CanRunCommand(kCmdEsc));
  PushBusyState();
  EXPECT_FALSE(CanRunCommand(kCmdStepPlay));
  PopBusyState();
  EXPECT_TRUE(CanRunCommand(kCmdStepPlay));
  PopBusyState();
  PopBusyState();  // one pop too many changes nothing
  EXPECT_EQ(BusyStateDepth(), 0);
  EXPECT_TRUE(CanRunCommand(kCmdOpen));
  SetUiRefreshListener(nullptr);

  ME.fReading = 1;
  EXPECT_FALSE(DispatchCommand(kCmdOpen));
  EXPECT_FALSE(DispatchCommand(kCmdKeySpace));
  EXPECT_TRUE(DispatchCommand(kCmdEsc));
  ME.fReading = 0;
  ME.fPlaying = 1;
  EXPECT_TRUE(DispatchCommand(kCmdKeySpace));
  EXPECT_TRUE(DispatchCommand(kCmdCtrlF3));
  EXPECT_FALSE(DispatchCommand(kCmdKeyLeft));
  EXPECT_FALSE(DispatchCommand(kCmdOpen));
  EXPECT_EQ(seen, (std::vector<int>{kCmdEsc, kCmdKeySpace, kCmdCtrlF3}));
}

TEST_F(ShellCore, EscAsksBeforeStoppingARunningOperation) {
  RecordingHost host;
  ME.fAbort = 0;
  ME.fBusy = 1;
  ME.fMainInactive = 0;
  host.answers = {IDNO};
  AbortCommand();
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "中止しますか?(Y/N)");
  EXPECT_EQ(host.boxes[0].caption, "Mirdex");
  EXPECT_EQ(host.boxes[0].style, MB_YESNO | MB_ICONQUESTION);
  EXPECT_EQ(ME.fAbort, 0);
  EXPECT_EQ(ME.fBusy, 1);
  host.answers = {IDYES};
  AbortCommand();
  EXPECT_EQ(ME.fAbort, 1);
  EXPECT_EQ(ME.fBusy, 1);  // the operation's own to lower: never below zero
  EXPECT_EQ(ME.fMainInactive, 1);
  // With nothing running Esc leaves no flag behind for the next run.
  ME.fAbort = 0;
  ME.fBusy = 0;
  AbortCommand();
  EXPECT_EQ(ME.fAbort, 0);
  EXPECT_EQ(host.boxes.size(), 2u);  // and asks nothing

  // Suppressed confirmation: stops at once.
  ME.fAbort = 0;
  ME.fBusy = 1;
  SetAbortConfirmation(false);
  AbortCommand();
  EXPECT_EQ(host.boxes.size(), 2u);
  EXPECT_EQ(ME.fAbort, 1);
  SetAbortConfirmation(true);

  // Playback ends without a question; a modal selection window takes the cancel.
  ME.fAbort = 0;
  ME.fPlaying = 1;
  ME.fBusy = 1;
  AbortCommand();
  EXPECT_EQ(ME.fAbort, 1);
  EXPECT_EQ(ME.fBusy, 1);
  ME.fPlaying = 0;
  ME.fAbort = 0;
  int cancels = 0;
  SetModalToolCancel([&] { return ++cancels > 0; });
  AbortCommand();
  EXPECT_EQ(cancels, 1);
  EXPECT_EQ(ME.fAbort, 0);
  EXPECT_EQ(host.boxes.size(), 2u);
}

TEST_F(ShellCore, UnattendedProcessingNeverWaitsForTheQuestion) {
  ScratchDir dir;
  RecordingHost host;
  host.answers = {IDYES};
  ME.fBusy = 1;
  ME.fAbort = 0;
  ME.nPowerOffAfter = 1;
  ASSERT_TRUE(OpenLog());
  AbortCommand();  // the suppressed box answers 0, which is not Yes
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_EQ(ME.fAbort, 0);
  EXPECT_EQ(ME.fBusy, 1);
}

TEST(MenuCaptions, ComposedFromState) {
  EXPECT_EQ(SelectionMenuCaption(-1, -1, 99), "フレーム選択範囲(all)/マーク(&S)");
  EXPECT_EQ(SelectionMenuCaption(10, 5, 99), "フレーム選択範囲(?)/マーク(&S)");
  EXPECT_EQ(SelectionMenuCaption(10, 19, 99), "フレーム選択範囲(10)/マーク(&S)");
  EXPECT_EQ(SelectionMenuCaption(-1, 9, 99), "フレーム選択範囲(10)/マーク(&S)");
  EXPECT_EQ(SelectionMenuCaption(90, -1, 99), "フレーム選択範囲(10)/マーク(&S)");
  EXPECT_EQ(SelectionMenuCaption(120, -1, 99), "フレーム選択範囲(?)/マーク(&S)");
  EXPECT_EQ(SelectionStartCaption(-1), "開始フレームに移動 (先頭)\tCtrl+<");
  EXPECT_EQ(SelectionStartCaption(42), "開始フレームに移動 (000042)\tCtrl+<");
  EXPECT_EQ(SelectionEndCaption(-1), "終了フレームに移動 (最後)\tCtrl+>");
  EXPECT_EQ(SelectionEndCaption(1234567), "終了フレームに移動 (1234567)\tCtrl+>");
  EXPECT_EQ(RecentFileCaption(3, "/v/a.avi"), "3. /v/a.avi");
  EXPECT_EQ(WaveLimitCaption(150), "オーディオの倍率を上限150%でチェック");
  EXPECT_EQ(WaveLevelCaption(1.5), "オーディオの音量を 1.500倍に変更");
  EXPECT_EQ(DisplayMenuCaption(0.75), "表示/輝度0.75(&D)");
  EXPECT_EQ(CursorPositionCaption(5, 120, true, 3), "X=  5, Y=120\tShift+Ctrl+3");
  EXPECT_EQ(CursorPositionCaption(5, 7, false, 0), "X=  5, Y=  7\tCtrl+0");
}
