#include "platform/RiffFormats.h"

#include <algorithm>
#include <cstring>

#include "platform/Riff.h"

// ---- ByteReader / ByteWriter ----

uint16_t ByteReader::U16() {
  if (!Need(2)) return 0;
  uint16_t v = GetLE16(p_ + pos_);
  pos_ += 2;
  return v;
}

uint32_t ByteReader::U32() {
  if (!Need(4)) return 0;
  uint32_t v = GetLE32(p_ + pos_);
  pos_ += 4;
  return v;
}

uint64_t ByteReader::U64() {
  if (!Need(8)) return 0;
  uint64_t v = GetLE64(p_ + pos_);
  pos_ += 8;
  return v;
}

void ByteReader::Bytes(void* out, size_t n) {
  if (!Need(n)) {
    if (n) std::memset(out, 0, n);
    return;
  }
  if (n) std::memcpy(out, p_ + pos_, n);
  pos_ += n;
}

std::span<const uint8_t> ByteReader::Take(size_t n) {
  if (!Need(n)) return {};
  std::span<const uint8_t> s(p_ + pos_, n);
  pos_ += n;
  return s;
}

void ByteWriter::Bytes(const void* in, size_t n) {
  if (failed_ || n > size_ - pos_) {
    failed_ = true;
    return;
  }
  if (n) std::memcpy(p_ + pos_, in, n);
  pos_ += n;
}

void ByteWriter::U16(uint16_t v) {
  uint8_t b[2];
  PutLE16(b, v);
  Bytes(b, 2);
}

void ByteWriter::U32(uint32_t v) {
  uint8_t b[4];
  PutLE32(b, v);
  Bytes(b, 4);
}

void ByteWriter::U64(uint64_t v) {
  uint8_t b[8];
  PutLE64(b, v);
  Bytes(b, 8);
}

// ---- the four structures ----

namespace {

// Each structure's fields in their file order, once: reading and writing
// visit the same list.
template <class H, class Io>
void MainAviHeaderFields(H& h, Io&& io) {
  for (auto* v : {&h.dwMicroSecPerFrame, &h.dwMaxBytesPerSec, &h.dwPaddingGranularity, &h.dwFlags,
                  &h.dwTotalFrames, &h.dwInitialFrames, &h.dwStreams, &h.dwSuggestedBufferSize, &h.dwWidth,
                  &h.dwHeight, &h.dwReserved[0], &h.dwReserved[1], &h.dwReserved[2], &h.dwReserved[3]})
    io(*v);
}

template <class H, class Io>
void StreamHeaderFields(H& h, Io&& io) {
  io(h.fccType);
  io(h.fccHandler);
  io(h.dwFlags);
  io(h.wPriority);
  io(h.wLanguage);
  for (auto* v : {&h.dwInitialFrames, &h.dwScale, &h.dwRate, &h.dwStart, &h.dwLength,
                  &h.dwSuggestedBufferSize, &h.dwQuality, &h.dwSampleSize})
    io(*v);
  for (auto& v : h.rcFrame) io(v);
}

template <class H, class Io>
void BitmapInfoHeaderFields(H& b, Io&& io) {
  io(b.biSize);
  io(b.biWidth);
  io(b.biHeight);
  io(b.biPlanes);
  io(b.biBitCount);
  io(b.biCompression);
  io(b.biSizeImage);
  io(b.biXPelsPerMeter);
  io(b.biYPelsPerMeter);
  io(b.biClrUsed);
  io(b.biClrImportant);
}

template <class H, class Io>
void WaveFormatFields(H& w, Io&& io) {
  io(w.wFormatTag);
  io(w.nChannels);
  io(w.nSamplesPerSec);
  io(w.nAvgBytesPerSec);
  io(w.nBlockAlign);
  io(w.wBitsPerSample);
  io(w.cbSize);
}

// Reads a field of any of the four widths.
struct ReadField {
  ByteReader& r;
  void operator()(uint32_t& v) const { v = r.U32(); }
  void operator()(int32_t& v) const { v = r.I32(); }
  void operator()(uint16_t& v) const { v = r.U16(); }
  void operator()(int16_t& v) const { v = r.I16(); }
};

struct WriteField {
  ByteWriter& w;
  void operator()(uint32_t v) const { w.U32(v); }
  void operator()(int32_t v) const { w.U32(static_cast<uint32_t>(v)); }
  void operator()(uint16_t v) const { w.U16(v); }
  void operator()(int16_t v) const { w.U16(static_cast<uint16_t>(v)); }
};

}  // namespace

MainAVIHeader ParseMainAviHeader(ByteReader& r) {
  MainAVIHeader h{};
  MainAviHeaderFields(h, ReadField{r});
  return h;
}

AVIStreamHeader ParseStreamHeader(ByteReader& r) {
  AVIStreamHeader h{};
  StreamHeaderFields(h, ReadField{r});
  return h;
}

