// The main window as the user meets it: the menu tree, check marks shared by
// every place that shows a command, accelerators through real key events, the
// Esc protocol inside a running loop, start-up and close.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QTest>
#include <memory>

#include <sys/stat.h>

#include "AviBuilder.h"
#include "QtTestEnv.h"
#include "TestSupport.h"
#include "app/CommandUi.h"
#include "app/FileCommands.h"
#include "app/KeyFilter.h"
#include "app/MainWindow.h"
#include "app/OptionsWindow.h"
#include "command/Dispatcher.h"
#include "platform/AppState.h"
#include "platform/CpuLevel.h"
#include "platform/Messages.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "settings/MirdexSettings.h"

namespace {

// The menu as text: one line per item, "----" for separators, sub-popups
// indented under their caption.
void Describe(const QMenu* menu, const std::string& indent, std::vector<std::string>& out) {
  for (QAction* a : menu->actions()) {
    if (a->isSeparator()) {
      out.push_back(indent + "----");
    } else if (a->menu()) {
      out.push_back(indent + a->menu()->title().toStdString() + " >");
      Describe(a->menu(), indent + "  ", out);
    } else {
      out.push_back(indent + a->text().toStdString());
    }
  }
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = ME;
    ClearCommandRegistry();
    dir_ = std::make_unique<ScratchDir>();
  }
  void TearDown() override {
    window_.reset();
    ClearCommandRegistry();
    CloseLog();
    ME = saved_;
    dir_.reset();
  }
  MainWindow& Start() {
    window_ = std::make_unique<MainWindow>();
    EXPECT_TRUE(window_->Startup());
    return *window_;
  }
  void ShowActive() {
    EXPECT_TRUE(::ShowActive(window_.get()));
    window_->FrameNumberBox()->setFocus();
  }
  // Registers a recorder for every id in `ids`.
  void Record(const std::vector<int>& ids) {
    for (int id : ids) RegisterCommand(id, [this](int got, CommandSource) { seen_.push_back(got); });
  }

  AppState saved_;
  std::unique_ptr<ScratchDir> dir_;
  std::unique_ptr<MainWindow> window_;
  std::vector<int> seen_;
};

}  // namespace

