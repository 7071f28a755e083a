#include "app/FileCommands.h"

#include "app/FrameCommands.h"
#include "app/MarkCommands.h"
#include "command/Dispatcher.h"
#include "avi/OpenAvi.h"
#include "command/Dispatcher.h"
#include "settings/MirdexSettings.h"

namespace {

OpenAviTable* table = nullptr;

// A main file that opened goes to the top of the recent list.
void RememberMainFile() {
  if (table->nOpenAvi <= 0) return;
  AddRecentFile(mirdexSettings, table->pOpenAviList[0].szFileName);
}

void AfterOpen(bool opened) {
  if (opened) RememberMainFile();
  FrameSetChanged();
  if (opened) OfferToSaveBuiltIndex();
}

}  // namespace

void RegisterFileCommands(OpenAviTable& shownTable) {
  table = &shownTable;
  SetOpenFileCountProvider([] { return table->nOpenAvi; });
  RegisterCommand(kCmdOpen, [](int, CommandSource) { AfterOpen(table->CommandOpen(kCmdOpen)); });
  RegisterCommand(kCmdOpenAdd, [](int, CommandSource) { AfterOpen(table->CommandOpen(kCmdOpenAdd)); });
  RegisterCommand(
      kCmdClose,
      [](int, CommandSource) {
        table->CommandOpen(kCmdClose);
        FrameSetChanged();
      },
      [] { return table->nOpenAvi > 0; });
  RegisterCommandRange(
      kCmdRecentFile0, kCmdRecentFile0 + kRecentFileCount - 1,
      [](int id, CommandSource) {
        std::string path = mirdexSettings.recentFiles[id - kCmdRecentFile0];
        if (!path.empty()) AfterOpen(table->OpenNamedFile(path));
      },
      [] { return true; });
  // Data after idx1 (further RIFF parts a capture program left behind) no
  // longer marks files opened afterwards. No menu item carries it.
  RegisterCommand(kCmdIgnoreDataAfterIdx1, [](int id, CommandSource) {
    bool& ignore = table->openOptions.ignoreDataAfterIdx1;
    ignore = !ignore;
    SetCheck(id, ignore, false);
  });
  RegisterCommand(kCmdOpenRecord, [](int, CommandSource) {
    std::string path = TakePendingOpenName();
    if (!path.empty()) AfterOpen(table->OpenNamedFile(path));
  });
}
