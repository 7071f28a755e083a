// Quendrix: shortens or lengthens a PCM WAVE file by one sample in every
// period, where it is least audible.
#include <QApplication>
#include <QTimer>

#include "platform/AppState.h"
#include "platform/Paths.h"
#include "quendrix/CommandLine.h"
#include "quendrix/QuendrixWindow.h"

int main(int argc, char** argv) {
  ME.programName = "Quendrix";
  SetProgramFiles(kQuendrixFiles);
  std::string file;
  int status = RunCommandLine(argc, argv, &file);
  if (status >= 0) return status;

  QApplication app(argc, argv);
  QuendrixWindow window;
  window.show();
  if (!file.empty()) {
    // A file named on the command line is taken as if it had been dropped.
    QString path = QString::fromStdString(file);
    QTimer::singleShot(0, &window, [&window, path] { window.ProcessFile(path); });
  }
  return app.exec();
}