TEST_F(WindowTest, MenuTreeIsTheProgramsTree) {
  MainWindow& w = Start();
  std::vector<std::string> got;
  for (QAction* top : w.menuBar()->actions()) {
    got.push_back(top->menu()->title().toStdString() + " >");
    Describe(top->menu(), "  ", got);
  }
  const std::vector<std::string> expected = {
      "ファイル(&F) >",
      "  開く(&O)...\tCtrl+O",
      "  追加で開く...\tShift+Ctrl+O",
      "  閉じる(&C)",
      "  ----",
      "  AVIファイルに保存...",
      "  AVIファイルからビデオをコピー...",
      "  AVIファイルからオーディオを読込...",
      "  AVIファイルとビデオのノイズ除去合成...",
      "  AVIファイルとビデオを比較...",
      "  AVIファイルとオーディオ位置を比較...",
      "  ----",
      "  BITMAPファイルにビデオを保存...",
      "  BITMAPファイルからビデオに読込...",
      "  ----",
      "  WAVEファイルにオーディオを保存...",
      "  WAVEファイルにオーディオを設定倍率で保存...",
      "  WAVEファイルをオーディオに読込...",
      "  WAVEファイルに-10～+10フレームのオーディオ保存...",
      "  WAVEファイルに-10～+10フレームのオーディオ保存(801サンプル遅延)...",
      "  ----",
      "  ----",
      "  終了(&X)",
      "ビデオ(&V) >",
      "  ビデオのコマ送り再生\tF5",
      "  ビデオのコマ送り逆再生\tF6",
      "  ビデオのコマ送り差分再生\tF7",
      "  ビデオのコマ送り差分逆再生\tF8",
      "  ビデオの2コマ送り差分再生\tCtrl+F7",
      "  ビデオの2コマ送り差分逆再生\tCtrl+F8",
      "  ----",
      "  フィールドを交互に表示\tF1",
      "  ----",
      "  このフレームを基準に相対フレームNo表示",
      "  相対フレームNo表示を解除",
      "  相対フレームNo表示を復元\tShift+Ctrl+R",
      "  ----",
      "  次のヌルフレームに移動(&N)",
      "  このフレームをインデックスから削除",
      "  このフレームのインデックスをヌルにする",
      "  インデックスのこの位置にヌルフレームを挿入",
      "  全てのヌルフレームをインデックスから削除",
      "  表示中のAVIファイルのインデックスを作成し直す",
      "  ----",
      "  輝度の平滑化...",
      "  上フィールドの輝度を平滑化",
      "  下フィールドの輝度を平滑化",
      "  画像選択範囲の輝度を参照フレームで調整",
      "  輝度の平均化",
      "  ----",
      "  上フィールドを前後の上フィールド和で置き換える",
      "  下フィールドを前後の下フィールド和で置き換える",
      "  上フィールドを前後の下フィールド和で置き換える",
      "  下フィールドを前後の上フィールド和で置き換える",
      "  上フィールドを前後の上+下フィールド和で置き換える",
      "  下フィールドを前後の下+上フィールド和で置き換える",
      "  ----",
      "  フィールドを反転",
      "  ----",
      "  クリップボードにビデオをコピー\tShift+Ctrl+C",
      "  クリップボードからビデオに張り付け\tShift+Ctrl+V",
      "  ----",
      "  コーデックの設定",
      "  表示中のAVIファイルの参照ファイルを調べる",
      "オーディオ(&A) >",
      "  オーディオ再生\tCtrl+F5",
      "  選択範囲をオーディオ再生\tCtrl+F6",
      "  ----",
      "  オーディオをフェードイン",
      "  オーディオをフェードアウト",
      "  ----",
      "  オーディオの倍率を上限100%でチェック",
      "  オーディオの音量を 1.000倍に変更",
      "  ----",
      "  CDVCコーデックの音声過不足チェック",
      "フレーム選択範囲/マーク(&S) >",
      "  開始フレームに指定(&B)\tCtrl+[",
      "  開始フレームに移動",
      "  終了フレームに指定(&E)\tCtrl+]",
      "  終了フレームに移動",
      "  ----",
      "  フレーム削除範囲に選択範囲を追加(&A)",
      "  フレーム削除範囲を選択 >",
      "    ",
      "  フレーム削除範囲を削除 >",
      "    ",
      "  全ての削除範囲を削除",
      "  フレーム削除範囲有効",
      "  ----",
      "  このフレームをマーク(&M)",
      "  このフレームのマークを削除(&D)",
      "  全てのマークを削除(&A)",
      "  ----",
      "  フレームマーク/削除範囲をファイルに保存",
      "  フレームマーク/削除範囲をファイルから読込",
      "  ----",
      "表示/輝度(&D) >",
      "  ウインドウサイズに合わせて表示(&W)\tCtrl+W",
      "  フィールドを混合して表示(&M)\tAlt+M",
      "  ----",
      "  0.25倍の明るさで表示",
      "  0.50倍の明るさで表示",
      "  0.75倍の明るさで表示",
      "  1.00倍の明るさで表示",
      "  1.50倍の明るさで表示",
      "  2.00倍の明るさで表示",
      "  2.50倍の明るさで表示",
      "  3.00倍の明るさで表示",
      "  3.50倍の明るさで表示",
      "  4.00倍の明るさで表示",
      "  明るさを0.1倍暗く表示",
      "  明るさを0.1倍明るく表示",
      "  明るさを0.01倍暗く表示",
      "  明るさを0.01倍明るく表示",
      "  ----",
      "  オプション(&O)...",
      "  音量の変更(&V)...",
      "  フレームの修正(&E)...",
      "  フィールドずれ調整(&F)...",
      "  ステータスウインドウを表示(&S)",
      "  オーディオ波形を表示(&W)",
      "  ----",
      "  前面表示",
      "  フレーム修正の変更戻し/し直しで反転表示",
      "  複数フレーム処理中に画面表示を停止",
      "  ----",
      "  中止\tESC",
      "バージョン情報 >",
      "  バージョン情報...",
  };
  w.RefreshBeforePopup();  // the audio captions are filled in before showing
  got.clear();
  for (QAction* top : w.menuBar()->actions()) {
    got.push_back(top->menu()->title().toStdString() + " >");
    Describe(top->menu(), "  ", got);
  }
  EXPECT_EQ(got, expected);

  std::vector<std::string> context;
  Describe(w.Menu(kMenuContext), "", context);
  const std::vector<std::string> expectedContext = {
      "ウインドウサイズで表示\tF2",
      "フィールドを混合",
      "差分画像表示",
      "前方のフレームを参照",
      "他フィールドを参照",
      "自フレームの他フィールドを参照",
      "直近の他フレームを参照",
      "両フィールドを選択",
      "上フィールドを選択",
      "下フィールドを選択",
      "画像選択範囲を解除",
      "画像選択範囲を参照フレームで置換",
      "画像選択範囲の輝度を参照フレームで調整",
      "画像選択範囲を上下の画素平均で置換",
      "ここのノイズを上下の画素平均で置換",
      "このラインを上下の画素平均で置換",
      "このラインを参照フレームで置換",
      "----",
      "修正内容を保存",
      "修正を1つ戻す",
      "修正を1つし直す",
      "修正内容を破棄",
  };
  EXPECT_EQ(context, expectedContext);
  std::vector<std::string> cursor;
  Describe(w.Menu(kMenuCursor), "", cursor);
  EXPECT_EQ(cursor, std::vector<std::string>{"0,0"});

  // 1.00 is checked from the start; the three correction items start grayed.
  EXPECT_TRUE(FindCommandAction(44005)->isChecked());
  RegisterCommand(21020, [](int, CommandSource) {});
  RefreshCommandStates();
  EXPECT_FALSE(FindCommandAction(21020)->isEnabled());
  EnableCommand(21020, true);
  EXPECT_TRUE(FindCommandAction(21020)->isEnabled());
}

