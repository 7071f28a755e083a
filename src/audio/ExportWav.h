// `mirdex --export-wav`: the audio of files opened as one table, through an
// optional mark file's view, written as WAVE by the audio engine's export.
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "avi/OpenAvi.h"

struct ExportWavRequest {
  std::string out;
  std::vector<std::string> inputs;
  // Inclusive global frames of the view; first < 0: everything.
  int64_t first = -1, last = -1;
};

// 0 written, 1 failed, 2 an input could not be read. `prepare` runs after the
// files are open (the mark file). A progress line goes to `err` when it is a
// terminal.
int ExportWav(const ExportWavRequest& request, FILE* err,
              const std::function<bool(OpenAviTable&)>& prepare = nullptr);
