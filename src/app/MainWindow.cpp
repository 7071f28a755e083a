#include "app/MainWindow.h"

#include <algorithm>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDialog>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include "app/AudioCommands.h"
#include "app/CommandLine.h"
#include "app/CommandUi.h"
#include "app/FrameCommands.h"
#include "app/MarkCommands.h"
#include "app/OptionsWindow.h"
#include "app/AudioPlayCommands.h"
#include "app/PlaybackCommands.h"
#include "app/ReferenceCheckCommand.h"
#include "app/FrameView.h"
#include "app/SaveCommands.h"
#include "app/ShellCommands.h"
#include "app/VolumeWindow.h"
#include "app/WaveStrip.h"
#include "app/KeyFilter.h"
#include "avi/OpenAvi.h"
#include "command/Dispatcher.h"
#include "platform/AppState.h"
#include "platform/Format.h"
#include "platform/Messages.h"
#include "platform/Paths.h"
#include "platform/System.h"
#include "settings/MirdexSettings.h"
#include "ui/QtHost.h"

namespace {

MainWindow* theMainWindow = nullptr;

// What code without Qt reaches through Commands.h.
class MainCommandView : public CommandView {
 public:
  explicit MainCommandView(MainWindow* w) : w_(w) {}
  bool EnableCommand(int id, bool enable) override { return UiEnableCommand(id, enable); }
  void SetCheck(int id, bool checked, bool notify) override { UiSetCheck(id, checked, notify); }
  int ToggleCheck(int id, CommandSource sender, int oldValue) override {
    return UiToggleCheck(id, sender, oldValue);
  }
  int IsCommandChecked(int id) override { return UiIsCommandChecked(id); }
  void SetItem(int id, const std::string* caption, bool enabled) override {
    QString text = caption ? QString::fromStdString(*caption) : QString();
    UiSetItem(id, caption ? &text : nullptr, enabled);
  }
  void SetSelectionCaptions(long start, long end, long lastFrame) override {
    w_->SetSelectionCaptions(start, end, lastFrame);
  }
  void SetMarkEntries(const std::vector<std::string>& captions) override { w_->SetMarkEntries(captions); }
  void SetDeletionRangeEntries(const std::vector<std::string>& selectCaptions,
                               const std::vector<std::string>& deleteCaptions) override {
    w_->SetDeletionRangeEntries(selectCaptions, deleteCaptions);
  }
  void SetBrightnessCaption(unsigned brightnessPercent) override {
    w_->SetBrightnessCaption(brightnessPercent);
  }
  void ShowTimeCode(long frame) override { w_->ShowTimeCode(frame); }

 private:
  MainWindow* w_;
};

// The Qt host with the window's commands behind it.
class MainHost : public QtHost {
 public:
  void SetCheck(int id, bool checked, bool notify) override { ::SetCheck(id, checked, notify); }
  bool EnableCommand(int id, bool enable) override { return ::EnableCommand(id, enable); }
  int IsCommandChecked(int id) override { return ::IsCommandChecked(id); }
  void PushBusyState(const std::vector<int>& allowed) override { ::PushBusyState(allowed); }
  void PopBusyState() override { ::PopBusyState(); }
  void RefreshUi() override { ::RefreshUi(); }
};

QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// A path in a menu caption must not turn '&' into a mnemonic.
QString MenuText(const std::string& s) {
  return Q(s).replace('&', "&&");
}

// Check-mark settings and the commands that show them.
struct CheckSetting {
  int command;
  int MirdexSettings::*field;
};
const CheckSetting kCheckSettings[] = {
    {kCmdFitWindow, &MirdexSettings::fitWindow},   {kCmdMixField, &MirdexSettings::mixField},
    {kCmdShowStatus, &MirdexSettings::showStatus}, {kCmdShowWave, &MirdexSettings::showWave},
    {kCmdNotShow, &MirdexSettings::notShow},       {kCmdBlinkUndo, &MirdexSettings::blinkUndo},
    {kCmdBringTop, &MirdexSettings::bringTop},     {kCmdDeleteRangeOn, &MirdexSettings::deleteRange},
    {kCmdLogFile, &MirdexSettings::logFile},
};

}  // namespace

MainWindow* TheMainWindow() {
  return theMainWindow;
}