TEST_F(WindowTest, CommandsWithoutHandlerAreGrayedAndHandlersEnableThem) {
  MainWindow& w = Start();
  QAction* save = FindCommandAction(40004);
  ASSERT_NE(save, nullptr);
  EXPECT_FALSE(save->isEnabled());
  EXPECT_TRUE(FindCommandAction(45000)->isEnabled());
  EXPECT_TRUE(FindCommandAction(40099)->isEnabled());
  EXPECT_TRUE(FindCommandAction(44024)->isEnabled());
  bool fileOpen = false;
  RegisterCommand(
      40004, [this](int id, CommandSource) { seen_.push_back(id); }, [&] { return fileOpen; });
  w.RefreshBeforePopup();
  EXPECT_FALSE(save->isEnabled());
  fileOpen = true;
  w.RefreshBeforePopup();
  EXPECT_TRUE(save->isEnabled());
  save->trigger();
  EXPECT_EQ(seen_, std::vector<int>{40004});
  // A busy operation grays it again, but not the abort item.
  PushBusyState();
  EXPECT_FALSE(save->isEnabled());
  EXPECT_TRUE(FindCommandAction(44024)->isEnabled());
  PopBusyState();
  EXPECT_TRUE(save->isEnabled());
}

TEST_F(WindowTest, ToggleShowsTheSameCheckInMenuBarContextMenuAndControl) {
  MainWindow& w = Start();
  int state = 0;
  RegisterCommand(44001, [&](int id, CommandSource src) { state = ToggleCheck(id, src, state); });
  RefreshCommandStates();
  QWidget tool;
  auto* box = new QCheckBox("フィールドを混合", &tool);
  box->setCheckable(true);
  RegisterControl(44001, box);
  QAction* barItem = FindCommandAction(44001);
  QAction* contextItem = FindItemByCaption(w.Menu(kMenuContext), "フィールドを混合");
  ASSERT_NE(contextItem, nullptr);
  ASSERT_NE(barItem, contextItem);  // its own caption in the context menu
  auto all = [&] {
    return std::vector<int>{state, barItem->isChecked(), contextItem->isChecked(), box->isChecked()};
  };
  barItem->trigger();
  EXPECT_EQ(all(), (std::vector<int>{1, 1, 1, 1}));
  contextItem->trigger();
  EXPECT_EQ(all(), (std::vector<int>{0, 0, 0, 0}));
  box->click();  // the box's own new state counts
  EXPECT_EQ(all(), (std::vector<int>{1, 1, 1, 1}));
  SetCheck(44001, false, true);  // applied through the handler, state kept
  EXPECT_EQ(all(), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_TRUE(box->isEnabled());
  EnableCommand(44001, false);
  EXPECT_FALSE(box->isEnabled());
  EXPECT_FALSE(barItem->isEnabled());
  EXPECT_FALSE(contextItem->isEnabled());
  EXPECT_EQ(FindControl(44001), box);
  delete box;
  EXPECT_EQ(FindControl(44001), nullptr);

  // A command shown only in a menu still toggles through Set check + notify.
  QAction* notShow = FindCommandAction(44023);
  SetCheck(44023, true, true);
  EXPECT_TRUE(notShow->isChecked());
  EXPECT_EQ(mirdexSettings.notShow, 1);
  notShow->trigger();
  EXPECT_FALSE(notShow->isChecked());
  EXPECT_EQ(mirdexSettings.notShow, 0);
}

TEST_F(WindowTest, EveryAcceleratorReachesItsCommand) {
  MainWindow& w = Start();
  ShowActive();
  struct K {
    int key;
    Qt::KeyboardModifiers mods;
    int command;
  };
  const Qt::KeyboardModifiers N = Qt::NoModifier, S = Qt::ShiftModifier, C = Qt::ControlModifier,
                              A = Qt::AltModifier, CS = C | S, KP = Qt::KeypadModifier;
  const K keys[] = {
      {Qt::Key_Left, N, 10037},       {Qt::Key_Right, N, 10039},       {Qt::Key_Delete, N, 10046},
      {Qt::Key_Up, N, 10038},         {Qt::Key_Down, N, 10040},        {Qt::Key_Backspace, A, 14008},
      {Qt::Key_Return, N, 10013},     {Qt::Key_Return, C, 21030},      {Qt::Key_Escape, N, 10027},
      {Qt::Key_Space, N, 10032},      {Qt::Key_Space, S, 11032},       {Qt::Key_A, C, 12065},
      {Qt::Key_C, CS, 41032},         {Qt::Key_D, C, 12068},           {Qt::Key_E, C, 12069},
      {Qt::Key_M, A, 14077},          {Qt::Key_O, C, 40000},           {Qt::Key_O, CS, 40001},
      {Qt::Key_R, C, 12082},          {Qt::Key_R, CS, 13082},          {Qt::Key_S, C, 12083},
      {Qt::Key_V, CS, 41033},         {Qt::Key_W, C, 12087},           {Qt::Key_X, C, 12088},
      {Qt::Key_Y, C, 12089},          {Qt::Key_Z, C, 12090},           {Qt::Key_Comma, C, 43002},
      {Qt::Key_Period, C, 43004},     {Qt::Key_BracketLeft, C, 43001}, {Qt::Key_BracketRight, C, 43003},
      {Qt::Key_F1, N, 10112},         {Qt::Key_F2, N, 10113},          {Qt::Key_F3, N, 10114},
      {Qt::Key_F3, C, 12114},         {Qt::Key_F4, N, 10115},          {Qt::Key_F4, C, 12115},
      {Qt::Key_F5, N, 10116},         {Qt::Key_F5, C, 12116},          {Qt::Key_F6, N, 10117},
      {Qt::Key_F6, C, 12117},         {Qt::Key_F7, N, 10118},          {Qt::Key_F7, C, 12118},
      {Qt::Key_F8, N, 10119},         {Qt::Key_F8, C, 12119},          {Qt::Key_F9, N, 10120},
      {Qt::Key_F10, N, 10121},        {Qt::Key_F11, N, 10122},         {Qt::Key_F12, N, 10123},
      {Qt::Key_Left, C, 12037},       {Qt::Key_Left, CS, 13037},       {Qt::Key_Up, C, 12038},
      {Qt::Key_Up, S, 11038},         {Qt::Key_Up, CS, 13038},         {Qt::Key_Right, C, 12039},
      {Qt::Key_Right, CS, 13039},     {Qt::Key_Down, C, 12040},        {Qt::Key_Down, S, 11040},
      {Qt::Key_Down, CS, 13040},      {Qt::Key_Insert, N, 10045},      {Qt::Key_Insert, C, 12045},
      {Qt::Key_Insert, S, 11045},     {Qt::Key_Delete, C, 12046},      {Qt::Key_Delete, A, 14046},
      {Qt::Key_Delete, S, 11046},     {Qt::Key_Delete, CS, 13046},     {Qt::Key_Home, N, 50606},
      {Qt::Key_Home, C, 12036},       {Qt::Key_Home, S, 11036},        {Qt::Key_Home, CS, 13036},
      {Qt::Key_End, N, 50604},        {Qt::Key_End, C, 50605},         {Qt::Key_End, S, 11035},
      {Qt::Key_End, CS, 12035},       {Qt::Key_PageDown, N, 50601},    {Qt::Key_PageDown, C, 50603},
      {Qt::Key_PageDown, S, 50602},   {Qt::Key_PageUp, N, 50608},      {Qt::Key_PageUp, C, 50610},
      {Qt::Key_PageUp, S, 50609},     {Qt::Key_Slash, KP, 10111},      {Qt::Key_Asterisk, KP, 10106},
      {Qt::Key_Minus, C | KP, 12109}, {Qt::Key_Plus, C | KP, 12107},   {Qt::Key_0, C | KP, 12096},
      {Qt::Key_1, C | KP, 12097},     {Qt::Key_2, C | KP, 12098},      {Qt::Key_3, C | KP, 12099},
      {Qt::Key_4, C | KP, 12100},     {Qt::Key_5, C | KP, 12101},      {Qt::Key_6, C | KP, 12102},
      {Qt::Key_7, C | KP, 12103},     {Qt::Key_8, C | KP, 12104},      {Qt::Key_9, C | KP, 12105},
  };
  ASSERT_EQ(sizeof keys / sizeof keys[0], 93u);
  std::vector<int> expected;
  for (const K& k : keys) expected.push_back(k.command);
  ClearCommandRegistry();  // only the recorders this time
  Record(expected);
  RefreshCommandStates();
  // Frame corrections pending: the box is read-only and table 0 applies.
  w.FrameNumberBox()->setReadOnly(true);
  for (const K& k : keys) QTest::keyClick(w.FrameNumberBox(), static_cast<Qt::Key>(k.key), k.mods);
  EXPECT_EQ(seen_, expected);

  // Without pending corrections Left and Right stay with the box's caret.
  seen_.clear();
  w.FrameNumberBox()->setReadOnly(false);
  w.FrameNumberBox()->setText("1234");
  w.FrameNumberBox()->setCursorPosition(2);
  QTest::keyClick(w.FrameNumberBox(), Qt::Key_Left);
  QTest::keyClick(w.FrameNumberBox(), Qt::Key_Delete);
  QTest::keyClick(w.FrameNumberBox(), Qt::Key_Left, C);
  EXPECT_EQ(w.FrameNumberBox()->cursorPosition(), 1);
  EXPECT_EQ(seen_, (std::vector<int>{10046, 12037}));
}

TEST_F(WindowTest, ToolWindowsInFrontLeaveOutTheirKeys) {
  MainWindow& w = Start();
  ShowActive();
  Record({10037, 10039, 10046, 10038, 10040, 10116, 12087});
  RefreshCommandStates();
  QWidget volume;  // the volume and field-shift windows keep Up and Down
  volume.setProperty(kAccelKindProperty, "fieldShiftOrVolume");
  QWidget other;
  auto* volumeEdit = new QLineEdit(&volume);
  auto* otherEdit = new QLineEdit(&other);
  EXPECT_EQ(w.Accelerators()->TableFor(&w), 1);
  EXPECT_EQ(w.Accelerators()->TableFor(&volume), 2);
  EXPECT_EQ(w.Accelerators()->TableFor(&other), 3);
  for (Qt::Key k : {Qt::Key_Left, Qt::Key_Right, Qt::Key_Delete, Qt::Key_Up, Qt::Key_Down, Qt::Key_F5})
    QTest::keyClick(volumeEdit, k);
  QTest::keyClick(volumeEdit, Qt::Key_W, Qt::ControlModifier);
  EXPECT_EQ(seen_, (std::vector<int>{10038, 10040, 10116, 12087}));
  seen_.clear();
  for (Qt::Key k : {Qt::Key_Left, Qt::Key_Right, Qt::Key_Delete, Qt::Key_Up, Qt::Key_Down, Qt::Key_F5})
    QTest::keyClick(otherEdit, k);
  EXPECT_EQ(seen_, (std::vector<int>{10116}));
}

TEST_F(WindowTest, EscInsideARunningLoopAsksAndStopsOnlyOnYes) {
  MainWindow& w = Start();
  ShowActive();
  RecordingHost host;  // answers the question; the window itself is real
  int stoppedAt = -1;
  auto runLoop = [&](int escAt, int answer) {
    stoppedAt = -1;
    ME.fAbort = 0;
    ME.fBusy = 1;
    PushBusyState();
    host.pumps = 0;
    host.answers = {answer};
    host.onPump = [&](int n) {
      if (n == escAt) QTest::keyClick(w.FrameNumberBox(), Qt::Key_Escape);
    };
    for (int unit = 0; unit < 10; ++unit) {
      if (PumpAndTestAbort()) {
        stoppedAt = unit;
        break;
      }
    }
    PopBusyState();
    ME.fBusy = 0;
  };
  runLoop(3, IDNO);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "中止しますか?(Y/N)");
  EXPECT_EQ(host.boxes[0].caption, "Mirdex");
  EXPECT_EQ(stoppedAt, -1);  // "No" lets the loop finish
  runLoop(3, IDYES);
  EXPECT_EQ(host.boxes.size(), 2u);
  EXPECT_EQ(stoppedAt, 2);  // stops at the test right after the pump that saw Esc
  EXPECT_EQ(ME.fMainInactive, 1);

  // The menu item and the hidden button are the same command.
  ME.fBusy = 1;
  ME.fAbort = 0;
  host.answers = {IDYES};
  FindCommandAction(44024)->trigger();
  EXPECT_EQ(ME.fAbort, 1);
  ME.fBusy = 1;
  ME.fAbort = 0;
  host.answers = {IDYES};
  DispatchCommand(21006, CommandSource::kControl);
  EXPECT_EQ(ME.fAbort, 1);
  EXPECT_EQ(host.boxes.size(), 4u);
}

