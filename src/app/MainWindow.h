// Mirdex's main window: frame-number bar, picture area, waveform strip, frame
// position bar, status bar, the menus, and the start-up and shut-down
// sequences around them. Commands reach it only through the dispatcher.
#pragma once
#include <QMainWindow>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "command/MenuTable.h"
#include "frame/Capture.h"
#include "process/FrameOperation.h"
#include "process/Playback.h"

class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollBar;
class AcceleratorFilter;
class QtHost;
class CommandView;
class AudioEdits;

class MainWindow : public QMainWindow {
 public:
  MainWindow();
  ~MainWindow() override;

  // The start-up sequence of the window: menus, settings, recent files, the
  // tidy of the settings file, the temporary-file clean-up. False when the
  // window could not be set up (it has reported why).
  bool Startup();
  // Opens the file the command line names (through command 50402).
  void OpenFromCommandLine(const std::vector<std::string>& args);
  // Opens a dropped file: closes the open files first, then command 50402.
  void OpenDroppedFile(const std::string& path);

  // The files the window shows, with their reader, view and navigation.
  ShownCapture& Shown() { return *shown_; }
  // The driver of the multi-frame operations on the shown capture, and the
  // playback settings that stay between playbacks.
  FrameOperationDriver& Operations() { return *operations_; }
  PlaybackSettings& Playback() { return playback_; }
  // The audio engine over the shown files and the settings of its operations.
  AudioEdits& AudioWork() { return *audio_; }

  QMenu* Menu(MenuHandle h) const { return menus_[h]; }
  QLineEdit* FrameNumberBox() const { return frameBox_; }
  QScrollBar* FrameScrollBar() const { return scroll_; }
  QWidget* FrameArea() const { return view_; }
  QWidget* WaveArea() const { return wave_; }
  QLabel* StatusPane(int part) const { return panes_[part]; }
  QWidget* MainControl(int id) const;  // 25007, 28000, 30006, 30007, 21006
  AcceleratorFilter* Accelerators() const { return accel_; }

  // Menu contents that follow the program's state.
  void RebuildRecentFiles();
  void SetSelectionCaptions(long start, long end, long lastFrame);
  void SetBrightnessCaption(unsigned brightnessPercent);
  void SetMarkEntries(const std::vector<std::string>& captions);
  void SetDeletionRangeEntries(const std::vector<std::string>& selectCaptions,
                               const std::vector<std::string>& deleteCaptions);
  struct CursorPosition {
    int x, y;
    bool shift;
    int digit;
  };
  void SetCursorPositions(const std::vector<CursorPosition>& positions);
  // Before a popup opens: enabled states and the captions that show values.
  void RefreshBeforePopup();
  // Time code of `frame` in status pane 1 at the configured frame rate.
  void ShowTimeCode(long frame);
  double FrameRate() const { return shown_->table.ConfiguredFrameRate(); }
  // Keeps the window inside the available screen area; never resizes.
  void PlaceWindow(const QPoint* desiredTopLeft = nullptr);
  void ShowAbout();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  bool BuildMenus();
  void ApplySettings();
  void CollectCheckStates();
  void LayOutStatusPanes();

  // Made first and gone last: every widget and command may reach it.
  std::unique_ptr<ShownCapture> shown_;
  std::unique_ptr<FrameOperationDriver> operations_;
  PlaybackSettings playback_;
  std::unique_ptr<AudioEdits> audio_;
  std::array<QMenu*, kMenuCount> menus_{};
  QLineEdit* frameBox_ = nullptr;
  QLabel* static30006_ = nullptr;
  QLabel* static30007_ = nullptr;
  QPushButton* abortButton_ = nullptr;
  QWidget* view_ = nullptr;
  QWidget* wave_ = nullptr;
  QScrollBar* scroll_ = nullptr;
  std::array<QLabel*, 5> panes_{};
  std::vector<QAction*> recentActions_;
  std::vector<QAction*> markActions_;
  AcceleratorFilter* accel_ = nullptr;
  QtHost* host_ = nullptr;
  std::unique_ptr<CommandView> commandView_;
};

// The one main window (null when none exists).
MainWindow* TheMainWindow();

// Version shown in the About box.
constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 0;
