// The AVI output: an AVI 1.0 file below the part limit, OpenDML parts past
// it, read back by our reader and by ffprobe; a given-up save leaves an
// earlier file of the name alone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "TestSupport.h"
#include "avi/AviOutput.h"
#include "avi/OpenAvi.h"

namespace {

constexpr uint32_t kW = 16, kH = 16, kFrameBytes = kW * kH * 3, kAudioPerFrame = 1280;

AviOutputHeaders RawHeaders(uint32_t frames) {
  AviOutputHeaders h;
  h.avih.dwMicroSecPerFrame = 40000;
  h.avih.dwStreams = 2;
  h.avih.dwTotalFrames = frames;
  h.avih.dwWidth = kW;
  h.avih.dwHeight = kH;
  h.videoHeader.fccType = FourCC("vids");
  h.videoHeader.fccHandler = FourCC("DIB ");
  h.videoHeader.dwScale = 1;
  h.videoHeader.dwRate = 25;
  h.videoHeader.dwLength = frames;
  h.videoHeader.dwSuggestedBufferSize = kFrameBytes;
  BitmapInfoHeader bi{40, kW, kH, 1, 24, 0, kFrameBytes, 0, 0, 0, 0};
  h.videoFormat.resize(40);
  StoreBitmapInfoHeader(bi, h.videoFormat.data());
  h.audio = true;
  WaveFormatEx wf{1, 2, 8000, 32000, 4, 16, 0};
  h.audioFormat.resize(18);
  StoreWaveFormat(wf, h.audioFormat.data());
  h.audioHeader.fccType = FourCC("auds");
  h.audioHeader.fccHandler = 1;
  h.audioHeader.dwScale = 4;
  h.audioHeader.dwRate = 32000;
  h.audioHeader.dwSampleSize = 4;
  return h;
}

std::string FrameBytes(uint32_t k) {
  std::string f(kFrameBytes, '\0');
  for (uint32_t i = 0; i < kFrameBytes; ++i) f[i] = static_cast<char>((k * 7 + i) & 0xFF);
  return f;
}

// Frames 0..n-1 with frame `nullAt` null, audio before every 30th frame.
// Odd frames are copied from a source file of all frames; frame 5 asks past
// its end, is refused and written from memory instead.
std::string Write(AviOutput& out, const std::string& path, uint32_t n, uint32_t nullAt) {
  std::string all;
  for (uint32_t k = 0; k < n; ++k) all += FrameBytes(k);
  const std::string sourcePath = path + ".frames";
  EXPECT_TRUE(WriteFileBytes(sourcePath, all));
  const int source = open(sourcePath.c_str(), O_RDONLY);
  std::string audio;
  EXPECT_TRUE(out.Create(path, RawHeaders(n))) << out.Error();
  for (uint32_t k = 0; k < n; ++k) {
    if (k % 30 == 0) {
      std::string a(kAudioPerFrame * std::min(30u, n - k), '\0');
      for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<char>((audio.size() + i) * 13);
      EXPECT_TRUE(out.WriteAudio(a.data(), static_cast<uint32_t>(a.size())));
      audio += a;
    }
    if (k == nullAt) {
      EXPECT_TRUE(out.WriteNullVideo(FourCC("00db")));
      continue;
    }
    if (k % 2 == 1) {
      const uint64_t at = k == 5 ? all.size() - kFrameBytes / 2 : uint64_t{k} * kFrameBytes;
      const int copied = out.CopyVideo(FourCC("00db"), source, at, kFrameBytes, kAviIfKeyframe);
      EXPECT_EQ(copied, k == 5 ? 0 : 1) << k;
      if (copied == 1) continue;
    }
    std::string f = FrameBytes(k);
    EXPECT_TRUE(out.WriteVideo(FourCC("00db"), f.data(), kFrameBytes, kAviIfKeyframe));
  }
  EXPECT_TRUE(out.Finish(static_cast<uint32_t>(audio.size() / 4))) << out.Error();
  close(source);
  std::remove(sourcePath.c_str());
  return audio;
}

// Every frame and the audio as our reader gives them.
void ExpectReadsBack(const std::string& path, uint32_t n, uint32_t nullAt, const std::string& audio) {
  OpenAviTable t;
  ASSERT_TRUE(t.OpenChosenFiles(40001, nullptr, {path}));
  OpenAviFile* avi = &t.pOpenAviList[0];
  const AviStreamSet& s = avi->Set();
  ASSERT_EQ(s.FrameMax, n);
  for (uint32_t k = 0; k < n; ++k) {
    const FrameIndexEntry e = s.pFrameIndex[k];
    if (k == nullAt) {
      EXPECT_EQ(IndexSize(e), 0u);
      continue;
    }
    ASSERT_EQ(IndexSize(e), kFrameBytes) << k;
    std::string f(kFrameBytes, '\0');
    ASSERT_GE(MyAviSeek(avi, nullptr, IndexOffset(e), 0, false), 0);
    ASSERT_EQ(MyAviRead(avi, nullptr, f.data(), kFrameBytes, false), kFrameBytes);
    ASSERT_TRUE(f == FrameBytes(k)) << "frame " << k;
  }
  std::string got;
  for (uint32_t k = 0; k < s.WaveIndexEntries; ++k) {
    const FrameIndexEntry e = s.pWaveIndex[k];
    std::string a(IndexSize(e), '\0');
    ASSERT_GE(MyAviSeek(avi, nullptr, IndexOffset(e), 0, true), 0);
    ASSERT_EQ(MyAviRead(avi, nullptr, a.data(), IndexSize(e), true), IndexSize(e));
    got += a;
  }
  EXPECT_TRUE(got == audio);
}

std::string Probe(const std::string& args, const std::string& path) {
  std::string out;
  RunCommand("ffprobe -v warning " + args + " '" + path + "' 2>&1", &out);
  return out;
}

}  // namespace