TEST_F(WindowTest, StartUpAppliesTheSettingsFile) {
  WriteFileBytes(SettingsPath(),
                 "[Window]\r\nPosLeft=40\r\nPosTop=30\r\nPosRight=20\r\nPosBottom=400\r\n"
                 "[Setting]\r\nLogFile=Yes\r\nNotShow=yes\r\nFrameRate=2997/100\r\n"
                 "[AviFiles]\r\nFile0=/v/a&b.avi\r\nFile1=/v/c.avi\r\n"
                 "[/nonexistent/gone.avi]\r\nFrameNo=5\r\n");
  ForgetProfileCache();
  MainWindow& w = Start();
  EXPECT_EQ(w.windowTitle(), "Mirdex");
  EXPECT_EQ(w.StatusPane(0)->text(), "ようこそ Mirdex へ");
  // PosRight <= PosLeft: the position comes back, the size stays.
  EXPECT_EQ(w.pos(), QPoint(40, 30));
  EXPECT_EQ(w.size(), QSize(720, 560));
  EXPECT_TRUE(LogIsOpen());
  EXPECT_TRUE(FindCommandAction(22033)->isChecked());
  EXPECT_TRUE(FindCommandAction(44023)->isChecked());
  EXPECT_EQ(w.FrameRate(), 29.97);
  // The tidy dropped the section of a file that is gone and kept a backup.
  EXPECT_EQ(ReadFileBytes(SettingsPath()).find("gone.avi"), std::string::npos);
  EXPECT_NE(ReadFileBytes(SettingsPath() + ".bak").find("gone.avi"), std::string::npos);

  QList<QAction*> file = w.Menu(kMenuFile)->actions();
  const int at = kRecentFilePosition;
  ASSERT_EQ(file.size(), at + 4);
  EXPECT_EQ(file[at]->text().toStdString(), "0. /v/a&&b.avi");
  EXPECT_EQ(file[at + 1]->text().toStdString(), "1. /v/c.avi");
  EXPECT_TRUE(file[at + 2]->isSeparator());
  EXPECT_EQ(file[at]->data().toInt(), 50100);

  // Time code of the current frame in pane 1.
  const std::pair<long, const char*> codes[] = {
      {0, "00:00:00:00"}, {30, "00:00:01:00"}, {1798, "00:00:59:30"}, {1799, "00:01:00:01"}};
  for (auto [frame, text] : codes) {
    ShowTimeCode(frame);
    EXPECT_EQ(w.StatusPane(1)->text().toStdString(), text);
  }
}

