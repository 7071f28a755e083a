#include "app/FrameView.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include "app/MainWindow.h"
#include "avi/OpenAvi.h"
#include "command/Dispatcher.h"
#include "frame/FrameReader.h"
#include "frame/Navigation.h"
#include "frame/ViewState.h"
#include "platform/AppState.h"
#include "settings/MirdexSettings.h"

FrameViewWidget::FrameViewWidget() {
  setAutoFillBackground(false);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(160, 120);
  setContextMenuPolicy(Qt::CustomContextMenu);
  setMouseTracking(true);
}

void FrameViewWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QColor background = Qt::black;
  const uint8_t* pic = PreparedPicture();
  if (!pic) {
    p.fillRect(rect(), background);
    return;
  }
  const FrameGeometry& g = gFramePool.geometry;
  QImage image(pic, g.width, g.height, static_cast<qsizetype>(g.stride), QImage::Format_BGR888);
  if (gView.fitToWindow) {
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    p.drawImage(QRect(0, 0, gView.viewWidth, gView.viewHeight), image);
    return;
  }
  int w, h;
  ShownSize(&w, &h);
  int z = gView.zoom;
  QRect target(0, 0, w * z, h * z);
  // Outside the picture stays background.
  p.fillRect(QRect(target.right() + 1, 0, width(), height()), background);
  p.fillRect(QRect(0, target.bottom() + 1, width(), height()), background);
  p.drawImage(target, image, QRect(gView.sx, gView.sy, w, h));
}

void FrameViewWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  SetViewArea(width(), height());
}

void FrameViewWidget::mouseMoveEvent(QMouseEvent* event) {
  QPoint pos = event->position().toPoint();
  ShowPixelReadout(pos.x(), pos.y());
}

void FrameViewWidget::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && AlternatingFields()) StopAlternatingFields();
  QWidget::mousePressEvent(event);
}

void FrameViewWidget::wheelEvent(QWheelEvent* event) {
  // The wheel scrolls a zoomed picture (Shift: sideways).
  int steps = event->angleDelta().y() / 120;
  if (!steps || gView.fitToWindow) return;
  int move = -steps * std::max(1, 16 / gView.zoom);
  if (event->modifiers() & Qt::ShiftModifier)
    gView.sx += move;
  else
    gView.sy += move;
  ClampScroll();
  update();
}

namespace {

MainWindow* window = nullptr;
bool settingScroll = false;

FrameViewWidget* View() {
  return window ? static_cast<FrameViewWidget*>(window->FrameArea()) : nullptr;
}

void InstallUi() {
  InstallNavigationHooks();
  gFrameReaderUi.setScrollPosition = [](uint32_t f) {
    if (!window) return;
    settingScroll = true;
    window->FrameScrollBar()->setValue(static_cast<int>(f));
    settingScroll = false;
  };
  gFrameReaderUi.refreshTitle = [] { SetMainTitle(nullptr); };
  gFrameReaderUi.showPicture = [](const uint8_t* frame) {
    DrawFrame(frame, 2 | DF_SHOWN);
    PaintView(false);
  };
  gViewUi.paint = [](bool) {
    if (View()) View()->update();
  };
  gViewUi.paintStrip = [](int x, int y, int w, int h) {
    if (View()) View()->update(x, y, w, h);
  };
  gNavigationUi.setScrollRange = [](uint32_t total) {
    if (!window) return;
    QScrollBar* s = window->FrameScrollBar();
    settingScroll = true;
    s->setRange(0, total > 0 ? static_cast<int>(total - 1) : 0);
    s->setPageStep(1);
    s->setSingleStep(1);
    s->setValue(0);
    s->setEnabled(total > 1);
    settingScroll = false;
  };
  gNavigationUi.setStatic30006 = [](const std::string& t) {
    if (auto* l = qobject_cast<QLabel*>(window ? window->MainControl(kCmdStatic30006) : nullptr))
      l->setText(QString::fromStdString(t));
  };
  gNavigationUi.setStatic30007 = [](const std::string& t) {
    if (auto* l = qobject_cast<QLabel*>(window ? window->MainControl(kCmdStatic30007) : nullptr))
      l->setText(QString::fromStdString(t));
  };
  gNavigationUi.setFrameNumberBox = [](const std::string& t) {
    if (!window) return;
    window->FrameNumberBox()->setText(QString::fromStdString(t));
    window->FrameNumberBox()->repaint();
  };
}

bool HaveFrames() {
  return nOpenAvi > 0 && gFramePool.block && !ME.fBusy;
}

}  // namespace

