// Building the deletion view of a two-hour capture: 216,000 frames at
// 30000/1001 fps with one 48 kHz stereo PCM chunk behind each frame, and
// 1,000 deletion ranges spread over it (the goal is 10 ms or less): again
// (adding a range, switching the ranges on) and the first time.
#include <benchmark/benchmark.h>

#include <random>

#include "avi/DeletionView.h"
#include "avi/OpenAvi.h"

namespace {

constexpr uint32_t kFrames = 216000, kRanges = 1000, kRate = 48000, kAlign = 4;

void Fill(OpenAviTable& t) {
  t.AllocOpenAviTable(1);
  t.nOpenAvi = 1;
  OpenAviFile& avi = t.pOpenAviList[0];
  AviStreamSet& s = avi.sets[0];
  s.strhVideo.dwRate = 30000;
  s.strhVideo.dwScale = 1001;
  WaveFormatEx wf{1, 2, kRate, kRate * kAlign, kAlign, 16, 0};
  avi.pwfAudio.assign(18, 0);
  StoreWaveFormat(wf, avi.pwfAudio.data());
  avi.nAudioKind = 0;
  uint64_t offset = 4096;
  const double fps = 30000.0 / 1001;
  for (uint32_t f = 0; f < kFrames; ++f) {
    s.pFrameIndex.push_back(MakeIndexEntry(offset, 120000, true, false));
    offset += 120008;
    uint32_t samples = FirstSampleOfFrame(f + 1, kRate, fps) - FirstSampleOfFrame(f, kRate, fps);
    s.pWaveIndex.push_back(MakeIndexEntry(offset, samples * kAlign, false, false));
    offset += samples * kAlign + 8;
    s.dwWaveSampleCounts += samples;
  }
  s.FrameMax = kFrames;
  s.WaveIndexEntries = kFrames;
  // Ranges of 1..60 frames, one in every 216 frames, at random places.
  std::mt19937 rng(3);
  const uint32_t step = kFrames / kRanges;
  for (uint32_t i = 0; i < kRanges; ++i) {
    uint32_t first = i * step + rng() % (step / 2), length = 1 + rng() % 60;
    avi.deleteRanges.push_back({static_cast<int32_t>(first), static_cast<int32_t>(first + length - 1), {}});
  }
  t.SelectOpenAvi(0);
}

void BM_ChangeOpenAviParam(benchmark::State& state) {
  OpenAviTable t;
  Fill(t);
  OpenAviFile* avi = &t.pOpenAviList[0];
  for (auto _ : state) {
    if (!ChangeOpenAviParam(avi, true, 0)) state.SkipWithError("view not built");
    benchmark::DoNotOptimize(avi->sets[1].pFrameIndex.data());
  }
  state.counters["kept_frames"] = avi->sets[1].FrameMax;
  state.counters["audio_chunks"] = avi->sets[1].WaveIndexEntries;
}
BENCHMARK(BM_ChangeOpenAviParam)->Unit(benchmark::kMillisecond);

// The first build of a file's view allocates (and touches) its arrays.
void BM_ChangeOpenAviParamFirstTime(benchmark::State& state) {
  OpenAviTable t;
  Fill(t);
  OpenAviFile* avi = &t.pOpenAviList[0];
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<FrameIndexEntry>().swap(avi->sets[1].pFrameIndex);
    std::vector<FrameIndexEntry>().swap(avi->sets[1].pWaveIndex);
    std::vector<int32_t>().swap(avi->pFrameOffset);
    state.ResumeTiming();
    if (!ChangeOpenAviParam(avi, true, 0)) state.SkipWithError("view not built");
    benchmark::DoNotOptimize(avi->sets[1].pFrameIndex.data());
  }
}
BENCHMARK(BM_ChangeOpenAviParamFirstTime)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
