#include "ui/EndSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QWidget>
#include <csignal>

namespace {

// Written by the handler, read by the window's thread: a handler may do
// nothing but write to a pipe.
int signalPipe[2] = {-1, -1};

void OnEndSignal(int sig) {
  unsigned char b = static_cast<unsigned char>(sig);
  ssize_t written = write(signalPipe[1], &b, 1);
  (void)written;
}

}  // namespace

void CloseOnEndSignals(QWidget* window) {
  if (signalPipe[0] >= 0 || pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, window);
  QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
    unsigned char sig;
    while (read(signalPipe[0], &sig, 1) == 1) {
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
