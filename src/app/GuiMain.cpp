// The windowed program. It lives in a shared library of its own that main()
// loads only when a window is wanted, so the command-line forms start without
// loading Qt.
#include <QApplication>
#include <QSessionManager>

#include "app/FileCommands.h"
#include "app/MainWindow.h"
#include "platform/AppState.h"
#include "platform/Paths.h"
#include "platform/System.h"
#include "ui/EndSignals.h"
#include "ui/Translations.h"

extern "C" __attribute__((visibility("default"))) int MirdexGuiMain(int argc, char** argv) {
  QApplication app(argc, argv);
  InstallQtTranslations(&app);  // Qt's own buttons and dialogs in Japanese
  SetProgramFiles(kMirdexFiles);
  ExeDir();  // computed once, before anything changes the working folder
  DetectCpuFeatures();
  MainWindow window;
  RegisterFileCommands(window.Shown().table);
  if (!window.Startup()) return 0;
  // The session ending closes the window the same way the user does.
  QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                   [&window](QSessionManager&) { window.close(); });
  CloseOnEndSignals(&window);
  window.show();
  ME.fMainInactive = 1;
  // QApplication has taken its own options out of argv.
  std::vector<std::string> args(argv + 1, argv + argc);
  window.OpenFromCommandLine(args);
  return app.exec();
}