TEST(AviOutput, SmallFileIsAvi10AndLargeOneGoesOnInOpenDmlParts) {
  RecordingHost host;
  ScratchDir dir;
  const uint32_t n = 200, nullAt = 77;

  const std::string small = dir.File("small.avi");
  AviOutput one;
  std::string audio = Write(one, small, n, nullAt);
  EXPECT_EQ(one.Parts(), 1);
  std::string bytes = ReadFileBytes(small);
  EXPECT_EQ(bytes.find("odml"), std::string::npos);
  EXPECT_EQ(bytes.find("ix00"), std::string::npos);
  EXPECT_EQ(bytes.find("AVIX"), std::string::npos);
  ExpectReadsBack(small, n, nullAt, audio);
  EXPECT_EQ(Probe("", small), "");

  const std::string big = dir.File("big.avi");
  AviOutput parts;
  parts.partLimit = 64 << 10;
  audio = Write(parts, big, n, nullAt);
  EXPECT_GE(parts.Parts(), 3);
  ExpectReadsBack(big, n, nullAt, audio);
  EXPECT_EQ(Probe("", big), "");
  EXPECT_EQ(Probe("-count_packets -select_streams v -show_entries stream=nb_read_packets -of csv=p=0", big),
            std::to_string(n - 1) + "\n");

  // The first part alone is an AVI 1.0 file with an idx1.
  bytes = ReadFileBytes(big);
  const uint32_t firstSize = GetLE32(&bytes[4]);
  const size_t idx1 = bytes.rfind("idx1", firstSize + 8);
  ASSERT_NE(idx1, std::string::npos);
  const uint32_t entries = GetLE32(&bytes[idx1 + 4]) / 16;
  uint32_t videoEntries = 0;
  for (uint32_t i = 0; i < entries; ++i) videoEntries += bytes.compare(idx1 + 8 + 16 * i, 4, "00db") == 0;
  const size_t avih = bytes.find("avih");
  EXPECT_EQ(GetLE32(&bytes[avih + 8 + 16]), videoEntries);
  EXPECT_LT(videoEntries, n);
  EXPECT_GT(videoEntries, 0u);
}

TEST(AviOutput, AGivenUpSaveLeavesTheEarlierFile) {
  RecordingHost host;
  ScratchDir dir;
  const std::string path = dir.File("keep.avi");
  ASSERT_TRUE(WriteFileBytes(path, "earlier"));
  {
    AviOutput out;
    ASSERT_TRUE(out.Create(path, RawHeaders(3)));
    std::string f = FrameBytes(0);
    ASSERT_TRUE(out.WriteVideo(FourCC("00db"), f.data(), kFrameBytes, kAviIfKeyframe));
    out.Abandon();
  }
  {
    AviOutput out;  // gone without Finish
    ASSERT_TRUE(out.Create(path, RawHeaders(3)));
  }
  EXPECT_EQ(ReadFileBytes(path), "earlier");
  size_t files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 1u);
}

