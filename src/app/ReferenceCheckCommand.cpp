#include "app/ReferenceCheckCommand.h"

#include "app/MainWindow.h"
#include "command/Dispatcher.h"
#include "platform/AppState.h"
#include "process/ReferenceCheck.h"

void RegisterReferenceCheckCommand(MainWindow* window) {
  RegisterCommand(
      kCmdCheckReferenceFiles,
      [window](int, CommandSource) {
        CheckReferenceFiles(window->Operations());
        RefreshUi();
      },
      [window] { return !ME.fBusy && CanCheckReferenceFiles(window->Shown()); });
}

void UnregisterReferenceCheckCommand() {
  UnregisterCommand(kCmdCheckReferenceFiles);
}
