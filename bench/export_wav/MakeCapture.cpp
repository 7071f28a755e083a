// Writes an AVI file shaped like a DV capture for bench/export_wav/run.sh:
// one video chunk per frame of a few bytes (only the layout matters here)
// and the capture's PCM per frame.
// Usage: export_wav_bench_file OUT.avi [SECONDS]
#include <cstdlib>

#include "CaptureFile.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUT.avi [SECONDS]\n", argv[0]);
    return 2;
  }
  const double seconds = argc > 2 ? std::strtod(argv[2], nullptr) : 3600;
  bench::CaptureShape c;
  c.frames = static_cast<uint32_t>(seconds * bench::kFps / bench::kScale);
  c.videoBytes = 6;
  c.video = [](uint32_t i, std::string& out) {
    out.append("DVDIF", 5);
    out.push_back(static_cast<char>(i));
  };
  return bench::WriteCapture(argv[1], c, argv[0]);
}
