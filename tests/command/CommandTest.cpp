// The shell without windows: accelerator tables, the dispatcher and its busy
// rules, the Esc protocol and the composed captions.
#include <gtest/gtest.h>

#include <set>

#include "TestSupport.h"
#include "command/Accelerators.h"
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

// The 93 entries in order, typed from the key list of the program.
const Key kKeys[] = {
    {"Left", 37, 0, 0, 0, 10037},
    {"Right", 39, 0, 0, 0, 10039},
    {"Del", 46, 0, 0, 0, 10046},
    {"Up", 38, 0, 0, 0, 10038},
    {"Down", 40, 0, 0, 0, 10040},
    {"Alt+Backspace", 8, 0, 0, 1, 14008},
    {"Enter", 13, 0, 0, 0, 10013},
    {"Ctrl+Enter", 13, 0, 1, 0, 21030},
    {"Esc", 27, 0, 0, 0, 10027},
    {"Space", 32, 0, 0, 0, 10032},
    {"Shift+Space", 32, 1, 0, 0, 11032},
    {"Ctrl+A", 'A', 0, 1, 0, 12065},
    {"Ctrl+Shift+C", 'C', 1, 1, 0, 41032},
    {"Ctrl+D", 'D', 0, 1, 0, 12068},
    {"Ctrl+E", 'E', 0, 1, 0, 12069},
    {"Alt+M", 'M', 0, 0, 1, 14077},
    {"Ctrl+O", 'O', 0, 1, 0, 40000},
    {"Ctrl+Shift+O", 'O', 1, 1, 0, 40001},
    {"Ctrl+R", 'R', 0, 1, 0, 12082},
    {"Ctrl+Shift+R", 'R', 1, 1, 0, 13082},
    {"Ctrl+S", 'S', 0, 1, 0, 12083},
    {"Ctrl+Shift+V", 'V', 1, 1, 0, 41033},
    {"Ctrl+W", 'W', 0, 1, 0, 12087},
    {"Ctrl+X", 'X', 0, 1, 0, 12088},
    {"Ctrl+Y", 'Y', 0, 1, 0, 12089},
    {"Ctrl+Z", 'Z', 0, 1, 0, 12090},
    {"Ctrl+,", 188, 0, 1, 0, 43002},
    {"Ctrl+.", 190, 0, 1, 0, 43004},
    {"Ctrl+[", 219, 0, 1, 0, 43001},
    {"Ctrl+]", 221, 0, 1, 0, 43003},
    {"F1", 112, 0, 0, 0, 10112},
    {"F2", 113, 0, 0, 0, 10113},
    {"F3", 114, 0, 0, 0, 10114},
    {"Ctrl+F3", 114, 0, 1, 0, 12114},
    {"F4", 115, 0, 0, 0, 10115},
    {"Ctrl+F4", 115, 0, 1, 0, 12115},
    {"F5", 116, 0, 0, 0, 10116},
    {"Ctrl+F5", 116, 0, 1, 0, 12116},
    {"F6", 117, 0, 0, 0, 10117},
    {"Ctrl+F6", 117, 0, 1, 0, 12117},
    {"F7", 118, 0, 0, 0, 10118},
    {"Ctrl+F7", 118, 0, 1, 0, 12118},
    {"F8", 119, 0, 0, 0, 10119},
    {"Ctrl+F8", 119, 0, 1, 0, 12119},
    {"F9", 120, 0, 0, 0, 10120},
    {"F10", 121, 0, 0, 0, 10121},
    {"F11", 122, 0, 0, 0, 10122},
    {"F12", 123, 0, 0, 0, 10123},
    {"Ctrl+Left", 37, 0, 1, 0, 12037},
    {"Ctrl+Shift+Left", 37, 1, 1, 0, 13037},
    {"Ctrl+Up", 38, 0, 1, 0, 12038},
    {"Shift+Up", 38, 1, 0, 0, 11038},
    {"Ctrl+Shift+Up", 38, 1, 1, 0, 13038},
    {"Ctrl+Right", 39, 0, 1, 0, 12039},
    {"Ctrl+Shift+Right", 39, 1, 1, 0, 13039},
    {"Ctrl+Down", 40, 0, 1, 0, 12040},
    {"Shift+Down", 40, 1, 0, 0, 11040},
    {"Ctrl+Shift+Down", 40, 1, 1, 0, 13040},
    {"Ins", 45, 0, 0, 0, 10045},
    {"Ctrl+Ins", 45, 0, 1, 0, 12045},
    {"Shift+Ins", 45, 1, 0, 0, 11045},
    {"Ctrl+Del", 46, 0, 1, 0, 12046},
    {"Alt+Del", 46, 0, 0, 1, 14046},
    {"Shift+Del", 46, 1, 0, 0, 11046},
    {"Ctrl+Shift+Del", 46, 1, 1, 0, 13046},
    {"Home", 36, 0, 0, 0, 50606},
    {"Ctrl+Home", 36, 0, 1, 0, 12036},
    {"Shift+Home", 36, 1, 0, 0, 11036},
    {"Ctrl+Shift+Home", 36, 1, 1, 0, 13036},
    {"End", 35, 0, 0, 0, 50604},
    {"Ctrl+End", 35, 0, 1, 0, 50605},
    {"Shift+End", 35, 1, 0, 0, 11035},
    {"Ctrl+Shift+End", 35, 1, 1, 0, 12035},
    {"PgDn", 34, 0, 0, 0, 50601},
    {"Ctrl+PgDn", 34, 0, 1, 0, 50603},
    {"Shift+PgDn", 34, 1, 0, 0, 50602},
    {"PgUp", 33, 0, 0, 0, 50608},
    {"Ctrl+PgUp", 33, 0, 1, 0, 50610},
    {"Shift+PgUp", 33, 1, 0, 0, 50609},
    {"Divide", 111, 0, 0, 0, 10111},
    {"Multiply", 106, 0, 0, 0, 10106},
    {"Ctrl+Subtract", 109, 0, 1, 0, 12109},
    {"Ctrl+Add", 107, 0, 1, 0, 12107},
    {"Ctrl+Num0", 96, 0, 1, 0, 12096},
    {"Ctrl+Num1", 97, 0, 1, 0, 12097},
    {"Ctrl+Num2", 98, 0, 1, 0, 12098},
    {"Ctrl+Num3", 99, 0, 1, 0, 12099},
    {"Ctrl+Num4", 100, 0, 1, 0, 12100},
    {"Ctrl+Num5", 101, 0, 1, 0, 12101},
    {"Ctrl+Num6", 102, 0, 1, 0, 12102},
    {"Ctrl+Num7", 103, 0, 1, 0, 12103},
    {"Ctrl+Num8", 104, 0, 1, 0, 12104},
    {"Ctrl+Num9", 105, 0, 1, 0, 12105},
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
  EXPECT_FALSE(CanRunCommand(40004));
  EXPECT_FALSE(DispatchCommand(40004));
  int runs = 0;
  bool allowed = false;
  RegisterCommand(
      40004, [&](int id, CommandSource) { runs += id == 40004; }, [&] { return allowed; });
  EXPECT_FALSE(CanRunCommand(40004));
  EXPECT_FALSE(DispatchCommand(40004));
  allowed = true;
  EXPECT_TRUE(DispatchCommand(40004));
  EXPECT_EQ(runs, 1);
  UnregisterCommand(40004);
  EXPECT_FALSE(DispatchCommand(40004));
  EXPECT_EQ(runs, 1);
}

