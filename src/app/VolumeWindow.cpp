#include "app/VolumeWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdlib>

#include "app/AudioCommands.h"
#include "app/CommandUi.h"
#include "app/KeyFilter.h"
#include "app/MainWindow.h"
#include "command/CommandIds.h"
#include "command/Dispatcher.h"
#include "platform/Format.h"
#include "settings/MirdexSettings.h"
#include "ui/DialogControls.h"

namespace {

QPointer<QDialog> theWindow;
MainWindow* owner = nullptr;

template <typename W>
W* Named(W* w, int id) {
  w->setObjectName(QString::number(id));
  return w;
}

QPushButton* CommandButton(QWidget* parent, int id, const char* caption) {
  auto* b = Named(new QPushButton(QString::fromUtf8(caption), parent), id);
  b->setAutoDefault(false);
  RegisterControl(id, b);
  return b;
}

QLineEdit* NumberEdit(QWidget* parent, int id, int flags, int width) {
  auto* e = Named(new QLineEdit(parent), id);
  e->setFixedWidth(width);
  AttachNumericFilter(e, flags);
  return e;
}

QLineEdit* Edit(int id) {
  return theWindow ? theWindow->findChild<QLineEdit*>(QString::number(id)) : nullptr;
}

// Every edit changes the settings at once; the menu captions follow.
void EditChanged(int id, const QString& text) {
  if (!owner) return;
  ReadWaveSettings& s = owner->AudioWork().settings;
  const double v = std::atof(text.toLatin1().constData());
  switch (id) {
    case kVolumePercentEdit:
      if (v < 0) return;
      s.targetPercent = static_cast<uint32_t>(v);
      break;
    case kVolumeFactorEdit:
      if (v <= 0) return;
      s.factor = v;
      break;
    case kVolumeOffsetLeftEdit:
      s.offsetLeft = static_cast<int32_t>(v);
      break;
    case kVolumeOffsetRightEdit:
      s.offsetRight = static_cast<int32_t>(v);
      break;
  }
  owner->AudioWork().Store(mirdexSettings);
  owner->RefreshBeforePopup();
}

void BuildWindow(QDialog* d, MainWindow* w) {
  const AudioEdits& audio = w->AudioWork();
  auto* grid = new QGridLayout(d);

  grid->addWidget(new QLabel("最大音量の上限に対する割合(%)", d), 0, 0);
  grid->addWidget(NumberEdit(d, kVolumePercentEdit, 0, 60), 0, 1);
  grid->addWidget(CommandButton(d, kCmdWaveLimitCheck, "倍率チェック"), 0, 2);

  grid->addWidget(new QLabel("倍率", d), 1, 0);
  grid->addWidget(NumberEdit(d, kVolumeFactorEdit, kNumPoint, 60), 1, 1);
  grid->addWidget(CommandButton(d, kCmdChangeVolume, "音量を変更"), 1, 2);

  auto* fades = new QHBoxLayout;
  fades->addWidget(CommandButton(d, kCmdFadeIn, "フェードイン"));
  fades->addWidget(CommandButton(d, kCmdFadeOut, "フェードアウト"));
  grid->addLayout(fades, 2, 0, 1, 3);

  auto* offsets = new QHBoxLayout;
  offsets->addWidget(new QLabel("オフセット", d));
  offsets->addWidget(NumberEdit(d, kVolumeOffsetLeftEdit, kNumMinus, 60));
  offsets->addWidget(NumberEdit(d, kVolumeOffsetRightEdit, kNumMinus, 60));
  offsets->addStretch(1);
  grid->addLayout(offsets, 3, 0, 1, 3);

  auto* levels = new QHBoxLayout;
  auto* correction = Named(new QCheckBox("レベル補正あり", d), kCmdLevelCorrection);
  correction->setChecked(audio.settings.levelCorrection);
  RegisterControl(kCmdLevelCorrection, correction);
  levels->addWidget(correction);
  levels->addWidget(CommandButton(d, kCmdLevelCheck, "レベルチェック"));
  levels->addWidget(CommandButton(d, kCmdLevelClear, "レベルクリア"));
  grid->addLayout(levels, 4, 0, 1, 3);

  // The second form: with two channels one of them can be worked on alone.
  auto* channel = Named(new QComboBox(d), kVolumeChannelCombo);
  channel->addItems({"両チャネル", "左チャネル", "右チャネル"});
  channel->setCurrentIndex(audio.settings.channel);
  QObject::connect(channel, &QComboBox::activated, channel,
                   [w](int i) { w->AudioWork().settings.channel = i; });
  grid->addWidget(channel, 5, 0, 1, 3);

  for (int id : {kVolumePercentEdit, kVolumeFactorEdit, kVolumeOffsetLeftEdit, kVolumeOffsetRightEdit}) {
    QLineEdit* e = d->findChild<QLineEdit*>(QString::number(id));
    QObject::connect(e, &QLineEdit::textEdited, e, [id](const QString& t) { EditChanged(id, t); });
    // Leaving the factor shows it in its own format again.
    QObject::connect(e, &QLineEdit::editingFinished, e, [] { ShowVolumeValues(); });
  }
}

}  // namespace

QDialog* VolumeWindow() {
  return theWindow.data();
}

void ShowVolumeValues() {
  if (!theWindow || !owner) return;
  const ReadWaveSettings& s = owner->AudioWork().settings;
  auto set = [](int id, const QString& text) {
    QLineEdit* e = Edit(id);
    if (e && e->text() != text) e->setText(text);
  };
  set(kVolumePercentEdit, QString::number(s.targetPercent));
  set(kVolumeFactorEdit, QString::fromStdString(Fmt("%6.3lf", s.factor)).trimmed());
  set(kVolumeOffsetLeftEdit, QString::number(s.offsetLeft));
  set(kVolumeOffsetRightEdit, QString::number(s.offsetRight));
  // The right channel and the channel choice only for stereo audio.
  const AudioEdits& audio = owner->AudioWork();
  const bool stereo = audio.CanRun() && audio.engine.Format().nChannels == 2;
  const bool resize = Edit(kVolumeOffsetRightEdit)->isHidden() == stereo;
  Edit(kVolumeOffsetRightEdit)->setVisible(stereo);
  if (auto* channel = theWindow->findChild<QComboBox*>(QString::number(kVolumeChannelCombo))) {
    channel->setVisible(stereo);
    channel->setCurrentIndex(s.channel);
  }
  if (resize) theWindow->adjustSize();
}

QDialog* ShowVolumeWindow(MainWindow* window) {
  if (!theWindow) {
    owner = window;
    theWindow = new QDialog(window, Qt::Tool);
    theWindow->setObjectName("VolumeWindow");
    theWindow->setWindowTitle("音量の変更");
    theWindow->setAttribute(Qt::WA_DeleteOnClose);
    theWindow->setProperty(kAccelKindProperty, "fieldShiftOrVolume");
    BuildWindow(theWindow, window);
    AddControlWindow(theWindow);
    ShowVolumeValues();
    theWindow->adjustSize();
    // Beside the frame view, on the right of the main window.
    QWidget* view = window->FrameArea();
    QPoint top = view->mapToGlobal(QPoint(0, 0));
    theWindow->move(window->frameGeometry().right() + 1, top.y());
  }
  theWindow->show();
  theWindow->raise();
  return theWindow.data();
}
