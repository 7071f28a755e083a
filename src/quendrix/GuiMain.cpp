// Quendrix's window. It lives in a shared library that main() loads only when
// a window is wanted, so the command-line form starts without loading Qt.
#include <QApplication>
#include <QTimer>

#include "quendrix/QuendrixSettings.h"
#include "quendrix/QuendrixWindow.h"
#include "ui/EndSignals.h"
#include "ui/Translations.h"

extern "C" __attribute__((visibility("default"))) int QuendrixGuiMain(int argc, char** argv,
                                                                      const char* file) {
  // This library has its own copy of the program state; without this its
  // window would read and write Mirdex's settings file.
  UseQuendrixFiles();
  QApplication app(argc, argv);
  InstallQtTranslations(&app);  // Qt's own buttons and dialogs in Japanese
  QuendrixWindow window;
  window.show();
  CloseOnEndSignals(&window);
  if (file && *file) {
    // A file named on the command line is taken as if it had been dropped.
    QString path = QString::fromUtf8(file);
    QTimer::singleShot(0, &window, [&window, path] { window.ProcessFile(path); });
  }
  return app.exec();
}
