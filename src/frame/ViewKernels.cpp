#include "frame/ViewKernels.h"

#include <cstring>

#include "platform/CpuLevel.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

void ScaleBrightnessPlain(uint8_t* dst, const uint8_t* src, size_t n, unsigned factor) {
  const uint64_t k = static_cast<uint64_t>(factor) * 10485u;
  for (size_t i = 0; i < n; ++i) {
    uint64_t v = (src[i] * k) >> 20;
    dst[i] = static_cast<uint8_t>(v > 255 ? 255 : v);
  }
}

#if defined(__x86_64__)
// With k = F·10485 = kh·4096 + kl: (b·k) >> 20 == (b·kh + ((b·16·kl) >> 16)) >> 8
// exactly, so 16-bit lanes suffice; any b·kh of 16 bits or more saturates.
__attribute__((target("avx2"))) static inline __m256i ScaleLane(__m128i bytes, __m256i kh, __m256i kl) {
  __m256i b = _mm256_cvtepu8_epi16(bytes);
  __m256i low = _mm256_mulhi_epu16(_mm256_slli_epi16(b, 4), kl);
  __m256i aLo = _mm256_mullo_epi16(b, kh);
  __m256i aHi = _mm256_mulhi_epu16(b, kh);
  __m256i sum = _mm256_adds_epu16(aLo, low);
  // Lanes whose product overflowed 16 bits saturate.
  __m256i overflow = _mm256_cmpeq_epi16(aHi, _mm256_setzero_si256());
  sum = _mm256_or_si256(sum, _mm256_andnot_si256(overflow, _mm256_set1_epi16(-1)));
  return _mm256_srli_epi16(sum, 8);
}

// Most factors also have a single 16-bit multiplier m and pre-shift s with
// ((b << s) · m) >> 16 == (b · k) >> 20 for every byte b; checked, not assumed.
static bool FindMultiplier(uint64_t k, int* shift, uint16_t* multiplier) {
  for (int s = 0; s <= 8; ++s) {
    uint64_t base = k >> (4 + s);
    if (base >= 65535) continue;
    for (uint64_t m = base; m <= base + 1; ++m) {
      bool exact = true;
      for (uint64_t b = 0; b < 256 && exact; ++b) {
        uint64_t want = (b * k) >> 20, got = ((b << s) * m) >> 16;
        exact = (want > 255 ? 255 : want) == (got > 255 ? 255 : got);
      }
      if (exact) {
        *shift = s;
        *multiplier = static_cast<uint16_t>(m);
        return true;
      }
    }
  }
  return false;
}

__attribute__((target("avx2"))) static void ScaleBrightnessAvx2(uint8_t* dst, const uint8_t* src, size_t n,
                                                                unsigned factor) {
  const uint64_t k = static_cast<uint64_t>(factor) * 10485u;
  int s;
  uint16_t m;
  if (FindMultiplier(k, &s, &m)) {
    const __m256i mul = _mm256_set1_epi16(static_cast<short>(m));
    const __m128i count = _mm_cvtsi32_si128(s);
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
      __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
      __m256i lo =
          _mm256_mulhi_epu16(_mm256_sll_epi16(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(in)), count), mul);
      __m256i hi = _mm256_mulhi_epu16(
          _mm256_sll_epi16(_mm256_cvtepu8_epi16(_mm256_extracti128_si256(in, 1)), count), mul);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i),
                          _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), 0xD8));
    }
    ScaleBrightnessPlain(dst + i, src + i, n - i, factor);
    return;
  }
  if (k >= (uint64_t{1} << 28)) {  // kh would not fit 16 bits; every non-zero byte saturates anyway
    ScaleBrightnessPlain(dst, src, n, factor);
    return;
  }
  const __m256i kh = _mm256_set1_epi16(static_cast<short>(k >> 12));
  const __m256i kl = _mm256_set1_epi16(static_cast<short>(k & 4095));
  size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    __m256i lo = ScaleLane(_mm256_castsi256_si128(in), kh, kl);
    __m256i hi = ScaleLane(_mm256_extracti128_si256(in, 1), kh, kl);
    __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), packed);
  }
  ScaleBrightnessPlain(dst + i, src + i, n - i, factor);
}

