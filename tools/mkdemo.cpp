// Writes the demo capture that `make run` opens: 60 frames of 320x240
// uncompressed 24-bit video with a moving pattern and a frame counter, a
// 16-bit stereo PCM tone, one null frame (an index entry without data) and one
// duplicated frame.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/Paths.h"
#include "platform/Riff.h"

namespace {

constexpr int kWidth = 320, kHeight = 240, kFrames = 60;
constexpr int kNullFrame = 20, kDuplicateFrame = 40;  // 40 repeats the picture of 39
constexpr uint32_t kRate = 30000, kScale = 1001, kSampleRate = 48000;
constexpr int kStride = (kWidth * 3 + 3) & ~3;

// 3x5 digits, one row per entry, bit 2 = left column.
const uint8_t kDigits[10][5] = {{7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7},
                                {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1},
                                {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};

void PutPixel(std::vector<uint8_t>& img, int x, int y, uint8_t b, uint8_t g, uint8_t r) {
  if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) return;
  // Rows are stored bottom-up.
  uint8_t* p = &img[static_cast<size_t>(kHeight - 1 - y) * kStride + static_cast<size_t>(x) * 3];
  p[0] = b;
  p[1] = g;
  p[2] = r;
}

std::vector<uint8_t> DrawFrame(int n) {
  std::vector<uint8_t> img(static_cast<size_t>(kStride) * kHeight);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      int band = ((x + n * 4) / 20 + y / 20) & 1;
      PutPixel(img, x, y, static_cast<uint8_t>(band ? 200 : 40), static_cast<uint8_t>((x + n * 4) & 0xFF),
               static_cast<uint8_t>(y));
    }
  // A white square that travels left to right.
  int bx = (n * 5) % (kWidth - 30);
  for (int y = 150; y < 180; ++y)
    for (int x = bx; x < bx + 30; ++x) PutPixel(img, x, y, 255, 255, 255);
  // The frame number, three digits, 8x scale.
  char text[8];
  std::snprintf(text, sizeof text, "%03d", n);
  for (int d = 0; d < 3; ++d)
    for (int row = 0; row < 5; ++row)
      for (int col = 0; col < 3; ++col)
        if (kDigits[text[d] - '0'][row] & (4 >> col))
          for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) PutPixel(img, 16 + d * 32 + col * 8 + x, 16 + row * 8 + y, 0, 0, 0);
  return img;
}

uint64_t FirstSample(int frame) {
  return static_cast<uint64_t>(std::floor(frame * (double(kSampleRate) * kScale / kRate) + 0.5));
}

struct IndexEntry {
  uint32_t id, flags, offset, size;
};

