#include "app/FrameCommands.h"

#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <memory>

#include "command/Dispatcher.h"
#include "app/MainWindow.h"
#include "app/MarkCommands.h"
#include "app/PlaybackCommands.h"
#include "app/WaveStrip.h"
#include "frame/Capture.h"
#include "platform/AppState.h"
#include "settings/MirdexSettings.h"

namespace {

// Shows the main capture in the window's controls.
class WindowLink : public FrameWindow {
 public:
  explicit WindowLink(MainWindow* w) : w_(w) {}
  bool settingScroll = false;

  void SetScrollPosition(uint32_t frame) override {
    settingScroll = true;
    w_->FrameScrollBar()->setValue(static_cast<int>(frame));
    settingScroll = false;
  }
  void Paint(bool) override { w_->FrameArea()->update(); }
  void PaintStrip(int x, int y, int width, int height) override {
    w_->FrameArea()->update(x, y, width, height);
  }
  void ShowBrightnessCaption(unsigned percent) override { ::ShowBrightnessCaption(percent); }
  void SetScrollRange(uint32_t total) override {
    QScrollBar* s = w_->FrameScrollBar();
    settingScroll = true;
    s->setRange(0, total > 0 ? static_cast<int>(total - 1) : 0);
    s->setPageStep(1);
    s->setSingleStep(1);
    s->setValue(0);
    s->setEnabled(total > 1);
    settingScroll = false;
  }
  void SetStatic30006(const std::string& t) override { SetLabel(kCmdStatic30006, t); }
  void SetStatic30007(const std::string& t) override { SetLabel(kCmdStatic30007, t); }
  void RebuildMarkMenu() override { UpdateSelectionMenu(); }
  void DrawWaveForm(int64_t frameNo) override { ::DrawWaveForm(frameNo); }
  void SetFrameNumberBox(const std::string& t) override {
    w_->FrameNumberBox()->setText(QString::fromStdString(t));
    w_->FrameNumberBox()->repaint();
  }

 private:
  void SetLabel(int id, const std::string& t) {
    if (auto* l = qobject_cast<QLabel*>(w_->MainControl(id))) l->setText(QString::fromStdString(t));
  }
  MainWindow* w_;
};

MainWindow* window = nullptr;
std::unique_ptr<WindowLink> windowLink;

ShownCapture& S() {
  return window->Shown();
}

// While the sound plays the picture may be moved; the sound follows it.
bool HaveFrames() {
  return window && S().table.nOpenAvi > 0 && S().reader.framePool.block && (!ME.fBusy || ME.fAudioPlaying);
}

bool HavePicture() {
  return window && S().table.nOpenAvi > 0 && S().reader.framePool.block;
}

}  // namespace

void FrameSetChanged() {
  if (!window) return;
  ShownCapture& s = S();
  s.view.StopAlternatingFields();
  if (s.table.nOpenAvi > 0 && !s.view.SetupView()) return;
  s.navigation.RecountFrames(0);
  // With no file left no frame was shown, and the strip must go blank.
  ::DrawWaveForm(-1);
  s.view.SetViewArea(window->FrameArea()->width(), window->FrameArea()->height());
  UpdateSelectionMenu();
  RefreshUi();
}

void UnregisterFrameCommands(MainWindow* w) {
  if (window != w) return;
  w->Shown().SetWindow(nullptr);
  windowLink.reset();
  window = nullptr;
}