TEST_F(WindowTest, RecentFilesFillTheirPositionsOnAndTenAtMost) {
  MainWindow& w = Start();
  RegisterCommandRange(50100, 50109, [this](int id, CommandSource) { seen_.push_back(id); });
  for (int i = 0; i < 11; ++i) AddRecentFile(mirdexSettings, "/v/" + std::to_string(i) + ".avi");
  w.RebuildRecentFiles();
  RefreshCommandStates();
  QList<QAction*> file = w.Menu(kMenuFile)->actions();
  const int at = kRecentFilePosition;
  ASSERT_EQ(file.size(), at + 12);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(file[at + i]->text().toStdString(),
              std::to_string(i) + ". /v/" + std::to_string(10 - i) + ".avi");
    EXPECT_EQ(file[at + i]->data().toInt(), 50100 + i);
  }
  EXPECT_TRUE(file[at + 10]->isSeparator());
  file[at + 2]->trigger();
  EXPECT_EQ(seen_, std::vector<int>{50102});
  // A second rebuild changes captions in place.
  AddRecentFile(mirdexSettings, "/v/new.avi");
  w.RebuildRecentFiles();
  file = w.Menu(kMenuFile)->actions();
  EXPECT_EQ(file.size(), at + 12);
  EXPECT_EQ(file[at]->text().toStdString(), "0. /v/new.avi");
}

