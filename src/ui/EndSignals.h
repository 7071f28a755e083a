// The end of a session (SIGTERM, SIGHUP) or Ctrl+C closes a program's main
// window as its close button does, so that its settings are written. A
// window that refuses to close (an operation runs) lets the signal end the
// program as it would have without this.
#pragma once

class QWidget;

void CloseOnEndSignals(QWidget* window);