bool Chunk(RiffFile& f, const char* id, const void* data, size_t size) {
  ChunkInfo ck;
  ck.ckid = FourCC(*reinterpret_cast<const char(*)[5]>(id));
  return f.CreateChunk(&ck, 0) && (size == 0 || f.Write(data, size)) && f.Ascend(&ck);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: mkdemo OUT.avi\n");
    return 2;
  }
  std::string out = argv[1];
  MakeDirectories(DirectoryPart(out));
  RiffFile f;
  if (!f.Open(out, RiffFile::ModeCreate)) {
    std::fprintf(stderr, "mkdemo: cannot create %s\n", out.c_str());
    return 1;
  }
  const uint32_t frameBytes = kStride * kHeight;
  const uint32_t totalSamples = static_cast<uint32_t>(FirstSample(kFrames));
  bool ok = true;
  ChunkInfo riff, hdrl, strl, movi;
  riff.fccType = FourCC("AVI ");
  ok = ok && f.CreateChunk(&riff, kCreateRiff);
  hdrl.fccType = FourCC("hdrl");
  ok = ok && f.CreateChunk(&hdrl, kCreateList);

  uint8_t avih[56] = {};
  PutLE32(avih + 0, static_cast<uint32_t>(1000000.0 * kScale / kRate));
  PutLE32(avih + 4, frameBytes * 30);
  PutLE32(avih + 12, 0x10 | 0x100);  // AVIF_HASINDEX | AVIF_ISINTERLEAVED
  PutLE32(avih + 16, kFrames);
  PutLE32(avih + 24, 2);
  PutLE32(avih + 28, frameBytes + 8);
  PutLE32(avih + 32, kWidth);
  PutLE32(avih + 36, kHeight);
  ok = ok && Chunk(f, "avih", avih, sizeof avih);

  strl.fccType = FourCC("strl");
  ok = ok && f.CreateChunk(&strl, kCreateList);
  uint8_t strh[56] = {};
  PutLE32(strh + 0, FourCC("vids"));
  PutLE32(strh + 4, FourCC("DIB "));
  PutLE32(strh + 20, kScale);
  PutLE32(strh + 24, kRate);
  PutLE32(strh + 32, kFrames);
  PutLE32(strh + 36, frameBytes);
  PutLE32(strh + 40, 0xFFFFFFFF);
  PutLE16(strh + 52, kWidth);
  PutLE16(strh + 54, kHeight);
  ok = ok && Chunk(f, "strh", strh, sizeof strh);
  uint8_t bih[40] = {};
  PutLE32(bih + 0, 40);
  PutLE32(bih + 4, kWidth);
  PutLE32(bih + 8, kHeight);
  PutLE16(bih + 12, 1);
  PutLE16(bih + 14, 24);
  PutLE32(bih + 20, frameBytes);
  ok = ok && Chunk(f, "strf", bih, sizeof bih) && f.Ascend(&strl);

  strl = ChunkInfo();
  strl.fccType = FourCC("strl");
  ok = ok && f.CreateChunk(&strl, kCreateList);
  uint8_t ash[56] = {};
  PutLE32(ash + 0, FourCC("auds"));
  PutLE32(ash + 20, 4);
  PutLE32(ash + 24, kSampleRate * 4);
  PutLE32(ash + 36, 65536);
  PutLE32(ash + 40, 0xFFFFFFFF);
  PutLE32(ash + 44, 4);
  // Audio length in blocks: dwScale = block size, dwRate = bytes per second.
  PutLE32(ash + 32, totalSamples);
  ok = ok && Chunk(f, "strh", ash, sizeof ash);
  uint8_t wf[16] = {};
  PutLE16(wf + 0, 1);
  PutLE16(wf + 2, 2);
  PutLE32(wf + 4, kSampleRate);
  PutLE32(wf + 8, kSampleRate * 4);
  PutLE16(wf + 12, 4);
  PutLE16(wf + 14, 16);
  ok = ok && Chunk(f, "strf", wf, sizeof wf) && f.Ascend(&strl) && f.Ascend(&hdrl);

  movi.fccType = FourCC("movi");
  ok = ok && f.CreateChunk(&movi, kCreateList);
  std::vector<IndexEntry> index;
  const uint64_t moviBase = movi.dwDataOffset;  // idx1 offsets count from the "movi" type
  std::vector<uint8_t> previous;
  for (int n = 0; n < kFrames && ok; ++n) {
    std::vector<uint8_t> img = n == kDuplicateFrame ? previous : DrawFrame(n);
    uint64_t at = static_cast<uint64_t>(f.Tell());
    uint32_t size = n == kNullFrame ? 0 : frameBytes;
    ok = Chunk(f, "00db", img.data(), size);
    index.push_back({FourCC("00db"), 0x10u, static_cast<uint32_t>(at - moviBase), size});
    previous = img;

    uint64_t s0 = FirstSample(n), s1 = FirstSample(n + 1);
    std::vector<uint8_t> pcm((s1 - s0) * 4);
    for (uint64_t s = s0; s < s1; ++s) {
      double t = static_cast<double>(s) / kSampleRate;
      int16_t v = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 1000 * t));
      PutLE16(&pcm[(s - s0) * 4], static_cast<uint16_t>(v));
      PutLE16(&pcm[(s - s0) * 4 + 2], static_cast<uint16_t>(v));
    }
    at = static_cast<uint64_t>(f.Tell());
    ok = ok && Chunk(f, "01wb", pcm.data(), pcm.size());
    index.push_back(
        {FourCC("01wb"), 0x10u, static_cast<uint32_t>(at - moviBase), static_cast<uint32_t>(pcm.size())});
  }
  ok = ok && f.Ascend(&movi);
  std::vector<uint8_t> idx(index.size() * 16);
  for (size_t i = 0; i < index.size(); ++i) {
    PutLE32(&idx[i * 16], index[i].id);
    PutLE32(&idx[i * 16 + 4], index[i].flags);
    PutLE32(&idx[i * 16 + 8], index[i].offset);
    PutLE32(&idx[i * 16 + 12], index[i].size);
  }
  ok = ok && Chunk(f, "idx1", idx.data(), idx.size()) && f.Ascend(&riff) && f.Close();
  if (!ok) {
    std::fprintf(stderr, "mkdemo: writing %s failed\n", out.c_str());
    return 1;
  }
  std::printf("wrote %s (%d frames, null frame %d, frame %d repeats %d)\n", out.c_str(), kFrames, kNullFrame,
              kDuplicateFrame, kDuplicateFrame - 1);
  return 0;
}
