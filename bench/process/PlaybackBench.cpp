// Step playback through the driver against reading the same frames with
// ReadFrame alone, in one process; and how often an operation with progress
// rewrites the title for N frames. No window: the view draws into its own
// bitmap, which is the drawing the window would paint from.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "frame/Capture.h"
#include "platform/Host.h"
#include "process/FrameOperation.h"
#include "process/Playback.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Reads every frame and shows progress, as a processing operation would.
struct ProgressOperation : FrameOperation {
  FrameRangeChoice all;
  int Command() const override { return 41020; }
  std::string Name() const override { return "計測"; }
  const FrameRangeChoice* RangeChoice() const override { return &all; }
};

// Counts the title rewrites; everything else is dropped.
struct QuietHost : ConsoleHost {
  int suffixes = 0;
  void SetStatusText(int, const std::string&) override {}
  void SetTitleSuffix(const std::string&) override { ++suffixes; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_playback FILE.avi\n");
    return 2;
  }
  QuietHost host;
  SetHost(&host);
  auto shown = std::make_unique<ShownCapture>();
  if (!shown->table.OpenOne(argv[1], 3) || !shown->view.SetupView()) return 2;
  FrameReader& r = shown->reader;
  const uint32_t frames = shown->table.TotalFrames();
  FrameOperationDriver driver(*shown);
  PlaybackSettings settings;

  double best[3] = {1e9, 1e9, 1e9};
  for (int round = 0; round < 5; ++round) {
    auto t0 = Clock::now();
    for (uint32_t n = 0; n < frames; ++n)
      if (!r.ReadFrame(nullptr, r.Slot(kCurrentFrame), nullptr, n, 0)) return 1;
    best[0] = std::min(best[0], Seconds(t0));
    for (int display = 0; display < 2; ++display) {
      driver.suppressDisplay = display == 0;
      r.currentFrame = 0;
      PlaybackOperation play(settings, true);
      t0 = Clock::now();
      if (driver.Run(play) != 1 || r.currentFrame != frames - 1) return 1;
      best[1 + display] = std::min(best[1 + display], Seconds(t0));
    }
  }
  std::printf("%u frames %dx%d\n", frames, r.framePool.geometry.width, r.framePool.geometry.height);
  std::printf("ReadFrame alone        %8.1f f/s\n", frames / best[0]);
  std::printf("playback, no display   %8.1f f/s  ratio %.3f\n", frames / best[1], best[0] / best[1]);
  std::printf("playback, view drawn   %8.1f f/s  ratio %.3f\n", frames / best[2], best[0] / best[2]);

  ProgressOperation op;
  driver.suppressDisplay = true;
  uint64_t before = driver.progressWrites;
  auto t0 = Clock::now();
  if (driver.Run(op) != 1) return 1;
  std::printf("progress: %llu title rewrites for %u frames (%.1f s)\n",
              static_cast<unsigned long long>(driver.progressWrites - before), frames, Seconds(t0));
  SetHost(nullptr);
  return 0;
}
