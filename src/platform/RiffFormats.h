// The standard RIFF structures (avih, strh, BITMAPINFOHEADER with its palette
// or masks, WAVEFORMATEX with the WAVE_FORMAT_EXTENSIBLE tail) read and
// written field by field, little-endian, over one bounded byte reader, with
// the one set of limits every reader of them applies.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

// ---- limits ----

// Width and |height| of a picture: larger sides are no capture's, and below
// this every size computation (rows × stride, 24-bit frames) stays far from
// overflow.
constexpr int32_t kMaxFrameSide = 32767;
// Format chunks and OpenDML super-indexes are small; one this big is damage.
constexpr uint32_t kMaxFormatChunk = 0x1000000;

constexpr size_t kMainAviHeaderBytes = 56;
constexpr size_t kStreamHeaderBytes = 56;  // the file form: rcFrame as four 16-bit values
constexpr size_t kBitmapInfoHeaderBytes = 40;
constexpr size_t kWaveFormatExBytes = 18;
constexpr size_t kWaveFormatExtensibleBytes = 40;

constexpr uint16_t kWaveFormatPcm = 1;
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;
constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3;

// ---- the bounded reader ----

// Reads little-endian values from a span of bytes. A read that would pass the
// end fails the reader for good: it and every later read yield zeros, so a
// parser reads its fields straight on and asks Failed() once at the end.
class ByteReader {
 public:
  ByteReader() = default;
  ByteReader(const void* data, size_t size) : p_(static_cast<const uint8_t*>(data)), size_(data ? size : 0) {}
  explicit ByteReader(std::span<const uint8_t> bytes) : ByteReader(bytes.data(), bytes.size()) {}

  uint8_t U8() { return Need(1) ? p_[pos_++] : 0; }
  uint16_t U16();
  uint32_t U32();
  uint64_t U64();
  int16_t I16() { return static_cast<int16_t>(U16()); }
  int32_t I32() { return static_cast<int32_t>(U32()); }
  // Copies n bytes; zeros when they are not all there.
  void Bytes(void* out, size_t n);
  // The next n bytes in place; empty when they are not all there.
  std::span<const uint8_t> Take(size_t n);
  void Skip(size_t n) {
    if (Need(n)) pos_ += n;
  }
  // Moves to `pos` from the start; a position past the end fails.
  void Seek(size_t pos) {
    if (pos > size_)
      failed_ = true;
    else if (!failed_)
      pos_ = pos;
  }

  size_t Position() const { return pos_; }
  size_t Size() const { return size_; }
  size_t Remaining() const { return failed_ ? 0 : size_ - pos_; }
  bool Failed() const { return failed_; }

 private:
  bool Need(size_t n) {
    if (failed_ || n > size_ - pos_) {
      failed_ = true;
      return false;
    }
    return true;
  }
  const uint8_t* p_ = nullptr;
  size_t size_ = 0, pos_ = 0;
  bool failed_ = false;
};

// The writing side, into a buffer of fixed size, with the same sticky failure.
class ByteWriter {
 public:
  ByteWriter(void* data, size_t size) : p_(static_cast<uint8_t*>(data)), size_(data ? size : 0) {}
  void U8(uint8_t v) { Bytes(&v, 1); }
  void U16(uint16_t v);
  void U32(uint32_t v);
  void U64(uint64_t v);
  void Bytes(const void* in, size_t n);
  size_t Position() const { return pos_; }
  bool Failed() const { return failed_; }

 private:
  uint8_t* p_;
  size_t size_, pos_ = 0;
  bool failed_ = false;
};

// ---- the structures in their file form ----

struct MainAVIHeader {
  uint32_t dwMicroSecPerFrame, dwMaxBytesPerSec, dwPaddingGranularity, dwFlags, dwTotalFrames,
      dwInitialFrames, dwStreams, dwSuggestedBufferSize, dwWidth, dwHeight, dwReserved[4];
};
static_assert(sizeof(MainAVIHeader) == 56);

struct AVIStreamHeader {
  uint32_t fccType, fccHandler, dwFlags;
  uint16_t wPriority, wLanguage;
  uint32_t dwInitialFrames, dwScale, dwRate, dwStart, dwLength, dwSuggestedBufferSize, dwQuality,
      dwSampleSize;
  int16_t rcFrame[4];
  uint32_t reserved[2];  // the 64-byte field holds the 56-byte file form
};
static_assert(sizeof(AVIStreamHeader) == 64);

