// Quendrix's window: the period and direction inputs, the list of changed
// positions and a status line. A WAVE file dropped on it (or named on the
// command line) is processed at once; Ctrl+S saves the list beside the output,
// Esc stops a run.
#pragma once
#include <QWidget>
#include <memory>
#include <string>

#include "quendrix/QuendrixSettings.h"
#include "quendrix/WaveAdjust.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QRadioButton;

class QuendrixWindow : public QWidget {
 public:
  // Control and command ids.
  enum : int {
    kIdShorten = 1000,
    kIdExtend = 1001,
    kIdDispose = 1002,
    kIdList = 1003,
    kIdRange = 1004,
    kIdStatus = 1005,
    kIdKeepSize = 1007,
    kCmdSaveLog = 40001,
    kCmdAbort = 40002,
  };

  QuendrixWindow();
  ~QuendrixWindow() override;

  // The control with that id, or null.
  QWidget* Control(int id) const;
  QAction* Command(int id) const;
  bool Busy() const { return busy_; }
  const AdjustSession& Session() const { return session_; }

  // Runs the whole adjustment of one file (what a drop does).
  void ProcessFile(const QString& path);
  void SaveLog();
  void Abort();

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  class Host;
  void SetInputsEnabled(bool on);
  void PlaceControls();

  std::unique_ptr<Host> host_;
  QuendrixSettings settings_;
  AdjustSession session_;
  bool busy_ = false;
  int fixedWidth_ = 0;
  int listBottomMargin_ = 0;  // from the list's bottom to the window's
  int statusBottomGap_ = 0;   // from the status line's top to the window's bottom

  QLineEdit* range_ = nullptr;
  QLineEdit* dispose_ = nullptr;
  QRadioButton* shorten_ = nullptr;
  QRadioButton* extend_ = nullptr;
  QCheckBox* keepSize_ = nullptr;
  QLabel* heading_ = nullptr;
  QListWidget* list_ = nullptr;
  QLabel* status_ = nullptr;
  QAction* saveLog_ = nullptr;
  QAction* abort_ = nullptr;
};
