// The Options window (command 44016): priorities, MMX/SSE, the log, power-off
// after a run, the fixed frame rate with its history and the playback sync.
#pragma once

class MainWindow;
class QDialog;

// Shows the window (made on first use, raised when open).
QDialog* ShowOptionsWindow(MainWindow* window);
QDialog* OptionsWindow();  // the open window or null

// The batch driver calls this at the start (true) and end (false) of a run:
// "終了後シャットダウン" can be chosen only while a run goes on. The run's
// busy state must let command 22034 through.
void SetPowerOffChoiceEnabled(bool on);
