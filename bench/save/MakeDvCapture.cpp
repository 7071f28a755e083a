// Writes an AVI file shaped like a DV capture for bench/save/run.sh: real DV
// frames (read from a file of whole 120,000-byte NTSC frames, repeated in
// turn), each followed by its 48 kHz stereo 16-bit PCM as a camera's locked
// audio gives it (1601 or 1602 samples at 29.97 fps), indexed by idx1.
// Usage: save_bench_file FRAMES.dv OUT.avi [MEGABYTES]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kDvBytes = 120000;

void Put16(std::string& s, uint16_t v) {
  s.push_back(static_cast<char>(v));
  s.push_back(static_cast<char>(v >> 8));
}
void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}
void Set32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}
size_t Open(std::string& s, const char* id, const char* type = nullptr) {
  s.append(id, 4);
  size_t at = s.size();
  Put32(s, 0);
  if (type) s.append(type, 4);
  return at;
}
void Close(std::string& s, size_t at) {
  Set32(s, at, static_cast<uint32_t>(s.size() - at - 4));
  if (s.size() & 1) s.push_back(0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FRAMES.dv OUT.avi [MEGABYTES]\n", argv[0]);
    return 2;
  }
  std::vector<std::string> dv;
  if (std::FILE* in = std::fopen(argv[1], "rb")) {
    std::string frame(kDvBytes, '\0');
    while (std::fread(frame.data(), 1, kDvBytes, in) == kDvBytes) dv.push_back(frame);
    std::fclose(in);
  }
  if (dv.empty()) {
    std::fprintf(stderr, "%s: no whole 720x480 DV frame in %s\n", argv[0], argv[1]);
    return 1;
  }
  const double megabytes = argc > 3 ? std::strtod(argv[3], nullptr) : 2000;
  const uint32_t rate = 48000, block = 4, scale = 1001, fps = 30000;
  auto sampleOf = [&](uint64_t f) {
    return static_cast<uint64_t>(std::floor(f * 1.0 * rate * scale / fps + 0.5));
  };
  // Per frame: the DV chunk, about 6,400 bytes of audio, two idx1 entries.
  const auto frames = static_cast<uint32_t>(megabytes * 1e6 / (8 + kDvBytes + 8 + 6406 + 32));
  const uint64_t samples = sampleOf(frames);
  const uint32_t width = 720, height = 480;

  std::string s;
  size_t riff = Open(s, "RIFF", "AVI ");
  size_t hdrl = Open(s, "LIST", "hdrl");
  size_t avih = Open(s, "avih");
  for (uint32_t v : {33367u, 3600000u, 0u, 0x10u, frames, 0u, 2u, kDvBytes, width, height, 0u, 0u, 0u, 0u})
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
  strh("vids", "dvsd", scale, fps, frames, kDvBytes, 0);
  size_t strf = Open(s, "strf");
  for (uint32_t v : {40u, width, height}) Put32(s, v);
  Put16(s, 1);
  Put16(s, 24);
  s.append("dvsd", 4);
  for (uint32_t v : {kDvBytes, 0u, 0u, 0u, 0u}) Put32(s, v);
  Close(s, strf);
  Close(s, strl);
  strl = Open(s, "LIST", "strl");
  strh("auds", "\0\0\0\0", block, rate * block, static_cast<uint32_t>(samples), 6408, block);
  strf = Open(s, "strf");
  Put16(s, 1);
  Put16(s, 2);
  Put32(s, rate);
  Put32(s, rate * block);
  Put16(s, block);
  Put16(s, 16);
  Put16(s, 0);
  Close(s, strf);
  Close(s, strl);
  Close(s, hdrl);

  std::FILE* f = std::fopen(argv[2], "wb");
  if (!f) {
    std::perror(argv[2]);
    return 1;
  }
  // The movi list is streamed; its size and the RIFF's are known up front.
  const uint64_t moviBytes = 4 + uint64_t{frames} * (8 + kDvBytes) + frames * 8ull + samples * block;
  const uint64_t idxBytes = 32ull * frames;
  const uint64_t riffBytes = s.size() - 8 + 8 + moviBytes + 8 + idxBytes;
  if (riffBytes > 0x7FFFFFFFull) {
    std::fprintf(stderr, "%s: keep it below 2 GiB, where every AVI 1.0 reader follows\n", argv[0]);
    return 2;
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
    entry("00dc", kDvBytes);
    chunk.append("00dc", 4);
    Put32(chunk, kDvBytes);
    chunk += dv[i % dv.size()];
    at += 8 + kDvBytes;
    const auto bytes = static_cast<uint32_t>((sampleOf(i + 1) - sampleOf(i)) * block);
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
    std::perror(argv[2]);
    return 1;
  }
  return 0;
}
