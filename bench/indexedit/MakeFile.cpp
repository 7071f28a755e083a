// Writes an AVI file of many small uncompressed frames with PCM audio, every
// 100th frame a null frame (an idx1 entry without a chunk, as a capture
// that dropped a frame leaves it), for bench/indexedit/run.sh.
// Usage: indexedit_bench_file OUT.avi [FRAMES]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "CaptureFile.h"

using bench::Close;
using bench::Open;
using bench::Put16;
using bench::Put32;
using bench::Set32;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUT.avi [FRAMES]\n", argv[0]);
    return 2;
  }
  const uint32_t frames = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 200000;
  const uint32_t width = 4, height = 4, frameBytes = width * height * 3;
  const uint32_t rate = 8000, audioBytes = rate / 25;  // 8-bit mono
  std::string s;
  size_t riff = Open(s, "RIFF", "AVI ");
  size_t hdrl = Open(s, "LIST", "hdrl");
  size_t avih = Open(s, "avih");
  for (uint32_t v : {40000u, 0u, 0u, 0x10u, frames, 0u, 2u, 0u, width, height, 0u, 0u, 0u, 0u}) Put32(s, v);
  Close(s, avih);
  auto strh = [&](const char* type, const char* handler, uint32_t scale, uint32_t rateV, uint32_t length,
                  uint32_t sampleSize) {
    size_t at = Open(s, "strh");
    s.append(type, 4);
    s.append(handler, 4);
    for (uint32_t v : {0u, 0u, 0u, scale, rateV, 0u, length, 0u, 0xFFFFFFFFu, sampleSize, 0u, 0u})
      Put32(s, v);
    Close(s, at);
  };
  size_t strl = Open(s, "LIST", "strl");
  strh("vids", "DIB ", 1, 25, frames, 0);
  size_t strf = Open(s, "strf");
  for (uint32_t v : {40u, width, height}) Put32(s, v);
  Put16(s, 1);
  Put16(s, 24);
  for (uint32_t v : {0u, frameBytes, 0u, 0u, 0u, 0u}) Put32(s, v);
  Close(s, strf);
  Close(s, strl);
  strl = Open(s, "LIST", "strl");
  strh("auds", "\0\0\0\0", 1, rate, frames * audioBytes, 1);
  strf = Open(s, "strf");
  Put16(s, 1);
  Put16(s, 1);
  Put32(s, rate);
  Put32(s, rate);
  Put16(s, 1);
  Put16(s, 8);
  Close(s, strf);
  Close(s, strl);
  Close(s, hdrl);

  size_t movi = Open(s, "LIST", "movi");
  const size_t moviType = movi + 4;
  std::string idx1;
  auto entry = [&](const char* id, uint32_t flags, uint32_t offset, uint32_t size) {
    idx1.append(id, 4);
    Put32(idx1, flags);
    Put32(idx1, offset);
    Put32(idx1, size);
  };
  std::string pixels(frameBytes, '\x40'), sound(audioBytes, '\x80');
  for (uint32_t i = 0; i < frames; ++i) {
    if (i % 100 == 99) {
      entry("00db", 0, 0, 0);
    } else {
      entry("00db", 0x10, static_cast<uint32_t>(s.size() - moviType), frameBytes);
      pixels[0] = static_cast<char>(i);
      size_t c = Open(s, "00db");
      s += pixels;
      Close(s, c);
    }
    entry("01wb", 0x10, static_cast<uint32_t>(s.size() - moviType), audioBytes);
    size_t c = Open(s, "01wb");
    s += sound;
    Close(s, c);
  }
  Close(s, movi);
  size_t ix = Open(s, "idx1");
  s += idx1;
  Close(s, ix);
  Close(s, riff);
  std::FILE* f = std::fopen(argv[1], "wb");
  if (!f || std::fwrite(s.data(), 1, s.size(), f) != s.size() || std::fclose(f) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
