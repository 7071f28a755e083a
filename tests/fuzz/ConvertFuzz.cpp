// libFuzzer target for the program's own converter: the input gives a
// stream format (bit count, compression, size, masks or palette) and the
// chunk bytes; the frame buffer is exactly as large as the format needs, so
// a write past it or a read past the chunk is caught by the sanitizer.
#include <cstdint>
#include <cstring>
#include <vector>

#include "frame/FrameReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  static const uint16_t kBits[] = {1, 4, 8, 16, 24, 32, 2, 0};
  uint16_t bits = kBits[data[0] & 7];
  uint32_t compression = (data[0] >> 3) & 3;
  int32_t width = 1 + (data[1] | (data[2] & 1) << 8);   // 1..512
  int32_t height = 1 + (data[3] | (data[2] & 2) << 7);  // 1..512
  if (data[2] & 4) height = -height;                    // top-down
  uint32_t clrUsed = data[4] & 0x80 ? data[4] & 0x7F : 0;
  size_t extra = std::min<size_t>(data[5] * 4u, size - 8);  // masks or palette
  std::vector<uint8_t> format(40 + extra);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) format[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(0, 40);
  put32(4, static_cast<uint32_t>(width));
  put32(8, static_cast<uint32_t>(height));
  format[12] = 1;
  format[14] = static_cast<uint8_t>(bits);
  put32(16, compression);
  put32(32, clrUsed);
  std::memcpy(format.data() + 40, data + 8, extra);
  const uint8_t* chunk = data + 8 + extra;
  size_t chunkSize = size - 8 - extra;

  static OpenAviFile avi;
  avi.pbiVideo = format;
  int rows = height < 0 ? -height : height;
  size_t frameBytes = RgbStride(width) * static_cast<size_t>(rows);
  // Exact sizes: the sanitizer sees any byte outside them.
  std::vector<uint8_t> src(chunk, chunk + chunkSize), rgb(frameBytes);
  ConvertFromStreamFormat(&avi, src.data(), src.size(), rgb.data(), rgb.size(), ConvertDirection::ToRgb);
  std::vector<uint8_t> back(static_cast<size_t>(width) * 4 * static_cast<size_t>(rows) + (data[6] & 7));
  ConvertFromStreamFormat(&avi, rgb.data(), rgb.size(), back.data(), back.size(), ConvertDirection::FromRgb);
  return 0;
}
