// The audio engine's in-place modes: volume, fades and the audio replaced from
// a WAVE file or another AVI. Expectations come from the bytes the tests wrote,
// read back from the files with the tests' own code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "AviBuilder.h"
#include "TestSupport.h"
#include "audio/ReadWave.h"
#include "avi/AviReader.h"
#include "command/CommandIds.h"
#include "platform/AppState.h"

namespace {

// A 25 fps AVI with 8000 Hz PCM (320 sample frames a frame) whose audio value
// i (channels interleaved) is value(i).
struct PcmAvi {
  std::string path;
  std::vector<uint64_t> at;  // data position of each audio chunk
  uint32_t chunk = 0;
  std::string Audio() const {
    const std::string b = ReadFileBytes(path);
    std::string a;
    for (uint64_t p : at) a += b.substr(p, chunk);
    return a;
  }
};

PcmAvi MakeAvi(const std::string& path, uint32_t frames, const std::function<int(size_t)>& value,
               uint16_t channels = 2, uint16_t bits = 16) {
  AviBuildOptions o;
  o.frames = Frames(frames, 16 * 16 * 3);
  o.audio = true;
  o.wf = {1, channels, 8000, bits, static_cast<uint16_t>(channels * bits / 8), 8000u * channels * bits / 8};
  PcmAvi avi{path, {}, 320u * o.wf.blockAlign};
  o.audioSizes = std::vector<uint32_t>(frames, avi.chunk);
  AviLayout l = BuildAvi(o);
  size_t i = 0;
  for (uint64_t p : l.audioData)
    for (uint32_t k = 0; k < avi.chunk; k += bits / 8, ++i) {
      l.bytes[p + k] = static_cast<char>(value(i) & 0xFF);
      if (bits == 16) l.bytes[p + k + 1] = static_cast<char>((value(i) >> 8) & 0xFF);
    }
  avi.at = l.audioData;
  EXPECT_TRUE(WriteFileBytes(path, l.bytes));
  return avi;
}

int S16(const std::string& a, size_t i) {
  return static_cast<int16_t>(static_cast<uint8_t>(a[2 * i]) | (static_cast<uint8_t>(a[2 * i + 1]) << 8));
}
long Scaled(long s, double f, long lo = -32768, long hi = 32767) {
  return std::clamp<long>(std::lround(static_cast<double>(s) * f), lo, hi);
}
std::string Words(size_t count) {
  std::string s;
  for (size_t i = 0; i < count; ++i) Put16(s, static_cast<uint16_t>(i * 13));
  return s;
}
int Wide(size_t i) {
  return i < 2 ? (i ? -20000 : 20000) : (i % 2 ? -1 : 1) * static_cast<int>(i * 37 % 20001);
}

struct Engine {
  explicit Engine(const std::vector<std::string>& paths) {
    EXPECT_TRUE(table.OpenChosenFiles(kCmdOpenAdd, nullptr, paths));
  }
  int Run(unsigned mode) { return engine.Run(kWaveRewrite | mode, s, req); }
  OpenAviTable table;
  ReadWave engine{table};
  ReadWaveSettings s;
  ReadWaveRequest req;
};

}  // namespace