// The single-multiplier form, 64 bytes a step, for the same arithmetic as the
// AVX2 loop.
__attribute__((target("avx512f,avx512bw"))) static bool ScaleBrightnessAvx512(uint8_t* dst,
                                                                              const uint8_t* src, size_t n,
                                                                              unsigned factor) {
  const uint64_t k = static_cast<uint64_t>(factor) * 10485u;
  int s;
  uint16_t m;
  if (!FindMultiplier(k, &s, &m)) return false;
  const __m512i mul = _mm512_set1_epi16(static_cast<short>(m));
  const __m128i count = _mm_cvtsi32_si128(s);
  // Even and odd bytes in place as 16-bit lanes: no byte shuffles at all.
  const __m512i lowByte = _mm512_set1_epi16(0x00FF);
  const bool saturate = factor > 100;  // below that no result exceeds 255
  size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    __m512i in = _mm512_loadu_si512(src + i);
    __m512i even = _mm512_mulhi_epu16(_mm512_sll_epi16(_mm512_and_si512(in, lowByte), count), mul);
    __m512i odd = _mm512_mulhi_epu16(_mm512_sll_epi16(_mm512_srli_epi16(in, 8), count), mul);
    if (saturate) {
      even = _mm512_min_epu16(even, lowByte);
      odd = _mm512_min_epu16(odd, lowByte);
    }
    _mm512_storeu_si512(dst + i, _mm512_or_si512(even, _mm512_slli_epi16(odd, 8)));
  }
  ScaleBrightnessPlain(dst + i, src + i, n - i, factor);
  return true;
}
#endif

void ScaleBrightness(uint8_t* dst, const uint8_t* src, size_t n, unsigned factor) {
  if (factor == 100) {
    if (dst != src) std::memmove(dst, src, n);
    return;
  }
#if defined(__x86_64__)
  const VectorLevel level = CpuLevel();
  if (level >= VectorLevel::Avx512Bw && ScaleBrightnessAvx512(dst, src, n, factor)) return;
  if (level >= VectorLevel::Avx2) {
    ScaleBrightnessAvx2(dst, src, n, factor);
    return;
  }
#endif
  ScaleBrightnessPlain(dst, src, n, factor);
}

void AbsDifference(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t n) {
  for (size_t i = 0; i < n; ++i) dst[i] = static_cast<uint8_t>(a[i] > b[i] ? a[i] - b[i] : b[i] - a[i]);
}

void BlendHalf(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t n) {
  for (size_t i = 0; i < n; ++i) dst[i] = static_cast<uint8_t>((a[i] + b[i]) >> 1);
}

void LineDoubleField(uint8_t* view, const uint8_t* src, int height, size_t stride, int mode) {
  for (int i = 0; i < height / 2; ++i) {
    uint8_t* upper = view + static_cast<size_t>(height - 1 - 2 * i) * stride;
    uint8_t* lower = view + static_cast<size_t>(height - 2 - 2 * i) * stride;
    if (mode == 0) {
      const uint8_t* s = src + static_cast<size_t>(2 * i + 1) * stride;
      std::memcpy(upper, s, stride);
      std::memcpy(lower, s, stride);
    } else {
      int next = 2 * i + 2 < height ? 2 * i + 2 : 2 * i;
      std::memcpy(upper, src + static_cast<size_t>(2 * i) * stride, stride);
      std::memcpy(lower, src + static_cast<size_t>(next) * stride, stride);
    }
  }
}

void FlipRows(uint8_t* view, const uint8_t* src, int height, size_t stride) {
  for (int i = 0; i < height; ++i)
    std::memcpy(view + static_cast<size_t>(height - 1 - i) * stride, src + static_cast<size_t>(i) * stride,
                stride);
}
