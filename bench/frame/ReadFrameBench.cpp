// Reads every frame of an AVI file through ReadFrame, as stepping does: the
// whole process is timed by run.sh against ffmpeg decoding the same file.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "frame/Capture.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_readframe FILE.avi\n");
    return 2;
  }
  auto capture = std::make_unique<Capture>();
  OpenAviTable& table = capture->table;
  FrameReader& reader = capture->reader;
  table.openOptions.scanMissingIndexSilently = true;
  if (!table.OpenOne(argv[1], 3)) return 2;
  OpenAviFile* avi = &table.pOpenAviList[0];
  const BitmapInfoHeader& bi = avi->biDecoded;
  if (!reader.AllocateBuffers(bi.biWidth, std::abs(bi.biHeight))) return 2;
  uint32_t frames = avi->Set().FrameMax, failed = 0;
  uint8_t* dest = reader.Slot(kCurrentFrame);
  unsigned sum = 0;
  for (uint32_t n = 0; n < frames; ++n) {
    if (!reader.ReadFrame(avi, dest, nullptr, n, 0x7F)) ++failed;
    sum += dest[n % reader.framePool.geometry.frameBytes];
  }
  std::printf("%u frames, %u failed (%u)\n", frames, failed, sum & 1);
  return failed ? 1 : 0;
}
