// Quendrix's command line: "--help", the headless form
//   quendrix --output OUT.wav [--range N] [--dispose M] [--extend] [--keep-size] IN.wav
// and a plain file name, which the window processes as if it had been dropped.
#pragma once
#include <string>

// Exit status of a form that ran without a window, or -1 when the window
// should open; then *fileToProcess holds the file named on the command line
// (empty when none).
int RunCommandLine(int argc, char** argv, std::string* fileToProcess);
