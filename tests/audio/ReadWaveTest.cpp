// The audio engine's WAVE export and frame-range read, and `mirdex
// --export-wav`, against samples the test computes from what it wrote.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "AviBuilder.h"
#include "TestSupport.h"
#include "WaveData.h"
#include "audio/ReadWave.h"
#include "audio/WaveFile.h"
#include "avi/DeletionView.h"
#include "command/CommandIds.h"
#include "platform/Profile.h"

namespace {

constexpr uint32_t kFrameBytes = 1280;  // 320 stereo 16-bit samples: 8000 Hz at 25 fps

// A PCM AVI of `frames` frames whose audio chunk k holds the 16-bit words
// seed + k * 640 + i; returns the audio per frame.
std::vector<std::string> MakePcmAvi(const std::string& path, uint32_t frames, int seed) {
  AviBuildOptions o;
  o.frames = Frames(frames, 16 * 16 * 3);
  o.audio = true;
  o.audioSizes = std::vector<uint32_t>(frames, kFrameBytes);
  AviLayout l = BuildAvi(o);
  std::vector<std::string> audio;
  for (uint32_t k = 0; k < frames; ++k) {
    std::string chunk(kFrameBytes, '\0');
    for (uint32_t i = 0; i < kFrameBytes / 2; ++i) {
      uint16_t w = static_cast<uint16_t>(seed + k * 640 + i);
      chunk[2 * i] = static_cast<char>(w & 0xFF);
      chunk[2 * i + 1] = static_cast<char>(w >> 8);
    }
    l.bytes.replace(l.audioData[k], kFrameBytes, chunk);
    audio.push_back(chunk);
  }
  EXPECT_TRUE(WriteFileBytes(path, l.bytes));
  return audio;
}

int Mirdex(const std::string& args) {
  return RunCommand(std::string(MX_MIRDEX) + " " + args + " 2>/dev/null");
}

}  // namespace

TEST(ExportWav, PcmFilesInARowThroughMarksAndARange) {
  ScratchDir dir;
  const std::string a = dir.File("a.avi"), b = dir.File("b.avi"), mrk = dir.File("cut.mrk"),
                    out = dir.File("o.wav");
  auto audioA = MakePcmAvi(a, 12, 1), audioB = MakePcmAvi(b, 8, 30001);
  std::string all;
  for (auto& f : audioA) all += f;
  for (auto& f : audioB) all += f;

  ASSERT_EQ(0, Mirdex("--export-wav " + out + " " + a + " " + b));
  EXPECT_TRUE(WaveData(out) == all);

  // Frames 3-5 of a and 0-1 of b cut; then view frames 2-10 are a's 2, 6-11, b's 2-3.
  ASSERT_TRUE(WriteProfileText(a, "DeleteRange", "3,5,", mrk));
  ASSERT_TRUE(WriteProfileText(b, "DeleteRange", "0,1,", mrk));
  ASSERT_EQ(0, Mirdex("--export-wav " + out + " --range 2-10 --marks " + mrk + " " + a + " " + b));
  std::string expected = audioA[2];
  for (int k = 6; k < 12; ++k) expected += audioA[static_cast<size_t>(k)];
  expected += audioB[2] + audioB[3];
  EXPECT_TRUE(WaveData(out) == expected);

  // PCM needs no decoders: a program without its window library beside it
  // still exports it, and refuses only what needs them.
  const std::string alone = dir.File("mirdex");
  ASSERT_EQ(0, RunCommand("cp " + std::string(MX_MIRDEX) + " " + alone));
  ASSERT_EQ(0, RunCommand(alone + " --export-wav " + out + " " + a + " " + b + " 2>/dev/null"));
  EXPECT_TRUE(WaveData(out) == all);
  EXPECT_EQ(2, RunCommand(alone + " --export-wav " + out + " --range 5-99 " + a + " 2>/dev/null"));

  EXPECT_EQ(1, Mirdex("--export-wav " + out + " --range 5-99 " + a));
  EXPECT_EQ(2, Mirdex("--export-wav " + out + " " + dir.File("missing.avi")));
}