MainWindow::MainWindow()
    : shown_(std::make_unique<ShownCapture>()),
      operations_(std::make_unique<FrameOperationDriver>(*shown_)),
      audio_(std::make_unique<AudioEdits>(*shown_)) {
  operations_->enablePowerOffChoice = SetPowerOffChoiceEnabled;
  theMainWindow = this;
  setWindowTitle("Mirdex");
  SetCommandActionParent(this);

  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(2, 2, 2, 2);
  column->setSpacing(2);
  auto* bar = new QHBoxLayout;
  frameBox_ = new QLineEdit(central);
  frameBox_->setObjectName(QString::number(kCmdFrameNumberBox));
  frameBox_->setFixedWidth(90);
  static30006_ = new QLabel(central);
  static30006_->setObjectName(QString::number(kCmdStatic30006));
  static30007_ = new QLabel(central);
  static30007_->setObjectName(QString::number(kCmdStatic30007));
  abortButton_ = new QPushButton("中止", central);
  abortButton_->setObjectName(QString::number(kCmdAbortButton));
  abortButton_->hide();  // reachable as a command only
  bar->addWidget(frameBox_);
  bar->addWidget(static30006_);
  bar->addWidget(static30007_, 1);
  bar->addWidget(abortButton_);
  column->addLayout(bar);
  view_ = new FrameViewWidget(shown_->view);
  view_->setObjectName("FrameArea");
  column->addWidget(view_, 1);
  wave_ = new WaveStrip(*shown_, central);
  column->addWidget(wave_);
  scroll_ = new QScrollBar(Qt::Horizontal, central);
  scroll_->setObjectName(QString::number(kCmdFrameScrollBar));
  scroll_->setRange(0, 0);
  column->addWidget(scroll_);
  setCentralWidget(central);
  resize(720, 560);

  QObject::connect(abortButton_, &QPushButton::clicked, this,
                   [] { DispatchCommand(kCmdAbortButton, CommandSource::kControl); });
  QObject::connect(view_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    if (!menus_[kMenuContext]) return;
    RefreshBeforePopup();
    menus_[kMenuContext]->popup(view_->mapToGlobal(pos));
  });

  QStatusBar* status = statusBar();
  status->setObjectName(QString::number(kCmdStatusBar));
  status->setSizeGripEnabled(false);
  for (int i = 0; i < 5; ++i) {
    panes_[i] = new QLabel(status);
    panes_[i]->setObjectName(QString("StatusPane%1").arg(i));
    status->addWidget(panes_[i], i == 0 ? 1 : 0);
  }
  panes_[0]->setText("ようこそ Mirdex へ");
  LayOutStatusPanes();

  SetMainControlFinder([this](int id) { return MainControl(id); });
  commandView_ = std::make_unique<MainCommandView>(this);
  SetCommandView(commandView_.get());
  host_ = new MainHost;
  host_->SetOwner(this);
  host_->SetStatusPanes({panes_.begin(), panes_.end()});
  host_->SetTitleComposer(
      [this](const std::string& extra) { return shown_->table.MainTitleText(extra.c_str()); });
  SetHost(host_);

  accel_ = new AcceleratorFilter(this, frameBox_);
  qApp->installEventFilter(accel_);
  SetUiRefreshListener([this] {
    RefreshCommandStates();
    RebuildRecentFiles();
    ShowVolumeValues();
  });
}

MainWindow::~MainWindow() {
  // The volume window reads the audio settings, which go before the children.
  delete VolumeWindow();
  UnregisterAudioCommands(this);
  UnregisterSaveCommands(this);
  UnregisterReferenceCheckCommand();
  UnregisterPlaybackCommands(this);
  UnregisterAudioPlayCommands(this);
  UnregisterMarkCommands(this);
  UnregisterFrameCommands(this);
  // The files close while the window's host still reports.
  shown_->table.CloseAllOpenAvi();
  qApp->removeEventFilter(accel_);
  SetUiRefreshListener(nullptr);
  SetMainControlFinder(nullptr);
  SetCommandView(nullptr);
  SetHost(nullptr);
  delete host_;
  ResetCommandUi();
  if (theMainWindow == this) theMainWindow = nullptr;
}

QWidget* MainWindow::MainControl(int id) const {
  switch (id) {
    case kCmdFrameNumberBox:
      return frameBox_;
    case kCmdFrameScrollBar:
      return scroll_;
    case kCmdStatic30006:
      return static30006_;
    case kCmdStatic30007:
      return static30007_;
    case kCmdAbortButton:
      return abortButton_;
  }
  return nullptr;
}

