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

// A PCM AVI at 25 fps whose audio value i (channels interleaved) is value(i).
struct PcmAvi {
  std::string path;
  std::vector<uint64_t> at;  // data position of each audio chunk
  uint32_t chunkBytes = 0;
  // The audio the file holds now.
  std::string Audio() const {
    const std::string b = ReadFileBytes(path);
    std::string a;
    for (uint64_t p : at) a += b.substr(p, chunkBytes);
    return a;
  }
};

PcmAvi MakeAvi(const std::string& path, uint32_t frames, const std::function<int(size_t)>& value,
               uint16_t channels = 2, uint16_t bits = 16) {
  AviBuildOptions o;
  o.frames = Frames(frames, 16 * 16 * 3);
  o.audio = true;
  o.wf.channels = channels;
  o.wf.bits = bits;
  o.wf.blockAlign = static_cast<uint16_t>(channels * bits / 8);
  o.wf.avgBytes = 8000u * o.wf.blockAlign;
  PcmAvi avi{path, {}, 320u * o.wf.blockAlign};
  o.audioSizes = std::vector<uint32_t>(frames, avi.chunkBytes);
  AviLayout l = BuildAvi(o);
  size_t i = 0;
  for (uint64_t p : l.audioData) {
    for (uint32_t k = 0; k < avi.chunkBytes; k += bits / 8, ++i) {
      const int v = value(i);
      l.bytes[p + k] = static_cast<char>(v & 0xFF);
      if (bits == 16) l.bytes[p + k + 1] = static_cast<char>((v >> 8) & 0xFF);
    }
  }
  avi.at = l.audioData;
  EXPECT_TRUE(WriteFileBytes(path, l.bytes));
  return avi;
}

int S16(const std::string& a, size_t i) {
  return static_cast<int16_t>(static_cast<uint8_t>(a[2 * i]) | (static_cast<uint8_t>(a[2 * i + 1]) << 8));
}

std::string Words(const std::function<int(size_t)>& value, size_t count) {
  std::string s;
  for (size_t i = 0; i < count; ++i) Put16(s, static_cast<uint16_t>(value(i)));
  return s;
}

long Scaled(long s, double f, long lo, long hi) {
  return std::clamp<long>(std::lround(static_cast<double>(s) * f), lo, hi);
}

const auto kWide = [](size_t i) {
  return i < 2 ? (i ? -20000 : 20000) : (i % 2 ? -1 : 1) * int((i * 37) % 20001);
};

}  // namespace

TEST(ReadWaveRewrite, VolumeClipsRoundsAndTouchesOnlyTheChosenChannel) {
  ScratchDir dir;
  RecordingHost host;
  const PcmAvi avi = MakeAvi(dir.File("v.avi"), 3, kWide);
  const std::string before = avi.Audio();
  OpenAviTable table;
  ASSERT_TRUE(table.OpenChosenFiles(kCmdOpenAdd, nullptr, {avi.path}));
  ReadWave engine(table);
  ReadWaveSettings s;
  ReadWaveRequest none;
  s.factor = 2.0;
  ASSERT_EQ(1, engine.Run(kWaveRewrite | kWaveVolume, s, none));
  std::string doubled = avi.Audio();
  EXPECT_EQ(S16(doubled, 0), 32767);
  EXPECT_EQ(S16(doubled, 1), -32768);
  for (size_t i = 0; i < before.size() / 2; ++i)
    ASSERT_EQ(S16(doubled, i), Scaled(S16(before, i), 2.0, -32768, 32767)) << i;
  EXPECT_TRUE(s.audioModified);

  // Modified audio asks first; Cancel leaves it alone.
  s.factor = 0.5;
  s.channel = kChannelLeft;
  s.levelCorrection = true;
  s.offsetLeft = 3;
  s.offsetRight = -5;
  host.answers = {IDCANCEL};
  EXPECT_EQ(0, engine.Run(kWaveRewrite | kWaveVolume, s, none));
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "WAVEデータは既に変更されていますが続けますか?");
  EXPECT_TRUE(avi.Audio() == doubled);
  ASSERT_EQ(1, engine.Run(kWaveRewrite | kWaveVolume, s, none));
  const std::string halved = avi.Audio();
  for (size_t i = 0; i < before.size() / 2; i += 2) {
    ASSERT_EQ(S16(halved, i), Scaled(S16(doubled, i) - 3, 0.5, -32768, 32767)) << i;
    ASSERT_EQ(S16(halved, i + 1), S16(doubled, i + 1)) << i;
  }
  EXPECT_FALSE(s.levelCorrection);
  EXPECT_EQ(host.status[0].back(), "全体左音声倍率変更書換終了");

  // 8-bit: unsigned around 128; 129 with 1.5 is s = 2.
  const PcmAvi bytes = MakeAvi(
      dir.File("b.avi"), 2, [](size_t i) { return i ? int(i * 7 % 256) : 129; }, 1, 8);
  const std::string raw = bytes.Audio();
  OpenAviTable t8;
  ASSERT_TRUE(t8.OpenChosenFiles(kCmdOpenAdd, nullptr, {bytes.path}));
  ReadWaveSettings s8;
  s8.factor = 1.5;
  ASSERT_EQ(1, ReadWave(t8).Run(kWaveRewrite | kWaveVolume, s8, none));
  const std::string got = bytes.Audio();
  EXPECT_EQ(static_cast<uint8_t>(got[0]), 130);
  for (size_t i = 0; i < raw.size(); ++i)
    ASSERT_EQ(static_cast<uint8_t>(got[i]), Scaled(static_cast<uint8_t>(raw[i]) - 128, 1.5, -128, 127) + 128);
}