BitmapInfoHeader ParseBitmapInfoHeader(ByteReader& r) {
  BitmapInfoHeader b{};
  BitmapInfoHeaderFields(b, ReadField{r});
  return b;
}

WaveFormatEx ParseWaveFormat(ByteReader& r) {
  WaveFormatEx w{};
  WaveFormatFields(w, ReadField{r});
  return w;
}

MainAVIHeader ParseMainAviHeader(const uint8_t* p, size_t n) {
  ByteReader r(p, n);
  return ParseMainAviHeader(r);
}
AVIStreamHeader ParseStreamHeader(const uint8_t* p, size_t n) {
  ByteReader r(p, n);
  return ParseStreamHeader(r);
}
BitmapInfoHeader ParseBitmapInfoHeader(const uint8_t* p, size_t n) {
  ByteReader r(p, n);
  return ParseBitmapInfoHeader(r);
}
WaveFormatEx ParseWaveFormat(const uint8_t* p, size_t n) {
  ByteReader r(p, n);
  return ParseWaveFormat(r);
}

void StoreMainAviHeader(const MainAVIHeader& h, uint8_t* p) {
  ByteWriter w(p, kMainAviHeaderBytes);
  MainAviHeaderFields(h, WriteField{w});
}

void StoreStreamHeader(const AVIStreamHeader& h, uint8_t* p) {
  ByteWriter w(p, kStreamHeaderBytes);
  StreamHeaderFields(h, WriteField{w});
}

void StoreBitmapInfoHeader(const BitmapInfoHeader& b, uint8_t* p) {
  ByteWriter w(p, kBitmapInfoHeaderBytes);
  BitmapInfoHeaderFields(b, WriteField{w});
}

void StoreWaveFormat(const WaveFormatEx& wf, uint8_t* p) {
  ByteWriter w(p, kWaveFormatExBytes);
  WaveFormatFields(wf, WriteField{w});
}

// ---- BITMAPINFO ----

bool FrameSizeUsable(int32_t width, int32_t height) {
  return width > 0 && width <= kMaxFrameSide && height != 0 && height >= -kMaxFrameSide &&
         height <= kMaxFrameSide;
}

bool ParseBitmapInfo(const uint8_t* p, size_t n, BitmapInfo* out) {
  *out = BitmapInfo{};
  ByteReader r(p, n);
  out->header = ParseBitmapInfoHeader(r);
  if (r.Failed()) return false;
  const BitmapInfoHeader& b = out->header;
  out->headerSize = b.biSize < kBitmapInfoHeaderBytes || b.biSize > n ? kBitmapInfoHeaderBytes : b.biSize;
  // The masks of BI_BITFIELDS follow the 40 bytes whatever biSize says (the
  // later header versions hold them at the same place).
  if (b.biCompression == kBiBitfields) {
    for (uint32_t& m : out->masks) m = r.U32();
    out->hasMasks = !r.Failed();
    if (!out->hasMasks) std::fill(std::begin(out->masks), std::end(out->masks), 0u);
  }
  uint64_t wanted = b.biClrUsed ? b.biClrUsed : b.biBitCount <= 8 ? uint64_t{1} << b.biBitCount : 0;
  uint64_t available = (n - out->headerSize) / 4;
  out->paletteEntries = static_cast<uint32_t>(std::min<uint64_t>({wanted, available, 256}));
  if (out->paletteEntries) out->palette = p + out->headerSize;
  return true;
}

// ---- WAVEFORMATEXTENSIBLE ----

namespace {
// KSDATAFORMAT_SUBTYPE_xxx: the format tag in the first two bytes, then this.
constexpr uint8_t kSubtypeTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                      0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
}  // namespace

WaveFormatInfo ParseWaveFormatInfo(const uint8_t* p, size_t n) {
  WaveFormatInfo info;
  ByteReader r(p, n);
  info.wf = ParseWaveFormat(r);
  info.effectiveTag = info.wf.wFormatTag;
  if (info.wf.wFormatTag != kWaveFormatExtensible || info.wf.cbSize < 22) return info;
  uint16_t validBits = r.U16();
  uint32_t channelMask = r.U32();
  uint8_t guid[16];
  r.Bytes(guid, sizeof guid);
  if (r.Failed()) return info;
  info.extensible = true;
  info.validBits = validBits;
  info.channelMask = channelMask;
  std::memcpy(info.subFormat, guid, sizeof guid);
  if (std::memcmp(guid + 2, kSubtypeTail, sizeof kSubtypeTail) == 0) info.effectiveTag = GetLE16(guid);
  return info;
}

void StoreWaveFormatExtensible(const WaveFormatInfo& info, uint8_t* p) {
  StoreWaveFormat(info.wf, p);
  ByteWriter w(p + kWaveFormatExBytes, kWaveFormatExtensibleBytes - kWaveFormatExBytes);
  w.U16(info.validBits);
  w.U32(info.channelMask);
  w.Bytes(info.subFormat, sizeof info.subFormat);
}