bool MainWindow::BuildMenus() {
  menus_[kMenuBar] = nullptr;  // the bar is the window's own
  for (const MenuDirectoryEntry* d = kMenuDirectory; d->menu >= 0; ++d) {
    QWidget* target;
    if (d->menu == kMenuBar) {
      target = menuBar();
    } else {
      if (!menus_[d->menu]) menus_[d->menu] = new QMenu(this);
      target = menus_[d->menu];
    }
    for (const MenuItemDef* it = d->items; it->flags != kMenuListEnd; ++it) {
      if (it->flags & MF_SEPARATOR) {
        if (auto* m = qobject_cast<QMenu*>(target)) m->addSeparator();
        continue;
      }
      if (it->flags & MF_POPUP) {
        QMenu* sub = it->idOrMenu >= 0 && it->idOrMenu < kMenuCount ? menus_[it->idOrMenu] : nullptr;
        if (!sub) return false;  // sub-popups must come first in the directory
        sub->setTitle(QString::fromUtf8(it->caption));
        if (auto* m = qobject_cast<QMenu*>(target))
          m->addMenu(sub);
        else
          menuBar()->addMenu(sub);
        continue;
      }
      auto* m = qobject_cast<QMenu*>(target);
      if (!m) return false;
      AddCommandToMenu(m, it->idOrMenu, QString::fromUtf8(it->caption), it->flags);
    }
  }
  for (int i = 0; i < kMenuCount; ++i) {
    if (menus_[i]) QObject::connect(menus_[i], &QMenu::aboutToShow, this, [this] { RefreshBeforePopup(); });
  }
  return true;
}

bool MainWindow::Startup() {
  setWindowTitle("Mirdex");
  if (!BuildMenus()) {
    Message(MB_OK | MB_ICONSTOP, "メニューが作成できません!");
    return false;
  }
  // Commands shown nowhere yet still keep their check mark in their action.
  for (int id : {kCmdLogFile, kCmdPowerOffAfter, kCmdUseMMX, kCmdUseSSE}) CommandAction(id);
  RegisterShellCommands(this);
  RegisterFrameCommands(this);
  RegisterMarkCommands(this);
  RegisterPlaybackCommands(this);
  RegisterAudioPlayCommands(this);
  RegisterAudioCommands(this);
  RegisterSaveCommands(this);
  RegisterWaveStripCommands(this);
  RegisterReferenceCheckCommand(this);
  ApplySettings();
  RebuildRecentFiles();
  TidySettings(kMirdexFixedSections);
  CleanupTempFiles(TempDir());
  setAcceptDrops(true);
  RefreshCommandStates();
  return true;
}

void MainWindow::ApplySettings() {
  ReadMirdexSettings(mirdexSettings);
  audio_->Load(mirdexSettings);
  RestoredRect r = RestoreWindowRect(mirdexSettings, width(), height());
  resize(r.width, r.height);
  QPoint topLeft(r.left, r.top);
  PlaceWindow(&topLeft);
  if (mirdexSettings.maximize) setWindowState(windowState() | Qt::WindowMaximized);
  if (ME.nPriorityFore != 0) SetPriorityLevel(ME.nPriorityFore);
  // The configured rate is ready for when the fixed frame rate is switched on.
  shown_->table.SetFixedFrameRate(false, mirdexSettings.frameRate);
  // The check marks are applied through their commands, so a log that was on
  // is opened again and the window is put on top again.
  SetCheck(kCmdPowerOffAfter, false, false);
  if (ME.fHasMMX) SetCheck(kCmdUseMMX, ME.fUseMMX, true);
  if (ME.fHasSSE) SetCheck(kCmdUseSSE, ME.fUseSSE, true);
  for (const CheckSetting& c : kCheckSettings) SetCheck(c.command, mirdexSettings.*c.field != 0, true);
  DispatchCommand(kCmdBrightnessApply);
}

void MainWindow::CollectCheckStates() {
  for (const CheckSetting& c : kCheckSettings) {
    int v = IsCommandChecked(c.command);
    if (v >= 0) mirdexSettings.*c.field = v;
  }
  if (ME.fHasMMX && IsCommandChecked(kCmdUseMMX) >= 0) ME.fUseMMX = IsCommandChecked(kCmdUseMMX);
  if (ME.fHasSSE && IsCommandChecked(kCmdUseSSE) >= 0) ME.fUseSSE = IsCommandChecked(kCmdUseSSE);
}

void MainWindow::OpenFromCommandLine(const std::vector<std::string>& args) {
  std::string name = CommandLineFile(args);
  if (name.empty() || !FileExists(name)) return;  // a name that leads nowhere is ignored
  SetPendingOpenName(QFileInfo(Q(name)).absoluteFilePath().toStdString());
  QTimer::singleShot(0, this, [] { DispatchCommand(kCmdOpenRecord, CommandSource::kProgram); });
}

