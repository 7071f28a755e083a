#include "platform/CpuLevel.h"

#include <algorithm>
#include <atomic>

#include "platform/AppState.h"

namespace {

struct Features {
  VectorLevel level = VectorLevel::Plain;
  bool mmx = false, sse = false;
};

const Features& Detected() {
  static const Features features = [] {
    Features f;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    f.mmx = __builtin_cpu_supports("mmx");
    f.sse = __builtin_cpu_supports("sse");
    // The AVX-512 kernels leave short blocks to the AVX2 ones, so the top
    // level needs both.
    const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw"))
      f.level = VectorLevel::Avx512Bw;
    else if (avx2)
      f.level = VectorLevel::Avx2;
#endif
    return f;
  }();
  return features;
}

// Atomic: kernels also run on worker threads (Quendrix's reader) while the cap
// may change on the main thread.
std::atomic<VectorLevel> gCap{kWidestVectorLevel};

}  // namespace

VectorLevel DetectedCpuLevel() {
  return Detected().level;
}

VectorLevel CpuLevel() {
  return std::min(Detected().level, gCap.load(std::memory_order_relaxed));
}

VectorLevel SetCpuLevelCap(VectorLevel cap) {
  return gCap.exchange(cap, std::memory_order_relaxed);
}

VectorLevel CpuLevelCap() {
  return gCap.load(std::memory_order_relaxed);
}

void ApplyUseSseSetting() {
  // Without SSE there is no such setting (and nothing above Plain anyway).
  SetCpuLevelCap(ME.fHasSSE && !ME.fUseSSE ? VectorLevel::Plain : kWidestVectorLevel);
}

bool CpuHasMmx() {
  return Detected().mmx;
}

bool CpuHasSse() {
  return Detected().sse;
}

const char* VectorLevelName(VectorLevel level) {
  switch (level) {
    case VectorLevel::Plain:
      return "plain";
    case VectorLevel::Avx2:
      return "AVX2";
    case VectorLevel::Avx512Bw:
      return "AVX-512BW";
  }
  return "?";
}
