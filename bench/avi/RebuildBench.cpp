// Opens an AVI file and times RebuildAviIndex over it (its own indexes are
// ignored; nothing is written). Prints chunks, seconds and chunks per second.
// With "--report" it times the report's work inside the process instead
// (what `mirdex --report` costs beyond starting the program).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "avi/AviReader.h"
#include "avi/OpenAvi.h"
#include "avi/Report.h"
#include "platform/Host.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: avi_rebuild_bench FILE.avi [repeats]\n");
    return 2;
  }
  if (std::string(argv[1]) == "--report" && argc > 2) {
    std::FILE* sink = std::fopen("/dev/null", "w");
    double best = 1e30;
    for (int i = 0; i < 5; ++i) {
      auto t0 = std::chrono::steady_clock::now();
      RunReport(1, argv + 2, sink);
      best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::fclose(sink);
    std::printf("%.6f\n", best);
    return 0;
  }
  int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
  ConsoleHost host;
  SetHost(&host);
  OpenAviFile avi;
  avi.szFileName = argv[1];
  avi.options.scanMissingIndexSilently = true;
  if (!CloseOpenAvi(&avi, 3)) return 2;
  // One line with the threads the scan chooses itself, one with a single thread.
  for (unsigned threads : {0u, 1u}) {
    avi.options.scanThreads = threads;
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
  }
  return 0;
}
