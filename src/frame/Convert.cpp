#include "frame/Convert.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/CpuLevel.h"
#include "platform/Riff.h"
#include "platform/RiffFormats.h"

namespace {

constexpr uint8_t kGrey = 0x80;

struct Header {
  int width = 0;
  int rows = 0;
  bool topDown = false;
  int bits = 0;
  uint32_t compression = 0;
  BitmapInfo info;
};

bool ParseHeader(const uint8_t* f, size_t size, Header* h) {
  if (!f || !ParseBitmapInfo(f, size, &h->info)) return false;
  const BitmapInfoHeader& b = h->info.header;
  if (b.biPlanes != 1) return false;
  // The limit the open applies too: it keeps every size computation far from
  // overflow.
  if (!FrameSizeUsable(b.biWidth, b.biHeight)) return false;
  h->width = h->info.Width();
  h->rows = h->info.Rows();
  h->topDown = h->info.TopDown();
  h->bits = b.biBitCount;
  h->compression = b.biCompression;
  return true;
}

size_t SourceStride(int width, int bits) {
  return ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
}

struct Palette {
  const uint8_t* entries = nullptr;
  size_t count = 0;
};

// Palettes follow the header (at the header size the format gives).
Palette GetPalette(const Header& h) {
  return {h.info.palette, h.info.paletteEntries};
}

struct Mask {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;
};

Mask MakeMask(uint32_t m) {
  Mask r;
  r.mask = m;
  if (m == 0) return r;
  while (!((m >> r.shift) & 1)) ++r.shift;
  r.max = m >> r.shift;
  return r;
}

bool GetMasks(const Header& h, Mask masks[3]) {
  uint32_t m[3];
  if (h.compression == kBiBitfields) {
    if (!h.info.hasMasks) return false;
    for (int i = 0; i < 3; ++i) m[i] = h.info.masks[i];
  } else if (h.compression == kBiRgb) {
    if (h.bits == 16) {
      m[0] = 0x7C00;
      m[1] = 0x03E0;
      m[2] = 0x001F;
    } else {
      m[0] = 0xFF0000;
      m[1] = 0x00FF00;
      m[2] = 0x0000FF;
    }
  } else {
    return false;
  }
  for (int i = 0; i < 3; ++i) masks[i] = MakeMask(m[i]);
  return true;
}

// Writes pixels in picture order (bottom-up rows as the stream stores them,
// flipped on the way for top-down streams).
class PixelSink {
 public:
  PixelSink(uint8_t* dest, const Header& h, size_t stride) : dest_(dest), h_(h), stride_(stride) {}
  uint8_t* Row(int k) const {
    int r = h_.topDown ? h_.rows - 1 - k : k;
    return dest_ + static_cast<size_t>(r) * stride_;
  }
  void Put(size_t pos, uint8_t b, uint8_t g, uint8_t r) const {
    uint8_t* p = Row(static_cast<int>(pos / static_cast<size_t>(h_.width))) +
                 (pos % static_cast<size_t>(h_.width)) * 3;
    p[0] = b;
    p[1] = g;
    p[2] = r;
  }
  size_t Total() const { return static_cast<size_t>(h_.width) * static_cast<size_t>(h_.rows); }

 private:
  uint8_t* dest_;
  const Header& h_;
  size_t stride_;
};

// Shared run-length decoder for RLE8 and RLE4; `nibbles` selects RLE4.
bool DecodeRle(const uint8_t* src, size_t srcSize, const Header& h, const Palette& pal, const PixelSink& sink,
               bool nibbles) {
  const size_t total = sink.Total();
  const size_t width = static_cast<size_t>(h.width);
  size_t pos = 0, i = 0;
  bool ok = true;
  auto put = [&](unsigned index) {
    if (pos >= total) return;
    if (index >= pal.count) {
      ok = false;
      return;
    }
    const uint8_t* e = pal.entries + index * 4;
    sink.Put(pos++, e[0], e[1], e[2]);
  };
  auto grey = [&](size_t upTo) {
    if (upTo > total) upTo = total;
    while (pos < upTo) sink.Put(pos++, kGrey, kGrey, kGrey);
  };
  while (ok && pos < total) {
    if (i + 2 > srcSize) break;
    uint8_t n = src[i], c = src[i + 1];
    i += 2;
    if (n > 0) {
      size_t count = n;
      if (nibbles) {
        // An RLE4 run stops at the end of its line.
        size_t left = width - pos % width;
        if (count > left) count = left;
      }
      for (size_t k = 0; k < count && ok; ++k) put(nibbles ? (k & 1 ? c & 0xF : c >> 4) : c);
      continue;
    }
    if (c == 0) {  // end of line
      if (pos % width) grey(pos + (width - pos % width));
    } else if (c == 1) {  // end of picture
      break;
    } else if (c == 2) {  // delta
      if (i + 2 > srcSize) break;
      size_t dx = src[i], dy = src[i + 1];
      i += 2;
      grey(pos + dx + dy * width);
    } else {  // literal run of c indices
      size_t bytes = nibbles ? (c + 1u) / 2 : c;
      if (i + bytes > srcSize) {
        ok = false;
        break;
      }
      for (size_t k = 0; k < c && ok; ++k)
        put(nibbles ? (k & 1 ? src[i + k / 2] & 0xF : src[i + k / 2] >> 4) : src[i + k]);
      i += bytes + (bytes & 1);
    }
  }
  if (!ok) return false;
  grey(total);  // whatever the data did not reach
  return true;
}

}  // namespace

