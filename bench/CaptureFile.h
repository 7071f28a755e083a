// What the benchmark file generators share: RIFF building in a string, and
// the writer of an AVI shaped like a DV capture (NTSC 29.97 fps, one video
// chunk per frame followed by its 48 kHz stereo 16-bit PCM, 1601 or 1602
// samples as a camera's locked audio gives them, indexed by idx1). The
// samples are noise, so a tool that drops, repeats or moves any shows it.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace bench {

inline void Put16(std::string& s, uint16_t v) {
  s.push_back(static_cast<char>(v));
  s.push_back(static_cast<char>(v >> 8));
}
inline void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}
inline void Set32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}
// Opens a chunk (or a list with its type) and returns where its size goes.
inline size_t Open(std::string& s, const char* id, const char* type = nullptr) {
  s.append(id, 4);
  size_t at = s.size();
  Put32(s, 0);
  if (type) s.append(type, 4);
  return at;
}
inline void Close(std::string& s, size_t at) {
  Set32(s, at, static_cast<uint32_t>(s.size() - at - 4));
  if (s.size() & 1) s.push_back(0);
}

struct CaptureShape {
  uint32_t frames = 0;
  uint32_t videoBytes = 0;                    // every video chunk has this size
  uint32_t maxBytesPerSec = 0;                // avih
  uint32_t videoBuffer = 0, audioBuffer = 0;  // the strh suggested buffer sizes
  uint64_t riffLimit = 0xFFFFFFFFull;         // refused above this RIFF size
  // Appends frame i's video chunk data (videoBytes bytes) to `out`.
  std::function<void(uint32_t i, std::string& out)> video;
};

constexpr uint32_t kRate = 48000, kBlock = 4, kScale = 1001, kFps = 30000;

inline uint64_t SampleOfFrame(uint64_t f) {
  return static_cast<uint64_t>(std::floor(f * 1.0 * kRate * kScale / kFps + 0.5));
}

// 0 written, 1 an I/O failure, 2 too large for one RIFF (both reported).
inline int WriteCapture(const char* path, const CaptureShape& c, const char* program) {
  const uint32_t frames = c.frames, width = 720, height = 480;
  const uint64_t samples = SampleOfFrame(frames);
  std::string s;
  size_t riff = Open(s, "RIFF", "AVI ");
  size_t hdrl = Open(s, "LIST", "hdrl");
  size_t avih = Open(s, "avih");
  for (uint32_t v :
       {33367u, c.maxBytesPerSec, 0u, 0x10u, frames, 0u, 2u, c.videoBuffer, width, height, 0u, 0u, 0u, 0u})
    Put32(s, v);
  Close(s, avih);
  auto strh = [&](const char* type, const char* handler, uint32_t sc, uint32_t rt, uint32_t length,
                  uint32_t buffer, uint32_t sampleSize) {
    size_t at = Open(s, "strh");
    s.append(type, 4);
    s.append(handler, 4);
    for (uint32_t v : {0u, 0u, 0u, sc, rt, 0u, length, buffer, 0xFFFFFFFFu, sampleSize, 0u, 0u}) Put32(s, v);
    Close(s, at);
  };
  size_t strl = Open(s, "LIST", "strl");
  strh("vids", "dvsd", kScale, kFps, frames, c.videoBuffer, 0);
  size_t strf = Open(s, "strf");
  for (uint32_t v : {40u, width, height}) Put32(s, v);
  Put16(s, 1);
  Put16(s, 24);
  s.append("dvsd", 4);
  for (uint32_t v : {120000u, 0u, 0u, 0u, 0u}) Put32(s, v);
  Close(s, strf);
  Close(s, strl);
  strl = Open(s, "LIST", "strl");
  strh("auds", "\0\0\0\0", kBlock, kRate * kBlock, static_cast<uint32_t>(samples), c.audioBuffer, kBlock);
  strf = Open(s, "strf");
  Put16(s, 1);
  Put16(s, 2);
  Put32(s, kRate);
  Put32(s, kRate * kBlock);
  Put16(s, kBlock);
  Put16(s, 16);
  Put16(s, 0);
  Close(s, strf);
  Close(s, strl);
  Close(s, hdrl);

  // The movi list is streamed; its size and the RIFF's are known up front.
  const uint64_t moviBytes = 4 + uint64_t{frames} * (8 + c.videoBytes) + frames * 8ull + samples * kBlock;
  const uint64_t idxBytes = 32ull * frames;
  const uint64_t riffBytes = s.size() - 8 + 8 + moviBytes + 8 + idxBytes;
  if (riffBytes > c.riffLimit) {
    std::fprintf(stderr, "%s: too long for one RIFF of at most %llu bytes\n", program,
                 static_cast<unsigned long long>(c.riffLimit));
    return 2;
  }
  std::FILE* f = std::fopen(path, "wb");
  if (!f) {
    std::perror(path);
    return 1;
  }
  Set32(s, riff, static_cast<uint32_t>(riffBytes));
  s.append("LIST", 4);
  Put32(s, static_cast<uint32_t>(moviBytes));
  s.append("movi", 4);
  const uint64_t moviType = s.size() - 4;
  uint64_t at = s.size();
  bool ok = std::fwrite(s.data(), 1, s.size(), f) == s.size();

  std::string idx1, chunk;
  idx1.reserve(idxBytes);
  auto entry = [&](const char* id, uint32_t size) {
    idx1.append(id, 4);
    Put32(idx1, 0x10);
    Put32(idx1, static_cast<uint32_t>(at - moviType));
    Put32(idx1, size);
  };
  uint32_t noise = 12345;
  for (uint32_t i = 0; i < frames && ok; ++i) {
    chunk.clear();
    entry("00dc", c.videoBytes);
    chunk.append("00dc", 4);
    Put32(chunk, c.videoBytes);
    c.video(i, chunk);
    at += 8 + c.videoBytes;
    const auto bytes = static_cast<uint32_t>((SampleOfFrame(i + 1) - SampleOfFrame(i)) * kBlock);
    entry("01wb", bytes);
    chunk.append("01wb", 4);
    Put32(chunk, bytes);
    for (uint32_t k = 0; k < bytes / 2; ++k) {
      noise = noise * 1664525u + 1013904223u;
      Put16(chunk, static_cast<uint16_t>(noise >> 16));
    }
    at += 8 + bytes;
    ok = std::fwrite(chunk.data(), 1, chunk.size(), f) == chunk.size();
  }
  std::string tail;
  size_t ix = Open(tail, "idx1");
  tail += idx1;
  Close(tail, ix);
  ok = ok && std::fwrite(tail.data(), 1, tail.size(), f) == tail.size();
  if (!ok || std::fclose(f) != 0) {
    std::perror(path);
    return 1;
  }
  return 0;
}

}  // namespace bench
