// Reads every frame of an AVI file through ReadFrame, as stepping does: the
// whole process is timed by run.sh against ffmpeg decoding the same file.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "avi/AviReader.h"
#include "frame/FrameReader.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_readframe FILE.avi\n");
    return 2;
  }
  auto avi = std::make_unique<OpenAviFile>();
  avi->szFileName = argv[1];
  avi->options.scanMissingIndexSilently = true;
  if (!CloseOpenAvi(avi.get(), 3)) return 2;
  const BitmapInfoHeader& bi = avi->biDecoded;
  if (!AllocateBuffers(bi.biWidth, std::abs(bi.biHeight))) return 2;
  uint32_t frames = avi->Set().FrameMax, failed = 0;
  uint8_t* dest = gFramePool.Slot(kCurrentFrame);
  unsigned sum = 0;
  for (uint32_t n = 0; n < frames; ++n) {
    if (!ReadFrame(avi.get(), dest, nullptr, n, 0x7F)) ++failed;
    sum += dest[n % gFramePool.geometry.frameBytes];
  }
  std::printf("%u frames, %u failed (%u)\n", frames, failed, sum & 1);
  avi->frameReader.reset();  // before the decoder it uses goes
  CloseOpenAvi(avi.get(), 0);
  return failed ? 1 : 0;
}
