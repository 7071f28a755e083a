// Writes an AVI file shaped like a DV capture for bench/save/run.sh: real DV
// frames (read from a file of whole 120,000-byte NTSC frames, repeated in
// turn), each followed by the capture's PCM.
// Usage: save_bench_file FRAMES.dv OUT.avi [MEGABYTES]
#include <cstdlib>
#include <vector>

#include "CaptureFile.h"

int main(int argc, char** argv) {
  constexpr uint32_t kDvBytes = 120000;
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
  bench::CaptureShape c;
  // Per frame: the DV chunk, about 6,400 bytes of audio, two idx1 entries.
  c.frames = static_cast<uint32_t>(megabytes * 1e6 / (8 + kDvBytes + 8 + 6406 + 32));
  c.videoBytes = kDvBytes;
  c.maxBytesPerSec = 3600000;
  c.videoBuffer = kDvBytes;
  c.audioBuffer = 6408;
  // Below 2 GiB, where every AVI 1.0 reader follows.
  c.riffLimit = 0x7FFFFFFF;
  c.video = [&dv](uint32_t i, std::string& out) { out += dv[i % dv.size()]; };
  return bench::WriteCapture(argv[2], c, argv[0]);
}
