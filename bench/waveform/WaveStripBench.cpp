// The waveform strip during step playback: the driver plays every frame of
// the file with the view drawn, once with the strip following each frame and
// once without it; the difference is the strip's share of the frame time.
// Then the strip alone (fetch, draw, paint) per frame, at the start and at
// the end of the file. Offscreen window, events processed once per frame as
// the program's message pump does.
#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

#include "app/WaveStrip.h"
#include "frame/Capture.h"
#include "platform/Host.h"
#include "process/FrameOperation.h"
#include "process/Playback.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// The pump of the program: paints what was updated.
struct PumpingHost : ConsoleHost {
  void SetStatusText(int, const std::string&) override {}
  void Pump() override { QCoreApplication::processEvents(); }
};

// Hands each frame shown to the strip while `follow` is on.
struct StripWindow : FrameWindow {
  WaveStrip* strip = nullptr;
  bool follow = false;
  uint64_t drawn = 0;
  void DrawWaveForm(int64_t frameNo) override {
    if (!follow) return;
    strip->Draw(frameNo);
    ++drawn;
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_waveform FILE.avi\n");
    return 2;
  }
  PumpingHost host;
  SetHost(&host);
  auto shown = std::make_unique<ShownCapture>();
  if (!shown->table.OpenOne(argv[1], 3) || !shown->view.SetupView()) return 2;
  FrameReader& r = shown->reader;
  const uint32_t frames = shown->table.TotalFrames();
  if (frames < 2) return 2;

  WaveStrip strip(*shown, nullptr);
  strip.resize(720, kWaveStripHeight);
  strip.SetOn(true);
  QCoreApplication::processEvents();
  StripWindow window;
  window.strip = &strip;
  shown->SetWindow(&window);

  FrameOperationDriver driver(*shown);
  PlaybackSettings settings;
  double best[2] = {1e9, 1e9};
  for (int round = 0; round < 5; ++round)
    for (int follow = 0; follow < 2; ++follow) {
      window.follow = follow != 0;
      window.drawn = 0;
      r.currentFrame = 0;
      PlaybackOperation play(settings, true);
      auto t0 = Clock::now();
      if (driver.Run(play) != 1 || r.currentFrame != frames - 1) return 1;
      best[follow] = std::min(best[follow], Seconds(t0));
      // Every frame played, and the frame shown at the end, drew the strip.
      if (follow && window.drawn < frames) return 1;
    }

  // The strip alone for the first and the last frames of the file: fetching
  // a frame's audio walks the audio index from the start.
  const uint32_t span = std::min<uint32_t>(100, frames / 2);
  auto alone = [&](uint32_t first) {
    double b = 1e9;
    for (int round = 0; round < 5; ++round) {
      auto t0 = Clock::now();
      for (uint32_t f = first; f < first + span; ++f) {
        strip.Draw(f);
        strip.repaint();
      }
      b = std::min(b, Seconds(t0) / span);
    }
    return b;
  };
  const double start = alone(0), end = alone(frames - span);

  const double frameTime = best[1] / frames;
  std::printf("%u frames %dx%d, strip %dx%d\n", frames, r.framePool.geometry.width,
              r.framePool.geometry.height, strip.width(), strip.height());
  std::printf("playback without strip %8.1f f/s\n", frames / best[0]);
  std::printf("playback with strip    %8.1f f/s\n", frames / best[1]);
  std::printf("strip share of frame time (difference)  %5.2f%%\n", 100.0 * (best[1] - best[0]) / best[1]);
  std::printf("strip alone: %6.1f us/frame at the start (%5.2f%%), %6.1f us/frame at the end (%5.2f%%)\n",
              start * 1e6, 100.0 * start / frameTime, end * 1e6, 100.0 * end / frameTime);
  shown->SetWindow(nullptr);
  SetHost(nullptr);
  return 0;
}