TEST(ReadWaveRewrite, VolumeClipsRoundsAndTouchesOnlyTheChosenChannel) {
  ScratchDir dir;
  RecordingHost host;
  const PcmAvi avi = MakeAvi(dir.File("v.avi"), 3, Wide);
  const std::string before = avi.Audio();
  Engine e({avi.path});
  e.s.factor = 2.0;
  ASSERT_EQ(1, e.Run(kWaveVolume));
  const std::string doubled = avi.Audio();
  EXPECT_EQ(S16(doubled, 0), 32767);
  EXPECT_EQ(S16(doubled, 1), -32768);
  for (size_t i = 0; i < before.size() / 2; ++i) ASSERT_EQ(S16(doubled, i), Scaled(S16(before, i), 2.0)) << i;

  // Modified audio asks first; Cancel leaves it alone. Then the left channel
  // alone, less its offset.
  e.s.factor = 0.5;
  e.s.channel = kChannelLeft;
  e.s.levelCorrection = true;
  e.s.offsetLeft = 3;
  e.s.offsetRight = -5;
  host.answers = {IDCANCEL};
  EXPECT_EQ(0, e.Run(kWaveVolume));
  EXPECT_EQ(host.boxes.at(0).text, "WAVEデータは既に変更されていますが続けますか?");
  ASSERT_EQ(1, e.Run(kWaveVolume));
  const std::string halved = avi.Audio();
  for (size_t i = 0; i < before.size() / 2; i += 2) {
    ASSERT_EQ(S16(halved, i), Scaled(S16(doubled, i) - 3, 0.5)) << i;
    ASSERT_EQ(S16(halved, i + 1), S16(doubled, i + 1)) << i;
  }
  EXPECT_FALSE(e.s.levelCorrection);
  EXPECT_EQ(host.status[0].back(), "全体左音声倍率変更書換終了");

  // 8-bit: unsigned around 128; 129 with 1.5 is s = 2.
  const PcmAvi bytes = MakeAvi(
      dir.File("b.avi"), 2, [](size_t i) { return i ? int(i * 7 % 256) : 129; }, 1, 8);
  const std::string raw = bytes.Audio();
  Engine e8({bytes.path});
  e8.s.factor = 1.5;
  ASSERT_EQ(1, e8.Run(kWaveVolume));
  const std::string got = bytes.Audio();
  EXPECT_EQ(static_cast<uint8_t>(got[0]), 130);
  for (size_t i = 0; i < raw.size(); ++i)
    ASSERT_EQ(static_cast<uint8_t>(got[i]), Scaled(static_cast<uint8_t>(raw[i]) - 128, 1.5, -128, 127) + 128);
}

TEST(ReadWaveRewrite, FadesRiseFromSilenceAndFallOverTheScope) {
  ScratchDir dir;
  RecordingHost host;
  const PcmAvi in = MakeAvi(dir.File("in.avi"), 4, [](size_t) { return 10000; }),
               out = MakeAvi(dir.File("out.avi"), 4, [](size_t) { return 10000; });
  Engine fadeIn({in.path}), fadeOut({out.path});
  ASSERT_EQ(1, fadeIn.Run(kWaveFadeIn));  // over 1280 sample frames
  // Fade out over frames 1-2 (640 sample frames); frames 0 and 3 untouched.
  fadeOut.s.scope = kScopeSelection;
  fadeOut.s.selectionFirst = 1;
  fadeOut.s.selectionLast = 2;
  ASSERT_EQ(1, fadeOut.Run(kWaveFadeOut));
  const std::string a = in.Audio(), b = out.Audio();
  EXPECT_EQ(S16(a, 0), 0);
  EXPECT_EQ(S16(a, 2 * 1279), 9990);
  EXPECT_EQ(S16(b, 2 * 320), 10000);
  EXPECT_EQ(S16(b, 2 * 959), 10);  // the last step leaves 1.5625 per mille
  for (size_t k = 0; k < 1280; ++k) {
    ASSERT_EQ(S16(a, 2 * k), 10 * int(k * 1000 / 1280)) << k;
    ASSERT_EQ(S16(a, 2 * k + 1), S16(a, 2 * k)) << k;
    const int want = k < 320 || k >= 960 ? 10000 : 10 * (1000 - int(((k - 320) * 1000 + 639) / 640));
    ASSERT_EQ(S16(b, 2 * k), want) << k;
  }
}