TEST_F(WindowTest, DynamicCaptionsFollowTheirState) {
  // Through the calls that code without Qt uses.
  MainWindow& w = Start();
  ShowSelectionCaptions(10, 19, 99);
  QAction* select = FindItemByCaption(w.menuBar(), "選択範囲");
  ASSERT_NE(select, nullptr);
  EXPECT_EQ(select->menu()->title().toStdString(), "フレーム選択範囲(10)/マーク(&S)");
  EXPECT_EQ(FindCommandAction(43002)->text().toStdString(), "開始フレームに移動 (000010)\tCtrl+<");
  EXPECT_EQ(FindCommandAction(43004)->text().toStdString(), "終了フレームに移動 (000019)\tCtrl+>");
  ShowSelectionCaptions(-1, -1, 99);  // found again by its caption after the change
  EXPECT_EQ(FindItemByCaption(w.menuBar(), "選択範囲")->menu()->title().toStdString(),
            "フレーム選択範囲(all)/マーク(&S)");
  ShowBrightnessCaption(150);
  EXPECT_EQ(w.Menu(kMenuDisplay)->title().toStdString(), "表示/輝度1.50(&D)");

  ShowMarkEntries({"0.マーク位置 000005 に移動？ [a.avi]", "1.マーク位置 000009 に移動？ [a.avi]"});
  QList<QAction*> sel = w.Menu(kMenuSelect)->actions();
  EXPECT_EQ(sel.back()->data().toInt(), 18001);
  EXPECT_EQ(sel[sel.size() - 2]->text().toStdString(), "0.マーク位置 000005 に移動？ [a.avi]");
  ShowMarkEntries({});
  EXPECT_TRUE(w.Menu(kMenuSelect)->actions().back()->isSeparator());

  ShowDeletionRangeEntries({"0.a", "1.b"}, {"0.c", "1.d"});
  QList<QAction*> del = w.Menu(kMenuDelDelete)->actions();
  ASSERT_EQ(del.size(), 2);
  EXPECT_EQ(del[0]->data().toInt(), 19500);
  EXPECT_EQ(del[1]->text().toStdString(), "1.d");
  ShowDeletionRangeEntries({}, {});
  EXPECT_EQ(w.Menu(kMenuDelSelect)->actions().size(), 1);

  w.SetCursorPositions({{5, 120, true, 3}, {7, 8, false, 4}});
  QList<QAction*> cur = w.Menu(kMenuCursor)->actions();
  ASSERT_EQ(cur.size(), 2);
  EXPECT_EQ(cur[0]->text().toStdString(), "X=  5, Y=120\tShift+Ctrl+3");
  EXPECT_EQ(cur[1]->data().toInt(), 47021);
}