struct BitmapInfoHeader {
  uint32_t biSize;
  int32_t biWidth, biHeight;
  uint16_t biPlanes, biBitCount;
  uint32_t biCompression, biSizeImage;
  int32_t biXPelsPerMeter, biYPelsPerMeter;
  uint32_t biClrUsed, biClrImportant;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

struct WaveFormatEx {
  uint16_t wFormatTag, nChannels;
  uint32_t nSamplesPerSec, nAvgBytesPerSec;
  uint16_t nBlockAlign, wBitsPerSample, cbSize;
};

// Parsers: fields the bytes do not reach stay 0 (and the reader fails).
MainAVIHeader ParseMainAviHeader(ByteReader& r);
// Starts at fccType.
AVIStreamHeader ParseStreamHeader(ByteReader& r);
BitmapInfoHeader ParseBitmapInfoHeader(ByteReader& r);
WaveFormatEx ParseWaveFormat(ByteReader& r);
// The same over `n` bytes at `p`.
MainAVIHeader ParseMainAviHeader(const uint8_t* p, size_t n);
AVIStreamHeader ParseStreamHeader(const uint8_t* p, size_t n);
BitmapInfoHeader ParseBitmapInfoHeader(const uint8_t* p, size_t n);
WaveFormatEx ParseWaveFormat(const uint8_t* p, size_t n);

// Writers of the file forms (56, 56, 40 and 18 bytes).
void StoreMainAviHeader(const MainAVIHeader& h, uint8_t* p56);
void StoreStreamHeader(const AVIStreamHeader& h, uint8_t* p56);
void StoreBitmapInfoHeader(const BitmapInfoHeader& b, uint8_t* p40);
void StoreWaveFormat(const WaveFormatEx& wf, uint8_t* p18);

// ---- a video format with what follows its header ----

struct BitmapInfo {
  BitmapInfoHeader header{};
  // Where the colour table starts: biSize when that lies inside the format
  // and is at least 40, else 40.
  size_t headerSize = kBitmapInfoHeaderBytes;
  // RGBQUAD entries, pointing into the parsed bytes: biClrUsed of them, or
  // 2^biBitCount up to 8 bits, as far as the format holds them (at most 256).
  const uint8_t* palette = nullptr;
  uint32_t paletteEntries = 0;
  // BI_BITFIELDS: the red, green and blue masks behind the 40-byte header.
  uint32_t masks[3] = {0, 0, 0};
  bool hasMasks = false;

  int32_t Width() const { return header.biWidth; }
  // |biHeight| (INT32_MIN, which no check lets through, reads as INT32_MAX).
  int32_t Rows() const {
    return header.biHeight >= 0           ? header.biHeight
           : header.biHeight == INT32_MIN ? INT32_MAX
                                          : -header.biHeight;
  }
  bool TopDown() const { return header.biHeight < 0; }
};
// False when the bytes are shorter than a BITMAPINFOHEADER.
bool ParseBitmapInfo(const uint8_t* p, size_t n, BitmapInfo* out);
// Width and height inside the limits (a negative height is a top-down picture).
bool FrameSizeUsable(int32_t width, int32_t height);

// ---- an audio format with the WAVE_FORMAT_EXTENSIBLE tail ----

struct WaveFormatInfo {
  WaveFormatEx wf{};
  bool extensible = false;  // wFormatTag 0xFFFE with the 22 bytes of its tail
  uint16_t validBits = 0;
  uint32_t channelMask = 0;
  uint8_t subFormat[16] = {};
  // The tag the data really has: the sub-format's when it is one of the
  // KSDATAFORMAT_SUBTYPE GUIDs made from a format tag, else wFormatTag.
  uint16_t effectiveTag = 0;
};
WaveFormatInfo ParseWaveFormatInfo(const uint8_t* p, size_t n);
// Writes the 40-byte extensible form (wf.cbSize should be 22).
void StoreWaveFormatExtensible(const WaveFormatInfo& info, uint8_t* p40);
