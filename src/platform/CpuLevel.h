// The one place that chooses vector code: every kernel with a hand-written or
// target-specific variant asks CpuLevel() which variant to run. Each variant
// gives exactly the bytes of the plain one, so the level changes speed only.
#pragma once

// The instruction sets our kernels have variants for, in rising order. SSE2 is
// the x86-64 baseline every build already compiles to, so it needs no level of
// its own: Plain is the code without any target-specific variant.
enum class VectorLevel { Plain, Avx2, Avx512Bw };
constexpr VectorLevel kWidestVectorLevel = VectorLevel::Avx512Bw;

// What this processor (and its operating system) runs; found once.
VectorLevel DetectedCpuLevel();
// The level kernels use: the lower of the detected level and the cap.
VectorLevel CpuLevel();

// The cap is the one process-wide mutable state of the vector choice: tests
// lower it to run each variant the machine has, and Mirdex's "UseSSE" setting
// (menu command 22036) lowers it to Plain when off. Starts at the widest
// level. Returns the cap it replaces.
VectorLevel SetCpuLevelCap(VectorLevel cap);
VectorLevel CpuLevelCap();

// Applies ME.fUseSSE where the processor has SSE (ME.fHasSSE): on lifts the
// cap to the widest level, off lowers it to Plain (SSE2, AVX2 and AVX-512 are
// all SSE-family extensions). Called where fUseSSE changes: DetectCpuFeatures,
// ReadMirdexSettings and the menu toggle. "UseMMX" is kept only for the
// settings file and the menu; no kernel here uses MMX.
void ApplyUseSseSetting();

// The MMX and SSE bits for ME.fHasMMX / fHasSSE.
bool CpuHasMmx();
bool CpuHasSse();

// "plain", "AVX2", "AVX-512BW".
const char* VectorLevelName(VectorLevel level);