void MainWindow::OpenDroppedFile(const std::string& path) {
  if (OpenFileCount() > 0) {
    DispatchCommand(kCmdClose, CommandSource::kProgram);
    if (OpenFileCount() > 0) return;  // the user kept them open
  }
  SetPendingOpenName(QFileInfo(Q(path)).absoluteFilePath().toStdString());
  raise();
  activateWindow();
  DispatchCommand(kCmdOpenRecord, CommandSource::kProgram);
}

void MainWindow::RebuildRecentFiles() {
  QMenu* file = menus_[kMenuFile];
  if (!file) return;
  int shown = 0;
  for (int i = 0; i < kRecentFileCount; ++i) {
    const char* path = mirdexSettings.recentFiles[i];
    if (!path[0]) continue;
    int id = kCmdRecentFile0 + i;
    QAction* a = CommandAction(id);
    a->setText(MenuText(RecentFileCaption(i, path)));
    if (a->associatedObjects().isEmpty()) {
      QList<QAction*> items = file->actions();
      int pos = kRecentFilePosition + shown;
      file->insertAction(pos < items.size() ? items[pos] : nullptr, a);
      recentActions_.push_back(a);
    }
    ++shown;
  }
  // Entries that were cleared leave the menu.
  for (auto it = recentActions_.begin(); it != recentActions_.end();) {
    int i = (*it)->data().toInt() - kCmdRecentFile0;
    if (i < 0 || i >= kRecentFileCount || !mirdexSettings.recentFiles[i][0]) {
      file->removeAction(*it);
      it = recentActions_.erase(it);
    } else {
      ++it;
    }
  }
}

void MainWindow::SetSelectionCaptions(long start, long end, long lastFrame) {
  if (QAction* popup = FindItemByCaption(menuBar(), "選択範囲"))
    popup->menu()->setTitle(Q(SelectionMenuCaption(start, end, lastFrame)));
  QString startCaption = Q(SelectionStartCaption(start)), endCaption = Q(SelectionEndCaption(end));
  UiSetItem(kCmdGoToSelectionStart, &startCaption, CanRunCommand(kCmdGoToSelectionStart));
  UiSetItem(kCmdGoToSelectionEnd, &endCaption, CanRunCommand(kCmdGoToSelectionEnd));
}

void MainWindow::SetBrightnessCaption(unsigned brightnessPercent) {
  if (menus_[kMenuDisplay]) menus_[kMenuDisplay]->setTitle(Q(DisplayMenuCaption(brightnessPercent / 100.0)));
}

void MainWindow::SetMarkEntries(const std::vector<std::string>& captions) {
  QMenu* menu = menus_[kMenuSelect];
  for (QAction* a : markActions_) menu->removeAction(a);
  markActions_.clear();
  for (size_t n = 0; n < captions.size(); ++n) {
    int id = kCmdMarkBase + static_cast<int>(n);
    QAction* a = CommandAction(id);
    a->setText(MenuText(captions[n]));
    menu->addAction(a);
    markActions_.push_back(a);
  }
  RefreshCommandStates();
}

void MainWindow::SetDeletionRangeEntries(const std::vector<std::string>& selectCaptions,
                                         const std::vector<std::string>& deleteCaptions) {
  auto fill = [](QMenu* menu, int base, const std::vector<std::string>& captions) {
    // Empty down to the first item, which becomes the first entry.
    QList<QAction*> items = menu->actions();
    for (qsizetype i = 1; i < items.size(); ++i) menu->removeAction(items[i]);
    for (size_t n = 0; n < captions.size() || n == 0; ++n) {
      QAction* a = CommandAction(base + static_cast<int>(n));
      a->setText(n < captions.size() ? MenuText(captions[n]) : QString());
      if (n > 0) menu->addAction(a);
    }
  };
  fill(menus_[kMenuDelSelect], kCmdDelSelectBase, selectCaptions);
  fill(menus_[kMenuDelDelete], kCmdDelDeleteBase, deleteCaptions);
  RefreshCommandStates();
}

void MainWindow::SetCursorPositions(const std::vector<CursorPosition>& positions) {
  QMenu* menu = menus_[kMenuCursor];
  menu->clear();
  if (positions.empty()) {
    AddCommandToMenu(menu, kCmdCursorPosFirst, "0,0", MF_STRING);
    return;
  }
  for (size_t n = 0; n < positions.size(); ++n) {
    const CursorPosition& p = positions[n];
    int id = kCmdCursorPosBase + static_cast<int>(n);
    QAction* a = CommandAction(id);
    a->setText(Q(CursorPositionCaption(p.x, p.y, p.shift, p.digit)));
    menu->addAction(a);
  }
  RefreshCommandStates();
}

