#include "app/ShellCommands.h"

#include <QTimer>

#include "command/Dispatcher.h"
#include "app/MainWindow.h"
#include "app/OptionsWindow.h"
#include "platform/AppState.h"
#include "platform/CpuLevel.h"
#include "platform/Messages.h"
#include "settings/MirdexSettings.h"

void RegisterShellCommands(MainWindow* w) {
  auto abort = [](int, CommandSource) { AbortCommand(); };
  RegisterCommand(kCmdEsc, abort);
  RegisterCommand(kCmdAbortMenu, abort);
  RegisterCommand(kCmdAbortButton, abort);
  RegisterCommand(kCmdExit, [w](int, CommandSource) { QTimer::singleShot(0, w, [w] { w->close(); }); });
  RegisterCommand(kCmdAbout, [w](int, CommandSource) { w->ShowAbout(); });
  RegisterCommand(kCmdOptions, [w](int, CommandSource) { ShowOptionsWindow(w); });
  RegisterCommand(kCmdLogFile, [](int id, CommandSource src) {
    mirdexSettings.logFile = ToggleCheck(id, src, mirdexSettings.logFile);
    // A log that cannot be opened leaves the option checked; nothing is shown.
    if (mirdexSettings.logFile)
      OpenLog();
    else
      CloseLog();
  });
  RegisterCommand(kCmdPowerOffAfter, [](int id, CommandSource src) {
    ME.nPowerOffAfter = ToggleCheck(id, src, ME.nPowerOffAfter >= 1) ? 1 : -2;
  });
  RegisterCommand(
      kCmdUseMMX, [](int id, CommandSource src) { ME.fUseMMX = ToggleCheck(id, src, ME.fUseMMX); },
      [] { return ME.fHasMMX != 0; });
  RegisterCommand(
      kCmdUseSSE,
      [](int id, CommandSource src) {
        ME.fUseSSE = ToggleCheck(id, src, ME.fUseSSE);
        ApplyUseSseSetting();
      },
      [] { return ME.fHasSSE != 0; });
  RegisterCommand(kCmdBringTop, [w](int id, CommandSource src) {
    mirdexSettings.bringTop = ToggleCheck(id, src, mirdexSettings.bringTop);
    bool visible = w->isVisible();
    w->setWindowFlag(Qt::WindowStaysOnTopHint, mirdexSettings.bringTop != 0);
    if (visible) w->show();  // changing the flag hides the window
  });
  RegisterCommand(kCmdBlinkUndo, [](int id, CommandSource src) {
    mirdexSettings.blinkUndo = ToggleCheck(id, src, mirdexSettings.blinkUndo);
  });
  RegisterCommand(kCmdNotShow, [w](int id, CommandSource src) {
    mirdexSettings.notShow = ToggleCheck(id, src, mirdexSettings.notShow);
    w->Operations().suppressDisplay = mirdexSettings.notShow != 0;
  });
}
