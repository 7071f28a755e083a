// Frame-view kernels on one 720x480 frame against memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "frame/Convert.h"
#include "frame/ViewKernels.h"

namespace {
constexpr int kW = 720, kH = 480;
const size_t kStride = RgbStride(kW), kBytes = kStride * kH;

std::vector<uint8_t> Frame() {
  std::vector<uint8_t> f(kBytes);
  for (size_t i = 0; i < kBytes; ++i) f[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
  return f;
}

void BM_Memcpy(benchmark::State& state) {
  auto src = Frame();
  std::vector<uint8_t> dst(kBytes);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), kBytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

void BM_ScaleBrightness(benchmark::State& state) {
  auto src = Frame();
  std::vector<uint8_t> dst(kBytes);
  for (auto _ : state) {
    ScaleBrightness(dst.data(), src.data(), kBytes, static_cast<unsigned>(state.range(0)));
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

void BM_SplitFields(benchmark::State& state) {
  auto src = Frame();
  std::vector<uint8_t> dst(kBytes);
  for (auto _ : state) {
    SplitFields(dst.data(), src.data(), kH, kStride, FieldDirection::Split, false);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

void BM_JoinFields(benchmark::State& state) {
  auto src = Frame();
  std::vector<uint8_t> dst(kBytes);
  for (auto _ : state) {
    SplitFields(dst.data(), src.data(), kH, kStride, FieldDirection::Join, false);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}
}  // namespace

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_ScaleBrightness)->Arg(150)->Arg(50);
BENCHMARK(BM_SplitFields);
BENCHMARK(BM_JoinFields);
BENCHMARK_MAIN();