// Past 4 GiB for real: offsets and bases that no longer fit 32 bits. Run by
// the "long" ctest label, which sets MX_LONG_TESTS.
TEST(AviOutputLong, PastFourGiB) {
  if (!std::getenv("MX_LONG_TESTS")) GTEST_SKIP() << "long test: ctest -L long";
  RecordingHost host;
  ScratchDir dir;
  const std::string path = dir.File("long.avi");
  constexpr uint32_t kBig = 720 * 480 * 3;  // a 24-bit 720x480 frame
  // 1 GiB parts: the sixth starts past 4 GiB.
  const uint32_t n = static_cast<uint32_t>(((uint64_t{5} << 30) + (200 << 20)) / kBig);
  // Each frame: a shared body with its number at both ends.
  std::string body(kBig, '\0');
  for (uint32_t i = 0; i < kBig; ++i) body[i] = static_cast<char>(i * 31 / 7);
  auto stamp = [&](uint32_t k) {
    std::memcpy(&body[0], &k, 4);
    std::memcpy(&body[kBig - 4], &k, 4);
  };
  AviOutputHeaders h = RawHeaders(n);
  h.avih.dwWidth = 720;
  h.avih.dwHeight = 480;
  BitmapInfoHeader bi{40, 720, 480, 1, 24, 0, kBig, 0, 0, 0, 0};
  StoreBitmapInfoHeader(bi, h.videoFormat.data());
  {
    AviOutput out;
    ASSERT_TRUE(out.Create(path, h)) << out.Error();
    for (uint32_t k = 0; k < n; ++k) {
      if (k % 30 == 0) {
        std::string a(kAudioPerFrame * std::min(30u, n - k), static_cast<char>(k / 30));
        ASSERT_TRUE(out.WriteAudio(a.data(), static_cast<uint32_t>(a.size())));
      }
      stamp(k);
      ASSERT_TRUE(out.WriteVideo(FourCC("00db"), body.data(), kBig, kAviIfKeyframe)) << out.Error();
    }
    ASSERT_TRUE(out.Finish(n * kAudioPerFrame / 4)) << out.Error();
    EXPECT_GE(out.Parts(), 6);
  }
  ASSERT_GT(std::filesystem::file_size(path), uint64_t{5} << 30);

  {
    OpenAviTable t;
    ASSERT_TRUE(t.OpenChosenFiles(40001, nullptr, {path}));
    OpenAviFile* avi = &t.pOpenAviList[0];
    ASSERT_EQ(avi->Set().FrameMax, n);
    std::string f(kBig, '\0');
    for (uint32_t k = 0; k < n; ++k) {
      const FrameIndexEntry e = avi->Set().pFrameIndex[k];
      ASSERT_EQ(IndexSize(e), kBig) << k;
      ASSERT_GE(MyAviSeek(avi, nullptr, IndexOffset(e), 0, false), 0);
      ASSERT_EQ(MyAviRead(avi, nullptr, f.data(), kBig, false), kBig);
      stamp(k);
      ASSERT_TRUE(f == body) << "frame " << k;
    }
  }
  EXPECT_EQ(Probe("-count_packets -select_streams v -show_entries stream=nb_read_packets -of csv=p=0", path),
            std::to_string(n) + "\n");

  // The first part as an AVI 1.0 reader sees it: avih's frame count, and an
  // idx1 whose entries point at those frames' chunks.
  std::FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  auto at = [&](uint64_t pos, size_t bytes) {
    std::string s(bytes, '\0');
    EXPECT_EQ(fseeko(file, static_cast<off_t>(pos), SEEK_SET), 0);
    EXPECT_EQ(std::fread(s.data(), 1, bytes, file), bytes);
    return s;
  };
  const std::string head = at(0, 64 << 10);
  const uint64_t riffEnd = 8 + uint64_t{GetLE32(&head[4])};
  const uint64_t movi = head.find("movi");
  const uint32_t firstFrames = GetLE32(&head[head.find("avih") + 8 + 16]);
  ASSERT_NE(movi, std::string::npos);
  EXPECT_GT(firstFrames, 0u);
  EXPECT_LT(firstFrames, n);
  const uint64_t moviEnd = movi + GetLE32(&head[movi - 4]);
  const std::string idx1Head = at(moviEnd + (moviEnd & 1), 8);
  ASSERT_EQ(idx1Head.substr(0, 4), "idx1");
  const uint32_t entries = GetLE32(&idx1Head[4]) / 16;
  EXPECT_EQ(moviEnd + (moviEnd & 1) + 8 + 16 * entries, riffEnd);
  const std::string idx1 = at(moviEnd + (moviEnd & 1) + 8, 16 * entries);
  uint32_t frame = 0;
  for (uint32_t i = 0; i < entries; ++i) {
    const std::string id = idx1.substr(16 * i, 4);
    const uint32_t size = GetLE32(&idx1[16 * i + 12]);
    const std::string chunk = at(movi + GetLE32(&idx1[16 * i + 8]), 12);
    ASSERT_EQ(chunk.substr(0, 4), id) << i;
    ASSERT_EQ(GetLE32(&chunk[4]), size) << i;
    if (id == "00db") {
      ASSERT_EQ(GetLE32(&chunk[8]), frame) << i;
      ++frame;
    }
  }
  EXPECT_EQ(frame, firstFrames);
  std::fclose(file);
}
