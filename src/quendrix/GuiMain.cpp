// Quendrix's window. It lives in a shared library that main() loads only when
// a window is wanted, so the command-line form starts without loading Qt.
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>

#include "quendrix/QuendrixSettings.h"
#include "quendrix/QuendrixWindow.h"

namespace {

int gSignalPipe[2] = {-1, -1};

void OnEndSignal(int sig) {
  unsigned char b = static_cast<unsigned char>(sig);
  ssize_t written = write(gSignalPipe[1], &b, 1);
  (void)written;
}

// The end of a session (SIGTERM, SIGHUP) or Ctrl+C closes the window as its
// close button does, so its settings are kept. A busy window refuses to
// close; the signal then ends the program as it would have without us.
void CloseOnEndSignals(QuendrixWindow* window) {
  if (pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, window);
  QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
    unsigned char sig;
    while (read(gSignalPipe[0], &sig, 1) == 1) {
      if (window->close()) continue;
      std::signal(sig, SIG_DFL);
      std::raise(sig);
    }
  });
  struct sigaction action = {};
  action.sa_handler = OnEndSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
    struct sigaction old;
    // A signal ignored by whoever started us (nohup) stays ignored.
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) sigaction(sig, &action, nullptr);
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int QuendrixGuiMain(int argc, char** argv,
                                                                      const char* file) {
  // This library has its own copy of the program state; without this its
  // window would read and write Mirdex's settings file.
  UseQuendrixFiles();
  QApplication app(argc, argv);
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
