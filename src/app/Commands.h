// The single command dispatcher of Mirdex. Every command number - from the
// menu bar, the context menu, an accelerator key or a tool-window control -
// reaches DispatchCommand. Subsystems plug in by registering a handler and,
// optionally, a predicate that says whether the command can run now; a command
// without a handler is disabled everywhere it is shown. No Qt in here.
#pragma once
#include <functional>
#include <string>
#include <vector>

// Command numbers the shell itself knows by name.
enum CommandId : int {
  kCmdKeyEnter = 10013,
  kCmdEsc = 10027,
  kCmdAbortButton = 21006,
  kCmdLogFile = 22033,
  kCmdPowerOffAfter = 22034,
  kCmdUseMMX = 22035,
  kCmdUseSSE = 22036,
  kCmdFrameNumberBox = 25007,
  kCmdFrameScrollBar = 28000,
  kCmdStatic30006 = 30006,
  kCmdStatic30007 = 30007,
  kCmdOpen = 40000,
  kCmdOpenAdd = 40001,
  kCmdClose = 40002,
  kCmdExit = 40099,
  kCmdFitWindow = 44000,
  kCmdMixField = 44001,
  kCmdBrightness100 = 44005,
  kCmdShowStatus = 44020,
  kCmdBringTop = 44021,
  kCmdBlinkUndo = 44022,
  kCmdNotShow = 44023,
  kCmdAbortMenu = 44024,
  kCmdShowWave = 44026,
  kCmdDeleteRangeOn = 43007,
  kCmdAbout = 45000,
  kCmdRecentFile0 = 50100,
  kCmdBrightnessApply = 50200,
  kCmdOpenRecord = 50402,
  kCmdMarkBase = 18000,
  kCmdDelSelectBase = 19000,
  kCmdDelDeleteBase = 19500,
  kCmdCursorPosBase = 47020,
};

// Where a command came from; a tool-window check box reports its own new state.
enum class CommandSource { kMenu, kAccelerator, kControl, kSetCheck, kProgram };

using CommandHandler = std::function<void(int id, CommandSource source)>;
using CommandPredicate = std::function<bool()>;

// Registers (or replaces) the handler of one command or of a range of
// commands [first, last]. A single registration wins over a range.
void RegisterCommand(int id, CommandHandler handler, CommandPredicate canRun = {});
void RegisterCommandRange(int first, int last, CommandHandler handler, CommandPredicate canRun = {});
void UnregisterCommand(int id);
void UnregisterCommandRange(int first, int last);
void ClearCommandRegistry();  // tests
bool HasCommandHandler(int id);

// True when the command has a handler, its predicate allows it and the
// current busy state lets it through. This is what menus and controls show.
bool CanRunCommand(int id);

// Runs the command if it may run now; keyboard aliases are re-issued as the
// command they stand for. Returns true when a handler ran.
bool DispatchCommand(int id, CommandSource source = CommandSource::kProgram);

// Busy state of the menus and controls during a multi-frame operation: while
// pushed, only the abort commands and the `allowed` ones may run.
void PushBusyState(std::vector<int> allowed = {});
void PopBusyState();
int BusyStateDepth();

// The user interface redraws menus and controls when told that state changed.
void SetUiRefreshListener(std::function<void()> listener);
void RefreshUi();

// Esc: ends playback, cancels a modal selection tool window, or - after the
// question unless suppressed - stops the running operation.
void AbortCommand();
extern const char kAbortQuestion[];  // "中止しますか?(Y/N)"
// A multi-frame operation that must not ask before stopping sets this.
void SetAbortConfirmation(bool ask);
// A modal tool window of the selection kind installs this while it is open;
// it returns true when it took the cancel.
void SetModalToolCancel(std::function<bool()> cancel);

// The file the next command 50402 opens (command line, drop, recent list).
void SetPendingOpenName(const std::string& path);
std::string TakePendingOpenName();
const std::string& PendingOpenName();

// Number of open files; the file subsystem installs the real count.
void SetOpenFileCountProvider(std::function<int()> provider);
int OpenFileCount();

// The alias a keyboard command is re-issued as, or 0.
int KeyboardAlias(int id);