TEST_F(ShellCore, WithoutAWindowTheViewCallsChangeNothing) {
  EXPECT_FALSE(EnableCommand(40000, true));
  EXPECT_EQ(IsCommandChecked(44001), -1);
  EXPECT_EQ(ToggleCheck(44001, CommandSource::kMenu, 1), 1);
  int runs = 0;
  RegisterCommand(44001, [&](int, CommandSource) { ++runs; });
  SetCheck(44001, true, true);
  ShowSelectionCaptions(1, 2, 3);
  ShowTimeCode(5);
  EXPECT_EQ(runs, 0);
}

TEST_F(ShellCore, RangesAndSingleRegistrations) {
  std::vector<int> seen;
  RegisterCommandRange(50100, 50109, [&](int id, CommandSource) { seen.push_back(id); });
  RegisterCommand(50105, [&](int id, CommandSource) { seen.push_back(-id); });
  EXPECT_TRUE(DispatchCommand(50100));
  EXPECT_TRUE(DispatchCommand(50109));
  EXPECT_TRUE(DispatchCommand(50105));
  EXPECT_FALSE(DispatchCommand(50110));
  EXPECT_EQ(seen, (std::vector<int>{50100, 50109, -50105}));
  UnregisterCommandRange(50100, 50109);
  EXPECT_FALSE(DispatchCommand(50101));
}

