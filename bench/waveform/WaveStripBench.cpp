// The waveform strip during step playback in the program's own window
// (offscreen): the driver plays every frame of the file with the picture
// painted, once with the strip switched on and once with it off; the
// difference is the strip's share of the frame time. Then the strip alone
// (the audio engine's read, drawing, painting) per frame, at the start and
// at the end of the file, against the frame time with the strip on. All in
// CPU time of the process, best of five: the machine is shared, and what
// other programs run should not count as the strip's cost.
#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "app/FrameCommands.h"
#include "app/MainWindow.h"
#include "app/WaveStrip.h"
#include "command/Dispatcher.h"
#include "frame/Capture.h"
#include "process/Playback.h"

namespace {

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2 || argc > 3) {
    std::fprintf(
        stderr,
        "usage: bench_waveform FILE.avi [--strip-only] (MIRDEX_HOME names a scratch settings folder)\n");
    return 2;
  }
  // Long files: the strip alone, without the playback rounds.
  const bool stripOnly = argc == 3 && std::string(argv[2]) == "--strip-only";
  auto window = std::make_unique<MainWindow>();
  if (!window->Startup()) return 2;
  window->resize(720 + 8, 480 + kWaveStripHeight + 120);
  window->show();
  ShownCapture& shown = window->Shown();
  if (!shown.table.OpenNamedFile(argv[1])) return 2;
  FrameSetChanged();
  auto* strip = dynamic_cast<WaveStrip*>(window->WaveArea());
  FrameReader& r = shown.reader;
  const uint32_t frames = shown.table.TotalFrames();
  if (!strip || frames < 2) return 2;
  QCoreApplication::processEvents();

  double best[2] = {1e9, 1e9};
  for (int round = 0; round < (stripOnly ? 0 : 5); ++round)
    for (int on = 0; on < 2; ++on) {
      if (strip->On() != (on != 0)) DispatchCommand(kCmdShowWave, CommandSource::kMenu);
      QCoreApplication::processEvents();
      r.ShowCurrent(0);
      PlaybackOperation play(window->Playback(), true);
      const double t0 = CpuSeconds();
      if (window->Operations().Run(play) != 1 || r.currentFrame != frames - 1) return 1;
      best[on] = std::min(best[on], CpuSeconds() - t0);
    }

  // The strip alone for the first and the last frames of the file: its read
  // of a frame's audio walks the audio index from the start.
  if (!strip->On()) DispatchCommand(kCmdShowWave, CommandSource::kMenu);
  QCoreApplication::processEvents();
  const uint32_t span = std::min<uint32_t>(100, frames / 2);
  auto alone = [&](uint32_t first, bool draw, bool paint) {
    double b = 1e9;
    for (int round = 0; round < 5; ++round) {
      const double t0 = CpuSeconds();
      for (uint32_t f = first; f < first + span; ++f) {
        if (draw) strip->Draw(f);
        if (paint) strip->repaint();
      }
      b = std::min(b, (CpuSeconds() - t0) / span);
    }
    return b;
  };
  const double start = alone(0, true, true), end = alone(frames - span, true, true);
  const double drawOnly = alone(0, true, false), paintOnly = alone(0, false, true);
  ReadWave engine(shown.table);
  ReadWaveSettings settings;
  std::vector<uint8_t> audio;
  double fetch = 1e9;
  uint64_t sink = 0;
  for (int round = 0; round < 5; ++round) {
    const double t0 = CpuSeconds();
    for (uint32_t f = 0; f < span; ++f) {
      ReadWaveRequest request;
      request.firstFrame = f;
      request.frameCount = 1;
      request.buffer = &audio;
      sink += static_cast<uint64_t>(engine.Run(kWaveFrameRangeToBuffer, settings, request));
    }
    fetch = std::min(fetch, (CpuSeconds() - t0) / span);
  }
  if (!sink) return 1;

  if (stripOnly) {
    std::printf("%u frames: strip alone %6.1f us/frame at the start, %6.1f us/frame at the end\n", frames,
                start * 1e6, end * 1e6);
    std::printf(
        "  drawing the strip's picture %6.1f us (the audio engine's read %6.1f us), painting it %6.1f us\n",
        drawOnly * 1e6, fetch * 1e6, paintOnly * 1e6);
    return 0;
  }
  const double frameTime = best[1] / frames;
  std::printf("%u frames %dx%d, strip %dx%d\n", frames, r.framePool.geometry.width,
              r.framePool.geometry.height, strip->width(), strip->height());
  std::printf("playback, strip off %8.1f f/s (CPU time)\n", frames / best[0]);
  std::printf("playback, strip on  %8.1f f/s\n", frames / best[1]);
  std::printf("strip share of the frame time (difference, noisy on a busy machine)  %5.2f%%\n",
              100.0 * (best[1] - best[0]) / best[1]);
  std::printf("strip alone: %6.1f us/frame at the start (%5.2f%%), %6.1f us/frame at the end (%5.2f%%)\n",
              start * 1e6, 100.0 * start / frameTime, end * 1e6, 100.0 * end / frameTime);
  std::printf(
      "  drawing the strip's picture %6.1f us (the audio engine's read %6.1f us), painting it %6.1f us\n",
      drawOnly * 1e6, fetch * 1e6, paintOnly * 1e6);
  window.reset();
  return 0;
}