TEST(ReadWaveRewrite, WaveImportShiftsChecksTheFormatAndCountsTheDifference) {
  ScratchDir dir;
  RecordingHost host;
  const PcmAvi avi = MakeAvi(dir.File("w.avi"), 6, Wide);  // 1920 blocks
  Engine e({avi.path});
  const std::string wav = e.req.wavePath = dir.File("in.wav");
  auto write = [&](const std::string& fmt, const std::string& data) {
    ASSERT_TRUE(WriteFileBytes(wav, ListChunk("RIFF", "WAVE", Chunk("fmt ", fmt) + Chunk("data", data))));
  };

  // Later by 100 with a 16-byte fmt: 100 silent blocks, then 1500 of the WAVE, 320 short.
  const std::string data = Words(2 * 2100);
  ASSERT_TRUE(WriteFileBytes(wav, MakeWave(2, 8000, 16, data.substr(0, 1500 * 4))));
  e.s.shiftSamples = 100;
  ASSERT_EQ(1, e.Run(kWaveFromWave));
  EXPECT_TRUE(avi.Audio() == std::string(400, '\0') + data.substr(0, 1500 * 4) + std::string(320 * 4, '\0'));
  EXPECT_EQ(host.boxes.at(0).text, wav + "のWAVEデータは320件足りませんでした.");

  // Earlier by 100, extensible PCM (stereo, 8000 Hz, 16 bits, PCM sub-format):
  // the first 100 blocks skipped, 80 left over.
  write(std::string(
            "\xFE\xFF\x02\x00\x40\x1F\x00\x00\x00\x7D\x00\x00\x04\x00\x10\x00\x16\x00\x10\x00\x03\x00\x00\x00"
            "\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71",
            40),
        data);
  e.s.shiftSamples = -100;
  ASSERT_EQ(1, e.Run(kWaveFromWave));
  EXPECT_TRUE(avi.Audio() == data.substr(400, 1920 * 4));
  EXPECT_EQ(host.boxes.back().text, wav + "のWAVEデータは80件余りました.");

  // The 18-byte form with nAvgBytesPerSec one higher is refused, the audio kept.
  write(std::string("\x01\x00\x02\x00\x40\x1F\x00\x00\x01\x7D\x00\x00\x04\x00\x10\x00\x00\x00", 18), data);
  EXPECT_EQ(0, e.Run(kWaveFromWave));
  EXPECT_EQ(host.boxes.back().text, wav + "のオーディオフォーマットは" + avi.path + "と一致しません!");
  EXPECT_TRUE(avi.Audio() == data.substr(400, 1920 * 4));
}

TEST(ReadWaveRewrite, AudioOfAnotherAviMovedByTheShift) {
  ScratchDir dir;
  RecordingHost host;
  const PcmAvi avi = MakeAvi(dir.File("a.avi"), 6, Wide);
  const PcmAvi src = MakeAvi(dir.File("src.avi"), 4, [](size_t i) { return int(i * 11 % 30000); });
  Engine e({avi.path});
  OpenAviFile other;
  ASSERT_TRUE(e.table.OpenChosenFiles(kCmdReadAudioFromAvi, &other, {src.path}));
  e.req.otherAvi = &other;
  e.s.shiftSamples = 50;
  ASSERT_EQ(1, e.Run(kWaveFromAvi));
  EXPECT_TRUE(avi.Audio() == std::string(50 * 4, '\0') + src.Audio() + std::string((1920 - 1330) * 4, '\0'));
  CloseOpenAvi(&other, 0);
}

TEST(ReadWaveRewrite, EscStopsBetweenPiecesAndSaysHowFar) {
  ScratchDir dir;
  RecordingHost host;
  const PcmAvi a = MakeAvi(dir.File("a.avi"), 2, Wide), b = MakeAvi(dir.File("b.avi"), 4, Wide);
  const std::string beforeA = a.Audio(), beforeB = b.Audio();
  Engine e({a.path, b.path});
  e.s.factor = 0.5;
  // Only b, samples 640-1919 of the table; each audio chunk is one piece, Esc after the third.
  e.req.record = &e.table.pOpenAviList[1];
  host.onPump = [](int n) {
    if (n == 3) ME.fAbort = 1;
  };
  EXPECT_EQ(0, e.Run(kWaveVolume));
  ME.fAbort = 0;
  EXPECT_EQ(host.status[0].back(),
            "全体音声倍率変更書換中止 " + b.path + "のオーディオはサンプル640～1599まで書き換えました.");
  EXPECT_TRUE(a.Audio() == beforeA);
  const std::string gotB = b.Audio();
  for (size_t i = 0; i < beforeB.size() / 2; ++i)
    ASSERT_EQ(S16(gotB, i), i < 3 * 640 ? Scaled(S16(beforeB, i), 0.5) : S16(beforeB, i)) << i;

  // Without a record the walk crosses from a into b.
  host.onPump = nullptr;
  e.s.audioModified = false;
  e.req.record = nullptr;
  ASSERT_EQ(1, e.Run(kWaveVolume));
  const std::string nowA = a.Audio();
  for (size_t i = 0; i < beforeA.size() / 2; ++i) ASSERT_EQ(S16(nowA, i), Scaled(S16(beforeA, i), 0.5));
  EXPECT_EQ(S16(b.Audio(), 1279), Scaled(S16(gotB, 1279), 0.5));
}