void RegisterFrameCommands(MainWindow* w) {
  window = w;
  windowLink = std::make_unique<WindowLink>(w);
  S().SetWindow(windowLink.get());
  S().view.SetViewArea(w->FrameArea()->width(), w->FrameArea()->height());

  auto step = [](int id, CommandSource) { S().navigation.StepCommand(id); };
  for (int id :
       {kCmdStepForward1, kCmdStepForward30, kCmdStepForward150, kCmdStepForward300, kCmdGoToLastFrame,
        kCmdGoToFirstFrame, kCmdStepBackward1, kCmdStepBackward30, kCmdStepBackward150, kCmdStepBackward300})
    RegisterCommand(id, step, HaveFrames);
  // Space and Shift+Space also work while the fields alternate, which lets
  // only the key commands through.
  // During a playback they turn it forward or backward.
  auto playing = [] { return HaveFrames() || PlaybackRuns(); };
  RegisterCommand(
      kCmdKeySpace,
      [](int, CommandSource) {
        if (!SteerPlayback(true)) S().navigation.StepCommand(kCmdStepForward1);
      },
      playing);
  RegisterCommand(
      kCmdShiftSpace,
      [](int, CommandSource) {
        if (!SteerPlayback(false)) S().navigation.StepCommand(kCmdStepBackward1);
      },
      playing);

  RegisterCommand(
      kCmdNextNullFrame, [](int, CommandSource) { S().navigation.GoToNextNullFrame(); }, HaveFrames);
  auto relative = [](int id, CommandSource) { S().navigation.RelativeNumberingCommand(id); };
  RegisterCommand(kCmdRelativeFrameSet, relative, HaveFrames);
  RegisterCommand(kCmdRelativeFrameClear, relative,
                  [] { return HaveFrames() && S().navigation.relativeBase > 0; });
  RegisterCommand(kCmdRelativeFrameRestore, relative,
                  [] { return HaveFrames() && S().navigation.lastRelativeBase > 0; });
  RegisterCommand(
      kCmdCtrlShiftR,
      [](int, CommandSource) { DispatchCommand(kCmdRelativeFrameRestore, CommandSource::kAccelerator); },
      [] { return HaveFrames() && S().navigation.lastRelativeBase > 0; });

  // Enter in the frame-number box goes to the number typed; elsewhere it
  // stays the key of saving corrections.
  RegisterCommand(kCmdKeyEnter, [](int, CommandSource src) {
    if (window && window->FrameNumberBox()->hasFocus()) {
      if (HaveFrames()) S().navigation.GoToTypedFrame(window->FrameNumberBox()->text().toStdString());
      return;
    }
    DispatchCommand(kCmdSaveCorrections, src);
  });
  QObject::connect(w->FrameScrollBar(), &QScrollBar::valueChanged, w, [](int v) {
    // The user may move the frame while a playback runs; it goes on from there.
    if (!windowLink || windowLink->settingScroll || !(HaveFrames() || PlaybackRuns()) || v < 0) return;
    if (static_cast<uint32_t>(v) != S().reader.currentFrame)
      S().reader.ShowCurrent(static_cast<uint32_t>(v), RF_NO_SCROLL);
  });

  // View settings.
  RegisterCommand(
      kCmdFitWindow,
      [](int id, CommandSource src) {
        ViewState& v = S().view;
        v.fitToWindow = ToggleCheck(id, src, v.fitToWindow) != 0;
        v.ClampScroll();
        v.RedrawCurrent();
        v.PaintView(true);
      },
      [] { return true; });
  RegisterCommand(kCmdKeyF2, [](int, CommandSource src) { DispatchCommand(kCmdFitWindow, src); });
  RegisterCommand(
      kCmdMixField,
      [](int id, CommandSource src) {
        FrameReader& r = S().reader;
        bool on = ToggleCheck(id, src, r.mixedFields) != 0;
        if (on == r.mixedFields) return;
        r.mixedFields = on;
        if (HavePicture()) r.ShowCurrent(r.currentFrame, RF_KEEP_CORRECTION);
      },
      [] { return !S().view.AlternatingFields(); });
  RegisterCommandRange(
      kCmdBrightness025, kCmdBrighter01,
      [](int id, CommandSource) {
        S().view.BrightnessCommand(id);
        mirdexSettings.brightness = S().view.brightness;
      },
      [] { return true; });
  // The brightness read from the settings file; the menu keeps its plain
  // caption while it is 1.00.
  RegisterCommand(kCmdBrightnessApply, [](int, CommandSource) {
    unsigned p = std::min<uint32_t>(mirdexSettings.brightness, 510);
    S().view.SetBrightness(p, p != 100);
    S().view.RedrawCurrent();
  });
  RegisterCommand(
      kCmdKeyMultiply, [](int, CommandSource) { S().view.ZoomIn(); }, HavePicture);
  RegisterCommand(
      kCmdKeyDivide, [](int, CommandSource) { S().view.ZoomOut(); }, HavePicture);
  RegisterCommandRange(kCmdDiffGain1, kCmdDiffGain3, [](int id, CommandSource) {
    int index = id - kCmdDiffGain1 + 1;
    S().view.SetDiffGain(S().view.diffGain == index ? 0 : index);
  });
  RegisterCommand(
      kCmdAlternateFields, [](int, CommandSource) { S().view.RunAlternatingFields(); },
      [] { return HaveFrames() && !S().view.AlternatingFields(); });
  RegisterCommand(kCmdKeyF1, [](int, CommandSource src) { DispatchCommand(kCmdAlternateFields, src); });
}
