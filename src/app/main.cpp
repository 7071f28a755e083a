#include <QApplication>
#include <QSessionManager>
#include <cstdio>
#include <cstdlib>

#include "app/FileCommands.h"
#include "app/Headless.h"
#include "app/MainWindow.h"
#include "platform/AppState.h"
#include "platform/Paths.h"
#include "platform/System.h"

namespace {
bool HasDisplay() {
  auto set = [](const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
  };
  return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}
}  // namespace

int main(int argc, char** argv) {
  int rc = RunHeadless(argc, argv);
  if (rc >= 0) return rc;
  if (!HasDisplay()) {
    std::fputs("mirdex: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); the window cannot open.\n",
               stderr);
    return 2;
  }
  QApplication app(argc, argv);
  SetProgramFiles(kMirdexFiles);
  ExeDir();  // computed once, before anything changes the working folder
  DetectCpuFeatures();
  MainWindow window;
  RegisterFileCommands();
  if (!window.Startup()) return 0;
  // The session ending closes the window the same way the user does.
  QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                   [&window](QSessionManager&) { window.close(); });
  window.show();
  ME.fMainInactive = 1;
  // QApplication has taken its own options out of argv.
  std::vector<std::string> args(argv + 1, argv + argc);
  window.OpenFromCommandLine(args);
  return app.exec();
}
