#include "app/OptionsWindow.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/CommandUi.h"
#include "app/MainWindow.h"
#include "avi/OpenAvi.h"
#include "command/CommandIds.h"
#include "command/Dispatcher.h"
#include "platform/AppState.h"
#include "platform/System.h"
#include "settings/MirdexSettings.h"
#include "ui/DialogControls.h"

namespace {

enum : int {
  kFrameRateCombo = 23000,
  kPriorityBackCombo = 23001,
  kPriorityForeCombo = 23002,
  kFixedFrameRate = 22031,
  kCheckAudioLength = 21023,
  kFileRateText = 30014,
  kFileRateValue = 30012,
  kParsedRate = 30013,
  kPlaySyncEdit = 25032,
};
constexpr int kPlaySyncMax = 999;

QPointer<QDialog> theWindow;
bool powerOffChoice = false;

QString Rate(double r) {
  char text[64];
  std::snprintf(text, sizeof text, "%15.12lf", r);
  return QString::fromLatin1(text);
}

template <typename W>
W* Named(W* w, int id) {
  w->setObjectName(QString::number(id));
  return w;
}

QComboBox* PriorityCombo(QWidget* parent, int id, int* level) {
  auto* combo = Named(new QComboBox(parent), id);
  for (int l = 6; l >= -8; --l) combo->addItem(QString::number(l), l);
  int at = combo->findData(*level);
  combo->setCurrentIndex(at >= 0 ? at : combo->findData(0));
  QObject::connect(combo, &QComboBox::activated, combo, [combo, level, id] {
    *level = combo->currentData().toInt();
    // The window is in front: the foreground level applies now.
    if (id == kPriorityForeCombo) SetPriorityLevel(*level);
  });
  return combo;
}

// A check box that shows a command's state and clicks as the command.
QCheckBox* CommandBox(QWidget* parent, int id, const char* caption) {
  auto* box = Named(new QCheckBox(QString::fromUtf8(caption), parent), id);
  box->setChecked(IsCommandChecked(id) > 0);
  RegisterControl(id, box);
  return box;
}

void BuildWindow(QDialog* d, MainWindow* w) {
  OpenAviTable& table = w->Shown().table;
  auto* column = new QVBoxLayout(d);

  auto* priorities = new QFormLayout;
  priorities->addRow("前面時の優先度", PriorityCombo(d, kPriorityForeCombo, &ME.nPriorityFore));
  priorities->addRow("背面時の優先度", PriorityCombo(d, kPriorityBackCombo, &ME.nPriorityBack));
  column->addLayout(priorities);

  column->addWidget(CommandBox(d, kCmdUseMMX, "MMXを使用"));
  column->addWidget(CommandBox(d, kCmdUseSSE, "SSEを使用"));
  column->addWidget(CommandBox(d, kCmdLogFile, "ログを作成"));
  // Not in the registry: its menu command stays usable outside runs.
  auto* power = Named(new QCheckBox("終了後シャットダウン", d), kCmdPowerOffAfter);
  QAction* powerAction = CommandAction(kCmdPowerOffAfter);
  power->setChecked(powerAction->isChecked());
  power->setEnabled(powerOffChoice);
  QObject::connect(powerAction, &QAction::toggled, power, &QCheckBox::setChecked);
  QObject::connect(power, &QCheckBox::clicked, power, [power] {
    DispatchCommand(kCmdPowerOffAfter, CommandSource::kMenu);
    power->setChecked(ME.nPowerOffAfter >= 1);
  });
  column->addWidget(power);

  auto* rateGroup = new QGroupBox("フレームレート", d);
  auto* rateRows = new QFormLayout(rateGroup);
  auto* fileRate = Named(new QLabel(rateGroup), kFileRateText);
  auto* fileValue = Named(new QLabel(rateGroup), kFileRateValue);
  if (table.nOpenAvi > 0) {
    const AVIStreamHeader& h = table.pOpenAviList[0].sets[0].strhVideo;
    fileRate->setText(QString("%1/%2").arg(h.dwRate).arg(h.dwScale));
    if (h.dwScale) fileValue->setText(Rate(static_cast<double>(h.dwRate) / h.dwScale));
  }
  auto* fileRow = new QHBoxLayout;
  fileRow->addWidget(fileRate);
  fileRow->addWidget(fileValue, 1);
  rateRows->addRow("ファイルのフレームレート", fileRow);
  auto* fixed = Named(new QCheckBox("フレームレートを変更", rateGroup), kFixedFrameRate);
  fixed->setChecked(table.fixedRateOn);
  auto* combo = Named(new QComboBox(rateGroup), kFrameRateCombo);
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  FillHistoryCombo(combo, mirdexSettings.frameRateList, -1);
  combo->setEditText(QString::fromUtf8(mirdexSettings.frameRate));
  AttachNumericFilter(combo, kNumPoint | kNumSlash);
  auto* parsed = Named(new QLabel(rateGroup), kParsedRate);
  auto showParsed = [parsed](const QString& text) {
    uint32_t rate = 0, scale = 0;
    bool ok = ParseFrameRateText(text.toStdString(), &rate, &scale) && scale;
    parsed->setText(ok ? Rate(static_cast<double>(rate) / scale) : QString());
  };
  showParsed(combo->currentText());
  QObject::connect(combo, &QComboBox::editTextChanged, parsed, showParsed);
  // A rate that parses becomes the setting, the top of the history and, when
  // switched on, the rate of the open files.
  auto apply = [&table, combo, fixed] {
    std::string text = combo->currentText().trimmed().toStdString();
    uint32_t rate = 0, scale = 0;
    if (!ParseFrameRateText(text, &rate, &scale) || !scale ||
        text.size() >= sizeof mirdexSettings.frameRate) {
      table.SetFixedFrameRate(false, mirdexSettings.frameRate);
      fixed->setChecked(false);
      return;
    }
    std::memcpy(mirdexSettings.frameRate, text.c_str(), text.size() + 1);
    std::string list = mirdexSettings.frameRateList;
    if (AddHistoryCombo(combo, QString::fromStdString(text), &list, sizeof mirdexSettings.frameRateList))
      std::memcpy(mirdexSettings.frameRateList, list.c_str(), list.size() + 1);
    table.SetFixedFrameRate(fixed->isChecked(), text);
    RefreshUi();
  };
  QObject::connect(fixed, &QCheckBox::clicked, fixed, apply);
  QObject::connect(combo, &QComboBox::activated, combo, apply);
  QObject::connect(combo->lineEdit(), &QLineEdit::returnPressed, combo, apply);
  auto* changeRow = new QHBoxLayout;
  changeRow->addWidget(fixed);
  changeRow->addWidget(combo, 1);
  rateRows->addRow(changeRow);
  rateRows->addRow("適用されるフレームレート", parsed);
  column->addWidget(rateGroup);

  // Its check of the open file's audio comes with the audio work.
  auto* audio = Named(new QPushButton("音声の長さをチェック", d), kCheckAudioLength);
  audio->setEnabled(false);
  column->addWidget(audio);

  auto* syncRow = new QHBoxLayout;
  syncRow->addWidget(new QLabel("音声再生時の同期調整フレーム数", d));
  auto* sync = Named(new QSpinBox(d), kPlaySyncEdit);  // its arrows are the spin 29007
  SetupSpin(sync, kPlaySyncMax, 0,
            static_cast<int>(std::min<uint32_t>(mirdexSettings.playSync, kPlaySyncMax)));
  QObject::connect(sync, &QSpinBox::valueChanged, sync,
                   [](int v) { mirdexSettings.playSync = static_cast<uint32_t>(v); });
  syncRow->addWidget(sync);
  column->addLayout(syncRow);

  auto* close = Named(new QPushButton("閉じる", d), 2);
  QObject::connect(close, &QPushButton::clicked, d, &QDialog::close);
  column->addWidget(close, 0, Qt::AlignRight);
}

}  // namespace

QDialog* OptionsWindow() {
  return theWindow.data();
}

QDialog* ShowOptionsWindow(MainWindow* window) {
  if (!theWindow) {
    theWindow = new QDialog(window);
    theWindow->setObjectName("31014");
    theWindow->setWindowTitle("オプション");
    theWindow->setAttribute(Qt::WA_DeleteOnClose);
    BuildWindow(theWindow, window);
    AddControlWindow(theWindow);
  }
  theWindow->show();
  theWindow->raise();
  theWindow->activateWindow();
  return theWindow.data();
}

void SetPowerOffChoiceEnabled(bool on) {
  powerOffChoice = on;
  if (theWindow)
    if (auto* box = theWindow->findChild<QCheckBox*>(QString::number(kCmdPowerOffAfter))) box->setEnabled(on);
}