TEST(ReadWaveRewrite, FadesRiseFromSilenceAndFallOverTheScope) {
  ScratchDir dir;
  RecordingHost host;
  auto level = [](size_t) { return 10000; };
  ReadWaveRequest none;
  {
    const PcmAvi avi = MakeAvi(dir.File("in.avi"), 4, level);  // 1280 sample frames
    OpenAviTable table;
    ASSERT_TRUE(table.OpenChosenFiles(kCmdOpenAdd, nullptr, {avi.path}));
    ReadWaveSettings s;
    ASSERT_EQ(1, ReadWave(table).Run(kWaveRewrite | kWaveFadeIn, s, none));
    const std::string a = avi.Audio();
    EXPECT_EQ(S16(a, 0), 0);
    EXPECT_EQ(S16(a, 2 * 1279), 9990);
    for (size_t k = 0; k < 1280; ++k) {
      ASSERT_EQ(S16(a, 2 * k), 10 * int(k * 1000 / 1280)) << k;
      ASSERT_EQ(S16(a, 2 * k + 1), S16(a, 2 * k)) << k;
    }
  }
  // Fade out over frames 1-2 (640 sample frames); frames 0 and 3 untouched.
  const PcmAvi avi = MakeAvi(dir.File("out.avi"), 4, level);
  OpenAviTable table;
  ASSERT_TRUE(table.OpenChosenFiles(kCmdOpenAdd, nullptr, {avi.path}));
  ReadWaveSettings s;
  s.scope = kScopeSelection;
  s.selectionFirst = 1;
  s.selectionLast = 2;
  ASSERT_EQ(1, ReadWave(table).Run(kWaveRewrite | kWaveFadeOut, s, none));
  const std::string a = avi.Audio();
  for (size_t k = 0; k < 1280; ++k) {
    const int want = k < 320 || k >= 960 ? 10000 : 10 * (1000 - int(((k - 320) * 1000 + 639) / 640));
    ASSERT_EQ(S16(a, 2 * k), want) << k;
  }
  EXPECT_EQ(S16(a, 2 * 320), 10000);
  EXPECT_EQ(S16(a, 2 * 959), 10);  // the last step leaves 1.5625 per mille
}

TEST(ReadWaveRewrite, WaveImportShiftsChecksTheFormatAndCountsTheDifference) {
  ScratchDir dir;
  RecordingHost host;
  const PcmAvi avi = MakeAvi(dir.File("w.avi"), 6, kWide);  // 1920 blocks
  OpenAviTable table;
  ASSERT_TRUE(table.OpenChosenFiles(kCmdOpenAdd, nullptr, {avi.path}));
  ReadWave engine(table);
  ReadWaveSettings s;
  ReadWaveRequest req;
  req.wavePath = dir.File("in.wav");
  auto w = [](size_t i) { return int(i * 13 % 65536) - 32768; };

  // Later by 100 with a 16-byte fmt: 100 silent blocks, then 1500 of the WAVE, 320 short.
  const std::string shortData = Words(w, 2 * 1500);
  ASSERT_TRUE(WriteFileBytes(req.wavePath, MakeWave(2, 8000, 16, shortData)));
  s.shiftSamples = 100;
  ASSERT_EQ(1, engine.Run(kWaveRewrite | kWaveFromWave, s, req));
  EXPECT_TRUE(avi.Audio() == std::string(400, '\0') + shortData + std::string(320 * 4, '\0'));
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes.back().text, req.wavePath + "のWAVEデータは320件足りませんでした.");

  // Earlier by 100, extensible PCM: the first 100 blocks skipped, 80 left over.
  std::string fmt;
  for (uint32_t v : {0xFFFEu, 2u}) Put16(fmt, static_cast<uint16_t>(v));
  Put32(fmt, 8000);
  Put32(fmt, 32000);
  for (uint32_t v : {4u, 16u, 22u, 16u}) Put16(fmt, static_cast<uint16_t>(v));
  Put32(fmt, 3);
  fmt += std::string("\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 16);
  const std::string longData = Words(w, 2 * 2100);
  ASSERT_TRUE(
      WriteFileBytes(req.wavePath, ListChunk("RIFF", "WAVE", Chunk("fmt ", fmt) + Chunk("data", longData))));
  s.shiftSamples = -100;
  ASSERT_EQ(1, engine.Run(kWaveRewrite | kWaveFromWave, s, req));
  EXPECT_TRUE(avi.Audio() == longData.substr(400, 1920 * 4));
  EXPECT_EQ(host.boxes.back().text, req.wavePath + "のWAVEデータは80件余りました.");

  // One byte off in the 18-byte form (nAvgBytesPerSec) is refused, the audio kept.
  std::string bad;
  for (uint32_t v : {1u, 2u}) Put16(bad, static_cast<uint16_t>(v));
  Put32(bad, 8000);
  Put32(bad, 32001);
  for (uint32_t v : {4u, 16u, 0u}) Put16(bad, static_cast<uint16_t>(v));
  ASSERT_TRUE(
      WriteFileBytes(req.wavePath, ListChunk("RIFF", "WAVE", Chunk("fmt ", bad) + Chunk("data", longData))));
  const std::string kept = avi.Audio();
  EXPECT_EQ(0, engine.Run(kWaveRewrite | kWaveFromWave, s, req));
  EXPECT_EQ(host.boxes.back().text,
            req.wavePath + "のオーディオフォーマットは" + avi.path + "と一致しません!");
  EXPECT_TRUE(avi.Audio() == kept);
}

