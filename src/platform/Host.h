// The one way core code reaches the user: message boxes, status panes, the
// window title, the message-pump step. The Qt program installs the real host,
// tests install a recording fake, headless modes use the console host.
#pragma once
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Message-box styles and answers keep the numeric values of the original
// interface, so callers can combine them the same way.
enum : unsigned {
  MB_OK = 0x0,
  MB_OKCANCEL = 0x1,
  MB_YESNOCANCEL = 0x3,
  MB_YESNO = 0x4,
  MB_ICONSTOP = 0x10,
  MB_ICONQUESTION = 0x20,
  MB_ICONEXCLAMATION = 0x30,
  MB_ICONINFORMATION = 0x40,
  MB_TYPEMASK = 0xF,
  MB_ICONMASK = 0xF0,
};
enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

class QWidget;  // panels exist only in the Qt program; core code never makes one

// What an open or save dialog is asked for.
struct FileDialogRequest {
  std::string title;
  std::string initialDir;   // folder to start in (may be empty)
  std::string initialName;  // proposed file name (save dialogs)
  // Filters as (description, patterns), e.g. {"AVIファイル", "*.avi"}.
  std::vector<std::pair<std::string, std::string>> filters;
  std::string defaultExt;  // appended when the typed name has none
  bool save = false;
  bool multiple = false;         // several files may be picked (open only)
  bool overwritePrompt = false;  // ask before replacing an existing file
  std::string settingsKind;      // "Open", "Save", "Wave", "Bmp": remembered folders and placement
  // An option box shown in the dialog's panel when the text is not empty:
  // it starts as *checkBox says and its state is stored there when the user
  // chooses a file (a cancelled dialog leaves it as it was).
  std::string checkBoxText;
  bool* checkBox = nullptr;
  // Panels of the caller below the dialog's own controls: `addPanels` fills
  // the empty `area`; `panelsAccepted` runs when the user chose a file,
  // while the panels still exist, so they can store what they show.
  std::function<void(QWidget* area)> addPanels;
  std::function<void()> panelsAccepted;
};

class Host {
 public:
  virtual ~Host() = default;
  // Shows a box and returns the answer (IDOK, IDYES, IDNO, ...).
  virtual int MessageBox(const std::string& text, const std::string& caption, unsigned style) = 0;
  // A box that closes itself after timeoutMs (0 = never); a box closed by the
  // timer answers as if closed without a choice (IDCANCEL/IDNO).
  virtual int TimedMessageBox(const std::string& text, const std::string& caption, unsigned style,
                              unsigned timeoutMs) {
    (void)timeoutMs;
    return MessageBox(text, caption, style);
  }
  virtual void SetStatusText(int part, const std::string& text) = 0;
  virtual void SetTitle(const std::string& title) = 0;
  // The window's own title ("Mirdex / file [i/n] / codec") with `extra`
  // behind it; "" shows the plain title again. Core code reports progress in
  // the title through this, without knowing which files the window shows.
  virtual void SetTitleSuffix(const std::string& extra) { (void)extra; }
  // One step of the message pump: handle at most one pending event.
  virtual void Pump() = 0;
  virtual void Beep() {}
  // The "working in the background" pointer shown while a file is being read.
  virtual void SetReadingCursor(bool on) { (void)on; }
  // The window's commands as the menus, the context menu and the tool-window
  // controls show them; a host without a window has none.
  // Sets the check mark everywhere; with `notify` the command runs so that
  // its handler applies the state.
  virtual void SetCheck(int id, bool checked, bool notify) {
    (void)id;
    (void)checked;
    (void)notify;
  }
  // Enables or grays the command everywhere; false when it is shown nowhere.
  virtual bool EnableCommand(int id, bool enable) {
    (void)id;
    (void)enable;
    return false;
  }
  // 1 checked, 0 not, -1 shown nowhere.
  virtual int IsCommandChecked(int id) {
    (void)id;
    return -1;
  }
  // While a multi-frame operation runs only the abort commands and the
  // `allowed` ones may run; pushes and pops pair up.
  virtual void PushBusyState(const std::vector<int>& allowed) { (void)allowed; }
  virtual void PopBusyState() {}
  // The menus and controls follow a change of the program's state.
  virtual void RefreshUi() {}
  // The comment dialog of a mark or deletion range: `prompt` above the edit
  // box, which starts with *comment and takes at most 71 characters. True
  // (and *comment set) on OK; false on Cancel or where nobody can answer.
  virtual bool EditComment(const std::string& prompt, std::string* comment) {
    (void)prompt;
    (void)comment;
    return false;
  }
  // The confirmation of an operation that changes the audio in place, with
  // the scope choice (0 the whole audio, 1 the selection, 2 the current
  // frame) that starts at *scope and is stored there on "実行". False on
  // "中止" or where nobody can answer.
  virtual bool ConfirmWithScope(const std::string& operation, int* scope) {
    (void)operation;
    (void)scope;
    return false;
  }
  // Shows a file dialog; false when the user cancelled. Paths are absolute.
  virtual bool ChooseFiles(const FileDialogRequest& request, std::vector<std::string>* paths) {
    (void)request;
    (void)paths;
    return false;
  }
};

// Writes boxes and status texts to standard error and answers every question
// with the default (IDNO for Yes/No boxes, IDOK otherwise). Used by the
// headless command-line forms.
class ConsoleHost : public Host {
 public:
  explicit ConsoleHost(bool quietStatus = true) : quietStatus_(quietStatus) {}
  int MessageBox(const std::string& text, const std::string& caption, unsigned style) override;
  void SetStatusText(int part, const std::string& text) override;
  void SetTitle(const std::string&) override {}
  void Pump() override {}

 private:
  bool quietStatus_;
};

// The host of the headless forms that report progress: boxes go to `err`
// and questions get their default answer (IDNO for Yes/No, IDCANCEL for
// OK/Cancel); on a terminal one progress line, taken from status pane 0 or
// from the title suffix, is redrawn in place.
class TerminalHost : public Host {
 public:
  enum class ProgressFrom { kStatus, kTitle };
  TerminalHost(std::FILE* err, ProgressFrom from);
  ~TerminalHost() override { EndLine(); }
  int MessageBox(const std::string& text, const std::string& caption, unsigned style) override;
  void SetStatusText(int part, const std::string& text) override {
    if (from_ == ProgressFrom::kStatus && part == 0) Show(text);
  }
  void SetTitle(const std::string&) override {}
  void SetTitleSuffix(const std::string& extra) override {
    if (from_ == ProgressFrom::kTitle) Show(extra);
  }
  void Pump() override {}

 private:
  void Show(const std::string& line);
  void EndLine();
  std::FILE* err_;
  bool tty_, open_ = false;
  ProgressFrom from_;
};

Host& CurrentHost();
// Installs `host` (not owned); nullptr restores the console host.
void SetHost(Host* host);

// Installs `host` for the scope's life, then the host before it again.
class HostScope {
 public:
  explicit HostScope(Host* host) : saved_(&CurrentHost()) { SetHost(host); }
  ~HostScope() { SetHost(saved_); }
  HostScope(const HostScope&) = delete;
  HostScope& operator=(const HostScope&) = delete;

 private:
  Host* saved_;
};