int FieldSplitSourceRow(int i, int height, bool swapped) {
  int h = height & ~1;  // an odd height leaves its top row out of the split
  if (i >= h) return i;
  int half = h / 2;
  if (!swapped) return i < half ? 2 * i + 1 : 2 * i - h;
  return i < half ? 2 * i : 2 * i - h + 1;
}

namespace {
// Split: the interleaved row that split row `i` holds. Join: the split row
// that holds interleaved row `i` (the inverse map).
int FieldSplitTargetRow(int i, int height, bool swapped, bool split) {
  if (split) return FieldSplitSourceRow(i, height, swapped);
  int h = height & ~1;
  if (i >= h) return i;
  bool firstHalf = (i & 1) != swapped;  // rows that go to the first half of the split picture
  return firstHalf ? i / 2 : (i + h) / 2;
}
}  // namespace

#if defined(__x86_64__)
// Rows are a few kilobytes: one vector loop per row with a masked tail costs
// less than a library call per row.
__attribute__((target("avx512f,avx512bw"))) static void SplitFieldsAvx512(uint8_t* dest, const uint8_t* src,
                                                                          int height, size_t stride,
                                                                          FieldDirection direction,
                                                                          bool swapped) {
  const size_t full = stride / 64, tail = stride % 64;
  const __mmask64 mask = tail ? ~uint64_t{0} >> (64 - tail) : 0;
  // Joining walks the destination in order too (writes in sequence are cheaper).
  for (int i = 0; i < height; ++i) {
    int source = FieldSplitTargetRow(i, height, swapped, direction == FieldDirection::Split);
    uint8_t* d = dest + static_cast<size_t>(i) * stride;
    const uint8_t* s = src + static_cast<size_t>(source) * stride;
    for (size_t k = 0; k < full; ++k) _mm512_storeu_si512(d + 64 * k, _mm512_loadu_si512(s + 64 * k));
    if (tail) _mm512_mask_storeu_epi8(d + 64 * full, mask, _mm512_maskz_loadu_epi8(mask, s + 64 * full));
  }
}
#endif

void SplitFields(uint8_t* dest, const uint8_t* src, int height, size_t stride, FieldDirection direction,
                 bool swapped) {
#if defined(__x86_64__)
  if (stride >= 256 && CpuLevel() >= VectorLevel::Avx512Bw) {
    SplitFieldsAvx512(dest, src, height, stride, direction, swapped);
    return;
  }
#endif
  for (int i = 0; i < height; ++i) {
    size_t mapped = static_cast<size_t>(FieldSplitSourceRow(i, height, swapped)) * stride;
    size_t row = static_cast<size_t>(i) * stride;
    if (direction == FieldDirection::Split)
      std::memcpy(dest + row, src + mapped, stride);
    else
      std::memcpy(dest + mapped, src + row, stride);
  }
}

size_t StreamFrameBytes(const uint8_t* format, size_t formatSize) {
  Header h;
  if (!ParseHeader(format, formatSize, &h)) return 0;
  if (h.bits != 1 && h.bits != 4 && h.bits != 8 && h.bits != 16 && h.bits != 24 && h.bits != 32) return 0;
  return SourceStride(h.width, h.bits) * static_cast<size_t>(h.rows);
}