void MainWindow::RefreshBeforePopup() {
  QString limit = Q(WaveLimitCaption(mirdexSettings.waveLimit));
  QString level = Q(WaveLevelCaption(mirdexSettings.waveLevel));
  if (QAction* a = FindCommandAction(kCmdWaveLimitCheck)) a->setText(limit);
  if (QAction* a = FindCommandAction(kCmdChangeVolume)) a->setText(level);
  const bool wide = audio_->WideAroundFrame();
  if (QAction* a = FindCommandAction(kCmdSaveWaveAround)) a->setText(Q(AroundFrameCaption(wide, false)));
  if (QAction* a = FindCommandAction(kCmdSaveWaveAroundShifted))
    a->setText(Q(AroundFrameCaption(wide, true)));
  RefreshCommandStates();
}

void MainWindow::ShowTimeCode(long frame) {
  Status(1, "%s", TimeCode(frame, shown_->table.EffectiveFrameRate()).c_str());
}

void MainWindow::PlaceWindow(const QPoint* desiredTopLeft) {
  QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect desk = screen->availableGeometry();
  QRect frame = frameGeometry();
  QPoint p = desiredTopLeft ? *desiredTopLeft : frame.topLeft();
  int w = frame.width(), h = frame.height();
  if (p.x() + w > desk.right() + 1) p.setX(desk.right() + 1 - w);
  if (p.x() < desk.left()) p.setX(desk.left());
  if (p.y() + h > desk.bottom() + 1) p.setY(desk.bottom() + 1 - h);
  if (p.y() < desk.top()) p.setY(desk.top());
  move(p);
}

void MainWindow::ShowAbout() {
  std::string buildDate;
  ExeDir(&buildDate);
  QMessageBox box(this);
  box.setWindowTitle("バージョン情報");
  box.setText(Q(Fmt("%s Ver %d.%02d", ME.programName, kVersionMajor, kVersionMinor)));
  box.setInformativeText(Q("AVI file checker\n" + buildDate));
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // No closing under a running operation, playback or a file being read (its
  // index may be scanned, with the window pumping).
  if (ME.fBusy || ME.fAudioPlaying || ME.fReading) {
    event->ignore();
    return;
  }
  if (OpenFileCount() > 0) {
    DispatchCommand(kCmdClose, CommandSource::kProgram);
    if (OpenFileCount() > 0) {
      event->ignore();
      return;
    }
  }
  CloseLog();
  CollectCheckStates();
  audio_->Store(mirdexSettings);
  WindowPlacement p;
  p.maximized = isMaximized();
  p.minimized = isMinimized();
  // Position of the frame, size of the window without it: what the start-up
  // gives to move() and resize(), so the window does not grow by its frame
  // from one run to the next.
  p.left = pos().x();
  p.top = pos().y();
  p.right = p.left + width();
  p.bottom = p.top + height();
  WriteMirdexSettings(mirdexSettings, p);
  event->accept();
}

void MainWindow::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange) {
    bool active = isActiveWindow();
    ME.fMainInactive = active ? 0 : 1;
    // Levels of 0 on both sides leave the priority alone.
    if (ME.nPriorityFore || ME.nPriorityBack) SetPriorityLevel(active ? ME.nPriorityFore : ME.nPriorityBack);
    if (active && !QApplication::focusWidget()) frameBox_->setFocus();
  }
  QMainWindow::changeEvent(event);
}

void MainWindow::LayOutStatusPanes() {
  // Widths from the right: 50, 110, 80 and 70 pixels; pane 0 takes the rest.
  // They were drawn for a font in which a time code just fits its 70 pixels;
  // with a wider font every pane grows by the same factor.
  static const int widths[5] = {0, 70, 80, 110, 50};
  const double scale =
      std::max(1.0, (panes_[1]->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00:00")) + 8) / 70.0);
  for (int i = 1; i < 5; ++i) panes_[i]->setFixedWidth(static_cast<int>(widths[i] * scale + 0.5));
  panes_[0]->setMinimumWidth(0);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  LayOutStatusPanes();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  const QMimeData* data = event->mimeData();
  if (data->hasUrls() && !data->urls().isEmpty() && data->urls().first().isLocalFile())
    event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QMimeData* data = event->mimeData();
  if (!data->hasUrls() || data->urls().isEmpty()) return;
  QUrl url = data->urls().first();  // only the first file is taken
  if (!url.isLocalFile()) return;
  event->acceptProposedAction();
  std::string path = url.toLocalFile().toStdString();
  QTimer::singleShot(0, this, [this, path] { OpenDroppedFile(path); });
}