TEST_F(ShellCore, KeyboardAliasesReissueTheirCommand) {
  std::vector<int> seen;
  for (int id : {21021, 21020, 21017, 44000, 44001, 51900, 46015, 12100, 12102, 12104, 12098, 12101})
    RegisterCommand(id, [&](int got, CommandSource) { seen.push_back(got); });
  for (int key :
       {10013, 12090, 12089, 12087, 14077, 10045, 11045, 12045, 14046, 12083, 12068, 12069, 12088, 12065})
    EXPECT_TRUE(DispatchCommand(key, CommandSource::kAccelerator)) << key;
  EXPECT_EQ(seen, (std::vector<int>{21021, 21020, 21017, 44000, 44001, 51900, 51900, 51900, 46015, 12100,
                                    12102, 12104, 12098, 12101}));
  // A handler of the key command itself comes first.
  RegisterCommand(10013, [&](int got, CommandSource) { seen.push_back(got); });
  DispatchCommand(10013);
  EXPECT_EQ(seen.back(), 10013);
}

TEST_F(ShellCore, BusyReadingAndPlayingLimitWhatRuns) {
  std::vector<int> seen;
  auto record = [&](int id, CommandSource) { seen.push_back(id); };
  for (int id : {10027, 40000, 41000, 10032, 10037, 12114}) RegisterCommand(id, record);
  int refreshes = 0;
  SetUiRefreshListener([&] { ++refreshes; });
  PushBusyState({41000});
  EXPECT_EQ(refreshes, 1);
  EXPECT_FALSE(CanRunCommand(40000));
  EXPECT_TRUE(CanRunCommand(41000));
  EXPECT_TRUE(CanRunCommand(10027));
  PushBusyState();
  EXPECT_FALSE(CanRunCommand(41000));
  PopBusyState();
  EXPECT_TRUE(CanRunCommand(41000));
  PopBusyState();
  PopBusyState();  // one pop too many changes nothing
  EXPECT_EQ(BusyStateDepth(), 0);
  EXPECT_TRUE(CanRunCommand(40000));
  SetUiRefreshListener(nullptr);

  ME.fReading = 1;
  EXPECT_FALSE(DispatchCommand(40000));
  EXPECT_FALSE(DispatchCommand(10032));
  EXPECT_TRUE(DispatchCommand(10027));
  ME.fReading = 0;
  ME.fPlaying = 1;
  EXPECT_TRUE(DispatchCommand(10032));
  EXPECT_TRUE(DispatchCommand(12114));
  EXPECT_FALSE(DispatchCommand(10037));
  EXPECT_FALSE(DispatchCommand(40000));
  EXPECT_EQ(seen, (std::vector<int>{10027, 10032, 12114}));
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
  EXPECT_EQ(ME.fBusy, 0);
  EXPECT_EQ(ME.fMainInactive, 1);

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
