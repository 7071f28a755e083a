// Quendrix's window. It lives in a shared library that main() loads only when
// a window is wanted, so the command-line form starts without loading Qt.
#include <QApplication>
#include <QTimer>

#include "quendrix/QuendrixWindow.h"

extern "C" __attribute__((visibility("default"))) int QuendrixGuiMain(int argc, char** argv,
                                                                      const char* file) {
  QApplication app(argc, argv);
  QuendrixWindow window;
  window.show();
  if (file && *file) {
    // A file named on the command line is taken as if it had been dropped.
    QString path = QString::fromUtf8(file);
    QTimer::singleShot(0, &window, [&window, path] { window.ProcessFile(path); });
  }
  return app.exec();
}
