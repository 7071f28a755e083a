#include "app/FileCommands.h"

#include "app/FrameCommands.h"
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
}

}  // namespace

void RegisterFileCommands(OpenAviTable& shownTable) {
  table = &shownTable;
  SetOpenFileCountProvider([] { return table->nOpenAvi; });
  RegisterCommand(40000, [](int, CommandSource) { AfterOpen(table->CommandOpen(40000)); });
  RegisterCommand(40001, [](int, CommandSource) { AfterOpen(table->CommandOpen(40001)); });
  RegisterCommand(
      40002,
      [](int, CommandSource) {
        table->CommandOpen(40002);
        FrameSetChanged();
      },
      [] { return table->nOpenAvi > 0; });
  RegisterCommandRange(
      50100, 50100 + kRecentFileCount - 1,
      [](int id, CommandSource) {
        std::string path = mirdexSettings.recentFiles[id - 50100];
        if (!path.empty()) AfterOpen(table->OpenNamedFile(path));
      },
      [] { return true; });
  // Data after idx1 (further RIFF parts a capture program left behind) no
  // longer marks files opened afterwards. No menu item carries it.
  RegisterCommand(48001, [](int id, CommandSource) {
    bool& ignore = table->openOptions.ignoreDataAfterIdx1;
    ignore = !ignore;
    SetCheck(id, ignore, false);
  });
  RegisterCommand(50402, [](int, CommandSource) {
    std::string path = TakePendingOpenName();
    if (!path.empty()) AfterOpen(table->OpenNamedFile(path));
  });
}
