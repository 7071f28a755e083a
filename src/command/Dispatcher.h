// The single command dispatcher of Mirdex. Every command number - from the
// menu bar, the context menu, an accelerator key or a tool-window control -
// reaches DispatchCommand. Subsystems plug in by registering a handler and,
// optionally, a predicate that says whether the command can run now; a command
// without a handler is disabled everywhere it is shown. No Qt in here.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "command/CommandIds.h"

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

// The file the next command kCmdOpenRecord opens (command line, drop, recent list).
void SetPendingOpenName(const std::string& path);
std::string TakePendingOpenName();
const std::string& PendingOpenName();

// Number of open files; the file subsystem installs the real count.
void SetOpenFileCountProvider(std::function<int()> provider);
int OpenFileCount();

// The alias a keyboard command is re-issued as, or 0.
int KeyboardAlias(int id);

// Every place that shows a command - menu bar, context menu, tool-window
// control - as seen from code without Qt. The main window installs the real
// view; without one these calls change nothing (EnableCommand gives false,
// IsCommandChecked -1, ToggleCheck the old value).
class CommandView {
 public:
  virtual ~CommandView() = default;
  virtual bool EnableCommand(int id, bool enable) = 0;
  virtual void SetCheck(int id, bool checked, bool notify) = 0;
  virtual int ToggleCheck(int id, CommandSource sender, int oldValue) = 0;
  virtual int IsCommandChecked(int id) = 0;
  virtual void SetItem(int id, const std::string* caption, bool enabled) = 0;
  virtual void SetSelectionCaptions(long start, long end, long lastFrame) = 0;
  virtual void SetMarkEntries(const std::vector<std::string>& captions) = 0;
  virtual void SetDeletionRangeEntries(const std::vector<std::string>& selectCaptions,
                                       const std::vector<std::string>& deleteCaptions) = 0;
  virtual void SetBrightnessCaption(unsigned brightnessPercent) = 0;
  virtual void ShowTimeCode(long frame) = 0;
};
void SetCommandView(CommandView* view);

// Enables or grays the command everywhere. An explicit disable stays in force
// until enabled again; a command also needs a handler that can run now.
bool EnableCommand(int id, bool enable);
// Sets the check mark everywhere; with `notify` the command runs so that its
// handler applies the state (its ToggleCheck then keeps the state just set).
void SetCheck(int id, bool checked, bool notify);
// The command's new check state: the control's own state when the control is
// the sender, else the inverted menu state. When the command is shown
// nowhere, `oldValue` comes back.
int ToggleCheck(int id, CommandSource sender, int oldValue);
// 1 checked, 0 not, -1 shown nowhere.
int IsCommandChecked(int id);
// Caption (when given) and enabled state in the menu bar and the context menu.
void SetItem(int id, const std::string* caption, bool enabled);
// The Selection/Mark popup caption and its two "move to" items; -1 = not set.
void ShowSelectionCaptions(long start, long end, long lastFrame);
// Mark entries kCmdMarkBase + n behind the Selection/Mark popup's last separator.
void ShowMarkEntries(const std::vector<std::string>& captions);
// Entries kCmdDelSelectBase + n and kCmdDelDeleteBase + n of the two deletion-range sub-popups.
void ShowDeletionRangeEntries(const std::vector<std::string>& selectCaptions,
                              const std::vector<std::string>& deleteCaptions);
// "表示/輝度%4.2lf(&D)" with the brightness factor.
void ShowBrightnessCaption(unsigned brightnessPercent);
// Time code of `frame` in status pane 1.
void ShowTimeCode(long frame);
