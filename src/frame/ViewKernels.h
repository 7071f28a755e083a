// Per-byte kernels of the frame view: brightness scaling, difference and blend
// pictures, and the line-doubled single-field views.
#pragma once
#include <cstddef>
#include <cstdint>

// dst[i] = min(255, (src[i] × factor × 10485) >> 20): brightness in percent
// (100 leaves the bytes unchanged). The vector variant gives the same bytes.
void ScaleBrightness(uint8_t* dst, const uint8_t* src, size_t n, unsigned factor);
void ScaleBrightnessPlain(uint8_t* dst, const uint8_t* src, size_t n, unsigned factor);

// dst[i] = |a[i] − b[i]|  and  dst[i] = (a[i] + b[i]) >> 1.
void AbsDifference(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t n);
void BlendHalf(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t n);

// Line-doubled view of one field into a top-down picture of `height` rows:
// mode 0 shows source rows 2i+1 on view rows H−1−2i and H−2−2i; mode 1 shows
// row 2i on view row H−1−2i and row 2i+2 (2i at the last pair) on H−2−2i.
void LineDoubleField(uint8_t* view, const uint8_t* src, int height, size_t stride, int mode);

// Copies rows reversed (bottom-up frame into a top-down view).
void FlipRows(uint8_t* view, const uint8_t* src, int height, size_t stride);
