// Opens an AVI file and times RebuildAviIndex over it (its own indexes are
// ignored; nothing is written). Prints chunks, seconds and chunks per second.
#include <chrono>
#include <cstdio>
#include <string>

#include "avi/AviReader.h"
#include "avi/OpenAvi.h"
#include "platform/Host.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: avi_rebuild_bench FILE.avi [repeats]\n");
    return 2;
  }
  int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
  ConsoleHost host;
  SetHost(&host);
  OpenAviFile avi;
  std::snprintf(avi.szFileName, sizeof avi.szFileName, "%s", argv[1]);
  gScanMissingIndexSilently = true;
  if (!CloseOpenAvi(&avi, 3)) return 2;
  double best = 1e30;
  uint64_t chunks = 0;
  for (int i = 0; i < repeats; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    if (!RebuildAviIndex(&avi, false)) return 2;
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (s < best) best = s;
    chunks = uint64_t{avi.sets[0].FrameMax} + avi.sets[0].WaveIndexEntries;
  }
  std::printf("%llu %.6f %.0f\n", static_cast<unsigned long long>(chunks), best, chunks / best);
  return 0;
}