TEST_F(WindowTest, CloseIsRefusedWhileBusyAndWritesTheSettings) {
  MainWindow& w = Start();
  w.show();
  w.move(60, 50);
  SetCheck(44001, true, false);
  ME.fBusy = 1;
  QCloseEvent refused;
  QApplication::sendEvent(&w, &refused);
  EXPECT_FALSE(refused.isAccepted());
  EXPECT_FALSE(FileExists(SettingsPath()) &&
               ReadFileBytes(SettingsPath()).find("MixField") != std::string::npos);
  ME.fBusy = 0;
  // So does a file being read (its index may be scanned with the window pumping).
  ME.fReading = 1;
  QCloseEvent reading;
  QApplication::sendEvent(&w, &reading);
  EXPECT_FALSE(reading.isAccepted());
  ME.fReading = 0;
  // Open files that the user keeps open stop the close too.
  int open = 1;
  SetOpenFileCountProvider([&] { return open; });
  Record({40002});
  QCloseEvent kept;
  QApplication::sendEvent(&w, &kept);
  EXPECT_FALSE(kept.isAccepted());
  EXPECT_EQ(seen_, std::vector<int>{40002});
  RegisterCommand(40002, [&](int, CommandSource) { open = 0; });
  QCloseEvent accepted;
  QApplication::sendEvent(&w, &accepted);
  EXPECT_TRUE(accepted.isAccepted());
  ForgetProfileCache();
  EXPECT_EQ(GetProfileText("Setting", "MixField", "", SettingsPath()), "Yes");
  EXPECT_EQ(GetProfileText("Window", "PosLeft", "", SettingsPath()), std::to_string(w.pos().x()));
  // The next start gets the same size back, not one that grew by the frame.
  EXPECT_EQ(GetProfileText("Window", "PosRight", "", SettingsPath()),
            std::to_string(w.pos().x() + w.width()));
  EXPECT_EQ(GetProfileText("Window", "PosBottom", "", SettingsPath()),
            std::to_string(w.pos().y() + w.height()));
  EXPECT_EQ(GetProfileText("Window", "Maximize", "", SettingsPath()), "No");
}

TEST_F(WindowTest, CommandLineAndDropOpenThroughTheOpenCommand) {
  MainWindow& w = Start();
  std::string file = dir_->File("take 1.avi");
  WriteFileBytes(file, "RIFF");
  std::vector<std::string> opened;
  RegisterCommand(50402, [&](int, CommandSource) { opened.push_back(TakePendingOpenName()); });
  w.OpenFromCommandLine({"/line:", "7", dir_->File("missing.avi")});
  w.OpenFromCommandLine({"/line:7", file});
  QCoreApplication::processEvents();
  EXPECT_EQ(opened, std::vector<std::string>{file});
  // A drop closes what is open first and stops when files stay open.
  int open = 1;
  SetOpenFileCountProvider([&] { return open; });
  Record({40002});
  w.OpenDroppedFile(file);
  EXPECT_EQ(opened.size(), 1u);
  RegisterCommand(40002, [&](int, CommandSource) { open = 0; });
  w.OpenDroppedFile(file);
  EXPECT_EQ(opened.size(), 2u);
}

// The start-up's open of the file named on the command line, deep in
// Japanese folders (a path far over the old 260-byte limit): the table holds
// it and the title names it in full.
TEST_F(WindowTest, CommandLineOpensAFileDeepInJapaneseFolders) {
  // As the program starts: the file commands first, then the start-up.
  window_ = std::make_unique<MainWindow>();
  MainWindow& w = *window_;
  RegisterFileCommands(w.Shown().table);
  ASSERT_TRUE(w.Startup());
  std::string path = dir_->path();
  for (int level = 1; level <= 11; ++level) {
    path += "撮影データ保存先フォルダ第" + std::to_string(level) + "階層/";
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path;
  }
  path += "長時間収録ファイル.avi";
  ASSERT_GT(path.size(), 400u);
  AviBuildOptions o;
  o.frames = Frames(3, 16 * 16 * 3);
  ASSERT_TRUE(WriteFileBytes(path, BuildAvi(o).bytes));
  // A box about a failed open is closed and reported, not waited on.
  std::string boxes;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      boxes += box->text().toStdString() + "\n";
      box->reject();
    }
  });
  closer.start(20);
  w.OpenFromCommandLine({path});
  QCoreApplication::processEvents();
  EXPECT_EQ(boxes, "");
  ASSERT_EQ(w.Shown().table.nOpenAvi, 1);
  EXPECT_EQ(w.Shown().table.pOpenAviList[0].szFileName, path);
  EXPECT_NE(w.windowTitle().toStdString().find(" / " + path + " [1/1]"), std::string::npos)
      << w.windowTitle().toStdString();
}

TEST_F(WindowTest, ShellTogglesKeepTheirState) {
  CpuLevelCapScope keep(CpuLevelCap());
  ME.fHasSSE = 1;  // so that the UseSSE item exists
  MainWindow& w = Start();
  (void)w;
  ASSERT_FALSE(LogIsOpen());
  DispatchCommand(22033, CommandSource::kMenu);
  EXPECT_TRUE(LogIsOpen());
  EXPECT_EQ(mirdexSettings.logFile, 1);
  Log("line\n");
  DispatchCommand(22033, CommandSource::kMenu);
  EXPECT_FALSE(LogIsOpen());
  DispatchCommand(22033, CommandSource::kMenu);  // reopened: earlier lines stay
  Log("more\n");
  EXPECT_EQ(ReadFileBytes(LogPath()), "line\nmore\n");
  DispatchCommand(22034, CommandSource::kMenu);
  EXPECT_EQ(ME.nPowerOffAfter, 1);
  DispatchCommand(22034, CommandSource::kMenu);
  EXPECT_EQ(ME.nPowerOffAfter, -2);
  EXPECT_EQ(CanRunCommand(22035), ME.fHasMMX != 0);
  // "UseSSE" off keeps the kernels plain, on again lifts that.
  for (int i = 0; i < 2; ++i) {
    const int before = ME.fUseSSE;
    DispatchCommand(22036, CommandSource::kMenu);
    ASSERT_NE(ME.fUseSSE, before);
    EXPECT_EQ(CpuLevel(), ME.fUseSSE ? DetectedCpuLevel() : VectorLevel::Plain);
  }
}