TEST(ReadWave, FactorShiftAndFrameRange) {
  ScratchDir dir;
  RecordingHost host;
  const std::string path = dir.File("s.avi"), out = dir.File("o.wav");
  auto audio = MakePcmAvi(path, 6, 0);
  // Samples at the rounding and clipping edges in the first frame.
  const int16_t edges[] = {20000, -20000, 1, -1, 21845, -21846, 3, 0};
  std::string bytes = ReadFileBytes(path);
  size_t at = bytes.find(audio[0]);
  ASSERT_NE(at, std::string::npos);
  std::memcpy(audio[0].data(), edges, sizeof edges);
  bytes.replace(at, kFrameBytes, audio[0]);
  ASSERT_TRUE(WriteFileBytes(path, bytes));
  std::string all;
  for (auto& f : audio) all += f;

  OpenAviTable table;
  ASSERT_TRUE(table.OpenChosenFiles(kCmdOpenAdd, nullptr, {path}));
  ReadWave engine(table);
  ASSERT_EQ(engine.State(), TableAudio::kPcm);
  ReadWaveSettings s;
  s.factor = 1.5;
  ASSERT_EQ(1, engine.Run(kWaveExport | kWaveVolume, s, out));
  std::string scaled = WaveData(out);
  ASSERT_EQ(scaled.size(), all.size());
  for (size_t i = 0; i < all.size(); i += 2) {
    int16_t in, got;
    std::memcpy(&in, &all[i], 2);
    std::memcpy(&got, &scaled[i], 2);
    long want = std::clamp<long>(std::lround(in * 1.5), -32768, 32767);
    ASSERT_EQ(got, want) << "sample " << i / 2 << " was " << in;
  }

  s.factor = 1.0;
  s.shiftSamples = 100;  // later: 100 blocks of silence first
  ASSERT_EQ(1, engine.Run(kWaveExport, s, out));
  EXPECT_TRUE(WaveData(out) == std::string(400, '\0') + all);
  s.shiftSamples = -100;  // earlier: the first 100 samples are skipped
  ASSERT_EQ(1, engine.Run(kWaveExport, s, out));
  EXPECT_TRUE(WaveData(out) == all.substr(400));
  EXPECT_EQ(host.beeps, 3);

  // Frames 4-7 of a 6-frame file: two frames of audio, then zeros.
  std::vector<uint8_t> buf;
  ASSERT_EQ(1, engine.Run(kWaveFrameRangeToBuffer, s, "", 4, 4, &buf));
  EXPECT_TRUE(std::string(buf.begin(), buf.end()) ==
              audio[4] + audio[5] + std::string(2 * kFrameBytes, '\0'));

  // The same engine follows the view when the deletion ranges change, also
  // to a view with as many chunks as before.
  OpenAviFile& avi = table.pOpenAviList[0];
  table.deleteRangesOn = true;
  for (auto [first, last, want] :
       {std::tuple{1, 2, audio[0] + audio[3] + audio[4]}, {2, 3, audio[0] + audio[1] + audio[4]}}) {
    DeleteRange range;
    range.lFrame1 = first;
    range.lFrame2 = last;
    avi.deleteRanges = {range};
    ASSERT_TRUE(ChangeOpenAviParam(&avi, true, 0));
    ASSERT_EQ(1, engine.Run(kWaveFrameRangeToBuffer, s, "", 0, 3, &buf));
    EXPECT_TRUE(std::string(buf.begin(), buf.end()) == want) << first << "-" << last;
    EXPECT_EQ(engine.TotalSamples(), 4 * kFrameBytes / 4);
  }
}

TEST(ExportWav, CompressedAudioIsTheDecodedSamples) {
  ScratchDir dir;
  const std::string avi = dir.File("alaw.avi"), out = dir.File("o.wav");
  ASSERT_EQ(
      0, RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=32x24:rate=10 -f lavfi -i "
                    "sine=f=440:sample_rate=22050 -t 1.5 -ac 2 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_alaw '" +
                    avi + "'"));
  std::string expected;
  ASSERT_EQ(0, RunCommand("ffmpeg -v error -i '" + avi + "' -vn -f s16le -", &expected));
  ASSERT_GT(expected.size(), 100000u);
  ASSERT_EQ(0, Mirdex("--export-wav " + out + " " + avi));
  EXPECT_TRUE(WaveData(out) == expected);
}