TEST(ReadWaveRewrite, AudioOfAnotherAviMovedByTheShift) {
  ScratchDir dir;
  RecordingHost host;
  const PcmAvi avi = MakeAvi(dir.File("a.avi"), 6, kWide);
  auto w = [](size_t i) { return int(i * 11 % 30000); };
  const PcmAvi src = MakeAvi(dir.File("src.avi"), 4, w);  // 1280 blocks
  const PcmAvi mono = MakeAvi(dir.File("mono.avi"), 4, w, 1);
  OpenAviTable table;
  ASSERT_TRUE(table.OpenChosenFiles(kCmdOpenAdd, nullptr, {avi.path}));
  ReadWave engine(table);
  ReadWaveSettings s;
  ReadWaveRequest req;

  OpenAviFile other;
  ASSERT_TRUE(table.OpenChosenFiles(kCmdReadAudioFromAvi, &other, {mono.path}));
  req.otherAvi = &other;
  EXPECT_EQ(0, engine.Run(kWaveRewrite | kWaveFromAvi, s, req));
  EXPECT_EQ(host.boxes.back().text, mono.path + "のオーディオフォーマットは" + avi.path + "と一致しません!");
  CloseOpenAvi(&other, 0);

  ASSERT_TRUE(table.OpenChosenFiles(kCmdReadAudioFromAvi, &other, {src.path}));
  s.shiftSamples = 50;
  ASSERT_EQ(1, engine.Run(kWaveRewrite | kWaveFromAvi, s, req));
  EXPECT_TRUE(avi.Audio() == std::string(50 * 4, '\0') + src.Audio() + std::string((1920 - 1330) * 4, '\0'));
  CloseOpenAvi(&other, 0);
}

TEST(ReadWaveRewrite, EscStopsBetweenPiecesAndSaysHowFar) {
  ScratchDir dir;
  RecordingHost host;
  const PcmAvi a = MakeAvi(dir.File("a.avi"), 2, kWide), b = MakeAvi(dir.File("b.avi"), 4, kWide);
  const std::string beforeA = a.Audio(), beforeB = b.Audio();
  OpenAviTable table;
  ASSERT_TRUE(table.OpenChosenFiles(kCmdOpenAdd, nullptr, {a.path, b.path}));
  ReadWave engine(table);
  ReadWaveSettings s;
  s.factor = 0.5;
  ReadWaveRequest req;
  // Only b: a keeps its audio; b is samples 640-1919 of the table.
  req.record = &table.pOpenAviList[1];
  // Each audio chunk is one piece; Esc after the third.
  host.onPump = [](int n) {
    if (n == 3) ME.fAbort = 1;
  };
  EXPECT_EQ(0, engine.Run(kWaveRewrite | kWaveVolume, s, req));
  ME.fAbort = 0;
  EXPECT_EQ(host.status[0].back(),
            "全体音声倍率変更書換中止 " + b.path + "のオーディオはサンプル640～1599まで書き換えました.");
  EXPECT_TRUE(a.Audio() == beforeA);
  const std::string gotB = b.Audio();
  for (size_t i = 0; i < beforeB.size() / 2; ++i)
    ASSERT_EQ(S16(gotB, i), i < 3 * 640 ? Scaled(S16(beforeB, i), 0.5, -32768, 32767) : S16(beforeB, i)) << i;
  EXPECT_TRUE(s.audioModified);

  // Without a record the walk crosses from a into b.
  host.onPump = nullptr;
  s.audioModified = false;
  ReadWaveRequest all;
  ASSERT_EQ(1, engine.Run(kWaveRewrite | kWaveVolume, s, all));
  const std::string nowA = a.Audio();
  for (size_t i = 0; i < beforeA.size() / 2; ++i)
    ASSERT_EQ(S16(nowA, i), Scaled(S16(beforeA, i), 0.5, -32768, 32767));
}