bool ConvertToRgb(const uint8_t* format, size_t formatSize, const uint8_t* src, size_t srcSize, uint8_t* dest,
                  size_t destSize) {
  Header h;
  if (!ParseHeader(format, formatSize, &h) || !src || !dest) return false;
  const size_t stride = RgbStride(h.width);
  if (destSize < stride * static_cast<size_t>(h.rows)) return false;
  PixelSink sink(dest, h, stride);
  const bool rle = (h.bits == 8 && h.compression == kBiRle8) || (h.bits == 4 && h.compression == kBiRle4);
  if (rle) {
    Palette pal = GetPalette(h);
    return DecodeRle(src, srcSize, h, pal, sink, h.bits == 4);
  }
  const size_t srcStride = SourceStride(h.width, h.bits);
  if (srcSize < srcStride * static_cast<size_t>(h.rows)) return false;
  const size_t width = static_cast<size_t>(h.width);
  switch (h.bits) {
    case 24:
      if (h.compression != kBiRgb) return false;
      for (int k = 0; k < h.rows; ++k)
        std::memcpy(sink.Row(k), src + static_cast<size_t>(k) * srcStride, width * 3);
      return true;
    case 16:
    case 32: {
      Mask m[3];
      if (!GetMasks(h, m)) return false;
      const bool plain32 = h.bits == 32 && h.compression == kBiRgb;
      uint32_t scale[3];
      for (int c = 0; c < 3; ++c) scale[c] = m[c].max ? 0xFF000u / m[c].max : 0;
      for (int k = 0; k < h.rows; ++k) {
        const uint8_t* s = src + static_cast<size_t>(k) * srcStride;
        uint8_t* d = sink.Row(k);
        for (size_t x = 0; x < width; ++x, d += 3) {
          if (plain32) {
            std::memcpy(d, s + x * 4, 3);
            continue;
          }
          uint32_t px = h.bits == 16 ? GetLE16(s + x * 2) : GetLE32(s + x * 4);
          // Masks are red, green, blue; the frame stores blue, green, red.
          for (int c = 0; c < 3; ++c) {
            uint64_t v = (static_cast<uint64_t>((px & m[c].mask) >> m[c].shift) * scale[c]) >> 12;
            d[2 - c] = static_cast<uint8_t>(v > 255 ? 255 : v);
          }
        }
      }
      return true;
    }
    case 8:
    case 4:
    case 1: {
      if (h.compression != kBiRgb) return false;
      Palette pal = GetPalette(h);
      for (int k = 0; k < h.rows; ++k) {
        const uint8_t* s = src + static_cast<size_t>(k) * srcStride;
        uint8_t* d = sink.Row(k);
        for (size_t x = 0; x < width; ++x, d += 3) {
          unsigned index;
          if (h.bits == 8)
            index = s[x];
          else if (h.bits == 4)
            index = (x & 1) ? s[x / 2] & 0xF : s[x / 2] >> 4;
          else
            index = (s[x / 8] >> (7 - (x & 7))) & 1;
          if (index >= pal.count) return false;
          std::memcpy(d, pal.entries + index * 4, 3);
        }
      }
      return true;
    }
    default:
      return false;
  }
}

size_t ConvertFromRgb(const uint8_t* format, size_t formatSize, const uint8_t* rgb, size_t rgbSize,
                      uint8_t* dest, size_t destCapacity) {
  Header h;
  if (!ParseHeader(format, formatSize, &h) || !rgb || !dest) return 0;
  if (h.bits != 16 && h.bits != 24 && h.bits != 32) return 0;
  const size_t stride = RgbStride(h.width), srcStride = SourceStride(h.width, h.bits);
  const size_t bytes = srcStride * static_cast<size_t>(h.rows);
  if (rgbSize < stride * static_cast<size_t>(h.rows) || destCapacity < bytes) return 0;
  Mask m[3];
  uint32_t scale[3] = {0, 0, 0};
  const bool masked = h.bits == 16 || h.compression == kBiBitfields;
  if (h.bits == 24 && h.compression != kBiRgb) return 0;
  if (masked) {
    if (!GetMasks(h, m)) return 0;
    for (int c = 0; c < 3; ++c) scale[c] = (m[c].max << 12) / 255;
  }
  const size_t width = static_cast<size_t>(h.width);
  for (int k = 0; k < h.rows; ++k) {
    int r = h.topDown ? h.rows - 1 - k : k;
    const uint8_t* s = rgb + static_cast<size_t>(r) * stride;
    uint8_t* d = dest + static_cast<size_t>(k) * srcStride;
    std::memset(d, 0, srcStride);
    for (size_t x = 0; x < width; ++x, s += 3) {
      if (h.bits == 24) {
        std::memcpy(d + x * 3, s, 3);
      } else if (!masked) {
        std::memcpy(d + x * 4, s, 3);
        d[x * 4 + 3] = 0;
      } else {
        uint32_t px = 0;
        for (int c = 0; c < 3; ++c)
          px |= static_cast<uint32_t>(((static_cast<uint64_t>(s[2 - c]) * scale[c]) >> 12) << m[c].shift) &
                m[c].mask;
        if (h.bits == 16)
          PutLE16(d + x * 2, static_cast<uint16_t>(px));
        else
          PutLE32(d + x * 4, px);
      }
    }
  }
  return bytes;
}