void FrameSetChanged() {
  StopAlternatingFields();
  if (nOpenAvi > 0 && !SetupView()) return;
  RecountFrames(0);
  if (window) SetViewArea(View()->width(), View()->height());
  RefreshUi();
}

void RegisterFrameCommands(MainWindow* w) {
  window = w;
  InstallUi();
  SetViewArea(View()->width(), View()->height());

  auto step = [](int id, CommandSource) { StepCommand(id); };
  for (int id : {50600, 50601, 50602, 50603, 50604, 50606, 50607, 50608, 50609, 50610})
    RegisterCommand(id, step, HaveFrames);
  // Space and Shift+Space also work while the fields alternate, which lets
  // only the key commands through.
  RegisterCommand(
      10032, [](int, CommandSource) { StepCommand(50600); }, HaveFrames);
  RegisterCommand(
      11032, [](int, CommandSource) { StepCommand(50607); }, HaveFrames);

  RegisterCommand(
      41011, [](int, CommandSource) { GoToNextNullFrame(); }, HaveFrames);
  auto relative = [](int id, CommandSource) { RelativeNumberingCommand(id); };
  RegisterCommand(41012, relative, HaveFrames);
  RegisterCommand(41013, relative, [] { return HaveFrames() && gRelativeBase > 0; });
  RegisterCommand(41014, relative, [] { return HaveFrames() && gLastRelativeBase > 0; });
  RegisterCommand(
      13082, [](int, CommandSource) { DispatchCommand(41014, CommandSource::kAccelerator); },
      [] { return HaveFrames() && gLastRelativeBase > 0; });

  // Enter in the frame-number box goes to the number typed; elsewhere it
  // stays the key of saving corrections.
  RegisterCommand(kCmdKeyEnter, [](int, CommandSource src) {
    if (window && window->FrameNumberBox()->hasFocus()) {
      if (HaveFrames()) GoToTypedFrame(window->FrameNumberBox()->text().toStdString());
      return;
    }
    DispatchCommand(21021, src);
  });
  QObject::connect(w->FrameScrollBar(), &QScrollBar::valueChanged, w, [](int v) {
    if (settingScroll || !HaveFrames() || v < 0) return;
    if (static_cast<uint32_t>(v) != gCurrentFrame) ShowCurrent(static_cast<uint32_t>(v), RF_NO_SCROLL);
  });

  // View settings.
  RegisterCommand(
      kCmdFitWindow,
      [](int id, CommandSource src) {
        gView.fitToWindow = ToggleCheck(id, src, gView.fitToWindow) != 0;
        ClampScroll();
        RedrawCurrent();
        PaintView(true);
      },
      [] { return true; });
  RegisterCommand(10113, [](int, CommandSource src) { DispatchCommand(kCmdFitWindow, src); });
  RegisterCommand(
      kCmdMixField,
      [](int id, CommandSource src) {
        bool on = ToggleCheck(id, src, mixedFields) != 0;
        if (on == mixedFields) return;
        mixedFields = on;
        if (nOpenAvi > 0 && gFramePool.block) ShowCurrent(gCurrentFrame, RF_KEEP_CORRECTION);
      },
      [] { return !AlternatingFields(); });
  RegisterCommandRange(
      44002, 44015,
      [](int id, CommandSource) {
        BrightnessCommand(id);
        mirdexSettings.brightness = gView.brightness;
      },
      [] { return true; });
  // The brightness read from the settings file; the menu keeps its plain
  // caption while it is 1.00.
  RegisterCommand(kCmdBrightnessApply, [](int, CommandSource) {
    unsigned p = std::min<uint32_t>(mirdexSettings.brightness, 510);
    SetBrightness(p, p != 100);
    RedrawCurrent();
  });
  RegisterCommand(
      10106, [](int, CommandSource) { ZoomIn(); }, [] { return nOpenAvi > 0 && gFramePool.block; });
  RegisterCommand(
      10111, [](int, CommandSource) { ZoomOut(); }, [] { return nOpenAvi > 0 && gFramePool.block; });
  RegisterCommandRange(47029, 47031, [](int id, CommandSource) {
    int index = id - 47028;
    SetDiffGain(gView.diffGain == index ? 0 : index);
  });
  RegisterCommand(
      41006, [](int, CommandSource) { RunAlternatingFields(); },
      [] { return HaveFrames() && !AlternatingFields(); });
  RegisterCommand(10112, [](int, CommandSource src) { DispatchCommand(41006, src); });
}