TEST_F(WindowTest, OptionsWindowEditsTheSettingsAndTheSharedSwitches) {
  MainWindow& w = Start();
  DispatchCommand(kCmdOptions, CommandSource::kMenu);
  QDialog* options = OptionsWindow();
  ASSERT_NE(options, nullptr);
  EXPECT_EQ(FindControl(22035)->isEnabled(), ME.fHasMMX != 0);
  EXPECT_FALSE(FindControl(21023)->isEnabled());
  // Power-off can be chosen only while a run goes on; it is the menu's switch.
  auto* power = qobject_cast<QCheckBox*>(FindControl(22034));
  ASSERT_NE(power, nullptr);
  EXPECT_FALSE(power->isEnabled());
  SetPowerOffChoiceEnabled(true);
  power->click();
  EXPECT_EQ(ME.nPowerOffAfter, 1);
  EXPECT_EQ(IsCommandChecked(22034), 1);
  SetPowerOffChoiceEnabled(false);
  qobject_cast<QCheckBox*>(FindControl(22033))->click();
  EXPECT_EQ(mirdexSettings.logFile, 1);
  EXPECT_EQ(IsCommandChecked(22033), 1);
  // A typed rate is filtered, shown parsed, and applied with the switch.
  auto* rate = qobject_cast<QComboBox*>(FindControl(23000));
  ASSERT_NE(rate, nullptr);
  rate->lineEdit()->clear();
  QTest::keyClicks(rate->lineEdit(), "25x/1");
  EXPECT_EQ(GetControlText(23000), "25/1");
  EXPECT_DOUBLE_EQ(GetControlDouble(30013), 25.0);
  qobject_cast<QCheckBox*>(FindControl(22031))->click();
  EXPECT_DOUBLE_EQ(w.Shown().table.EffectiveFrameRate(), 25.0);
  EXPECT_STREQ(mirdexSettings.frameRate, "25/1");
  EXPECT_EQ(std::string(mirdexSettings.frameRateList), "25/1|30000/1001");
  EXPECT_TRUE(SetControlInt(25032, 12));
  EXPECT_EQ(mirdexSettings.playSync, 12u);
  options->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(GetControlInt(25032), 0);  // closed: nothing answers
  DispatchCommand(22033, CommandSource::kMenu);
}

TEST_F(WindowTest, StartUpDeletesOnlyOurStaleWorkFiles) {
  const char* oldTmp = std::getenv("TMPDIR");
  std::string savedTmp = oldTmp ? oldTmp : "";
  setenv("TMPDIR", dir_->path().c_str(), 1);
  std::string ours = dir_->File("$QZ0001.TMP"), foreign = dir_->File("$QZ0002.TMP");
  WriteFileBytes(ours,
                 ListChunk("RIFF", "WAVE", Chunk("JUNK", std::string("This file is made by Mirdex") + '\0')));
  WriteFileBytes(foreign,
                 ListChunk("RIFF", "WAVE", Chunk("JUNK", std::string("Another program wrote this") + '\0')));
  Start();
  if (oldTmp)
    setenv("TMPDIR", savedTmp.c_str(), 1);
  else
    unsetenv("TMPDIR");
  EXPECT_FALSE(FileExists(ours));
  EXPECT_TRUE(FileExists(foreign));
}

TEST_F(WindowTest, PlacementKeepsTheWindowOnTheScreenWithoutResizing) {
  MainWindow& w = Start();
  w.show();
  QRect desk = w.screen()->availableGeometry();
  QSize size = w.frameGeometry().size();
  QPoint far(desk.right() + 500, desk.bottom() + 500);
  w.PlaceWindow(&far);
  EXPECT_EQ(w.frameGeometry().right(), desk.right());
  EXPECT_EQ(w.frameGeometry().bottom(), desk.bottom());
  QPoint before(desk.left() - 300, desk.top() - 300);
  w.PlaceWindow(&before);
  EXPECT_EQ(w.frameGeometry().topLeft(), desk.topLeft());
  EXPECT_EQ(w.frameGeometry().size(), size);
}

TEST_F(WindowTest, AboutBoxNamesProgramAndVersion) {
  Start();
  std::string title, text, info;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    title = box->windowTitle().toStdString();
    text = box->text().toStdString();
    info = box->informativeText().toStdString();
    box->accept();
  });
  DispatchCommand(45000, CommandSource::kMenu);
  EXPECT_EQ(title, "バージョン情報");
  EXPECT_EQ(text, "Mirdex Ver 1.00");
  EXPECT_EQ(info.rfind("AVI file checker", 0), 0u);
}
