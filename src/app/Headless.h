// Command-line forms of Mirdex that run without a window (--help, --report,
// --framemd5, --export-wav). Called first thing by main().
#pragma once
#include <vector>

// Returns the exit status when argv asked for a headless form and it has run,
// kHeadlessFrameMd5 (with the file in *frameMd5Path) when it asked for
// --framemd5, which runs in the library with the decoders, or -1 when the
// program should go on and open its window. *markFile receives the file of
// "--marks FILE" (null when none).
constexpr int kHeadlessFrameMd5 = -2;
// --export-wav, which also runs in the library: *exportWav holds its request.
constexpr int kHeadlessExportWav = -3;
struct ExportWavArgs {
  const char* out = nullptr;
  long long first = -1, last = -1;  // --range A-B; -1: everything
  std::vector<char*> inputs;
};
// --save, also in the library: *saveArgs holds what follows it.
constexpr int kHeadlessSave = -4;
int RunHeadless(int argc, char** argv, const char** frameMd5Path, const char** markFile = nullptr,
                ExportWavArgs* exportWav = nullptr, std::vector<char*>* saveArgs = nullptr);
