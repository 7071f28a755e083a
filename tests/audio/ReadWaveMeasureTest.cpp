// The audio engine's measurements, the DV audio check, the save of the frames
// round the current one and the encoded export, on audio the test writes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "AviBuilder.h"
#include "TestSupport.h"
#include "WaveData.h"
#include "audio/AudioCodec.h"
#include "audio/AudioEncode.h"
#include "audio/ReadWave.h"
#include "audio/WaveFile.h"
#include "command/CommandIds.h"
#include "platform/Format.h"
#include "platform/Messages.h"

namespace {

constexpr uint32_t kPerFrame = 320;  // 8000 Hz at 25 fps

// A PCM AVI whose audio is sample(i, channel) for the i-th sample frame,
// chunk k holding `samples[k]` sample frames; returns the audio bytes.
std::string MakeAvi(const std::string& path, uint16_t channels, uint16_t bits,
                    const std::vector<uint32_t>& samples, const std::function<int(uint32_t, int)>& sample) {
  AviBuildOptions o;
  o.frames = Frames(samples.size(), 16 * 16 * 3);
  o.audio = true;
  const uint16_t ba = static_cast<uint16_t>(channels * bits / 8);
  o.wf = {1, channels, 8000, bits, ba, 8000u * ba, 16};
  for (uint32_t n : samples) o.audioSizes.push_back(n * ba);
  AviLayout l = BuildAvi(o);
  std::string all;
  uint32_t i = 0;
  for (size_t k = 0; k < samples.size(); ++k) {
    std::string chunk;
    for (uint32_t j = 0; j < samples[k]; ++j, ++i)
      for (int ch = 0; ch < channels; ++ch) {
        int v = sample(i, ch);
        if (bits == 8)
          chunk += static_cast<char>(v + 128);
        else
          Put16(chunk, static_cast<uint16_t>(v));
      }
    l.bytes.replace(l.audioData[k], chunk.size(), chunk);
    all += chunk;
  }
  EXPECT_TRUE(WriteFileBytes(path, l.bytes));
  return all;
}

}  // namespace

TEST(ReadWaveMeasure, LargestFactorAndOffsets) {
  ScratchDir dir;
  RecordingHost host;
  // Stereo: left 300, -100, 0, 0; right -30, -70, 0, 0, repeated, and a left
  // peak of 12000 and a right trough of -16000 in the last frame.
  const std::string stereo = dir.File("s.avi");
  MakeAvi(stereo, 2, 16, std::vector<uint32_t>(4, kPerFrame), [](uint32_t i, int ch) {
    if (i == 4 * kPerFrame - 1) return ch == 0 ? 12000 : -16000;
    const int l[] = {300, -100, 0, 0}, r[] = {-30, -70, 0, 0};
    return ch == 0 ? l[i % 4] : r[i % 4];
  });
  OpenAviTable table;
  ASSERT_TRUE(table.OpenChosenFiles(kCmdOpenAdd, nullptr, {stereo}));
  ReadWave engine(table);
  ReadWaveSettings s;
  s.targetPercent = 50;
  ReadWaveRequest req;

  // Both channels: the right trough limits (-16384 / -16000); Cancel keeps the factor.
  host.answers = {IDCANCEL};
  EXPECT_EQ(0, engine.Run(kWaveFactorCheck, s, req));
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text,
            Fmt("音量を%ld%%にするには現在の倍率%6.3lfを%6.3lfに変更します。\n変更しますか?", 50L, 1.0,
                16384.0 / 16000));
  EXPECT_EQ(s.factor, 1.0);
  // The left channel alone: its peak limits; with level correction its offset is taken off first.
  s.channel = kChannelLeft;
  ASSERT_EQ(1, engine.Run(kWaveFactorCheck, s, req));
  EXPECT_DOUBLE_EQ(s.factor, 16383.0 / 12000);
  s.levelCorrection = true;
  s.offsetLeft = 4000;
  ASSERT_EQ(1, engine.Run(kWaveFactorCheck, s, req));
  EXPECT_DOUBLE_EQ(s.factor, 16383.0 / 8000);

  // Offsets from the raw samples over 1280 sample frames, truncated towards
  // zero (right: -37.5 gives -37); the last frame is the (12000, -16000) pair.
  s.levelCorrection = false;
  ASSERT_EQ(1, engine.Run(kWaveOffsetCheck, s, req));
  const long left = (320 * 200 + 12000) / 1280, right = (320 * -100 - 16000) / 1280;
  // |L-R| / max(|L|,|R|) over the frames that are not both 0, per frame.
  const double degree = 100.0 * (320 * (330.0 / 300 + 30.0 / 100) + 28000.0 / 16000) / 1280;
  EXPECT_EQ(host.boxes.back().text,
            Fmt("Lchのオフセットは%ld,Rchのオフセットは%ld,\nステレオ度は%5.1lf%%です。\n設定しますか?", left,
                right, degree));
  EXPECT_EQ(s.offsetLeft, left);
  EXPECT_EQ(s.offsetRight, right);
  EXPECT_TRUE(s.levelCorrection);
  table.CloseAllOpenAvi();

  // Mono 8-bit: 10, -3, -3, -5 has the mean -0.25, which truncates to 0
  // (flooring would give -1).
  const std::string mono = dir.File("m.avi");
  MakeAvi(mono, 1, 8, {kPerFrame}, [](uint32_t i, int) {
    const int v[] = {10, -3, -3, -5};
    return v[i % 4];
  });
  ASSERT_TRUE(table.OpenChosenFiles(kCmdOpenAdd, nullptr, {mono}));
  ReadWaveSettings m;
  m.offsetLeft = 9;
  ASSERT_EQ(1, engine.Run(kWaveOffsetCheck, m, req));
  EXPECT_EQ(host.boxes.back().text, "オフセットは0です。\n設定しますか?");
  EXPECT_EQ(m.offsetLeft, 0);
  EXPECT_TRUE(m.levelCorrection);
}

TEST(ReadWaveMeasure, DvCheckTalliesChunkSizes) {
  ScratchDir dir;
  RecordingHost host;
  const std::string path = dir.File("dv.avi");
  // Chunks of 318, 322, 322, ... samples against 320 per frame: 9 frames hold
  // 2886 samples, 6 too many, one sample of difference every 1.5 frames.
  std::vector<uint32_t> sizes;
  for (int k = 0; k < 9; ++k) sizes.push_back(k % 3 ? 322 : 318);
  MakeAvi(path, 2, 16, sizes, [](uint32_t, int) { return 0; });
  OpenAviTable table;
  ASSERT_TRUE(table.OpenChosenFiles(kCmdOpenAdd, nullptr, {path}));
  ReadWave engine(table);
  ReadWaveSettings s;
  ReadWaveRequest req;
  req.record = &table.pOpenAviList[0];
  ASSERT_EQ(1, engine.Run(kWaveDvCheck, s, req));
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text,
            Fmt("%sの音声過不足\n\nフレーム数  : %9lu    フレーム\nサンプル数  : %9lu    "
                "サンプル\n音声%s数  : %9ld    サンプル\n過不足割合  : %11.1lf  フレーム/サンプル",
                path.c_str(), 9UL, 2886UL, "超過", 6L, 1.5));
  ASSERT_EQ(engine.DvTally().size(), 2u);
  EXPECT_EQ(engine.DvTally()[0].difference, 2);
  EXPECT_EQ(engine.DvTally()[0].chunks, 6u);
}

TEST(ReadWaveMeasure, FramesRoundTheCurrentOne) {
  ScratchDir dir;
  RecordingHost host;
  ASSERT_TRUE(OpenLog());
  const std::string path = dir.File("Clip.AVI");
  const std::string all = MakeAvi(path, 2, 16, std::vector<uint32_t>(30, kPerFrame),
                                  [](uint32_t i, int ch) { return static_cast<int16_t>(i * 2 + ch); });
  OpenAviTable table;
  ASSERT_TRUE(table.OpenChosenFiles(kCmdOpenAdd, nullptr, {path}));
  ReadWave engine(table);
  ReadWaveSettings s;
  ReadWaveRequest req;
  s.shiftSamples = 50;  // the user's shift does not apply here

  // Frames 2-22 round frame 12; 0x800 takes them 801 samples later.
  s.currentFrame = 12;
  ASSERT_EQ(1, engine.Run(kWaveExport | kWaveAroundFrame, s, req));
  EXPECT_EQ(req.wavePath, dir.File("Clip.000012.0.wav"));
  EXPECT_TRUE(WaveData(req.wavePath) == all.substr(2 * 1280, 21 * 1280));
  ASSERT_EQ(1, engine.Run(kWaveExport | kWaveAroundFrameShifted, s, req));
  EXPECT_EQ(req.wavePath, dir.File("Clip.000012.5.wav"));
  EXPECT_TRUE(WaveData(req.wavePath) == all.substr(2 * 1280 + 801 * 4, 21 * 1280));
  CloseLog();
  const std::string log = ReadFileBytes(LogPath());
  EXPECT_NE(log.find(" " + path + "(2-22)から " + req.wavePath + "へ801サンプル早めて保存\r\n"),
            std::string::npos)
      << log;

  // The program's buffer: frames 28-31 of 30, the part past the audio zero.
  req.firstFrame = 28;
  req.frameCount = 4;
  ASSERT_EQ(1, engine.Run(kWaveFrameRangeToProgramBuffer, s, req));
  EXPECT_TRUE(std::string(engine.AudioBuffer().begin(), engine.AudioBuffer().end()) ==
              all.substr(28 * 1280) + std::string(2 * 1280, '\0'));

  // Refused where the range leaves the file: the first frames, and 20 either side.
  s.currentFrame = 9;
  EXPECT_EQ(0, engine.Run(kWaveExport | kWaveAroundFrame, s, req));
  s.currentFrame = 12;
  s.wideAroundFrame = true;
  EXPECT_EQ(0, engine.Run(kWaveExport | kWaveAroundFrame, s, req));
  ASSERT_EQ(host.boxes.size(), 2u);
  EXPECT_EQ(host.boxes[1].text, "!オーディオを出力するフレーム範囲が不正です!");
}

TEST(ReadWaveMeasure, EncodedExportReadsBack) {
  ScratchDir dir;
  RecordingHost host;
  const std::string path = dir.File("e.avi"), out = dir.File("e.wav");
  MakeAvi(path, 2, 16, std::vector<uint32_t>(20, kPerFrame),
          [](uint32_t i, int ch) { return static_cast<int>(6000 * std::sin(i * 0.2 + ch)); });
  OpenAviTable table;
  ASSERT_TRUE(table.OpenChosenFiles(kCmdOpenAdd, nullptr, {path}));
  ReadWave engine(table);
  ReadWaveSettings s;
  s.shiftSamples = 3000;  // silence through the encoder too
  s.output.encodeAudio = true;
  ASSERT_TRUE(MakeEncodedFormat(AudioTagOfCodec(AV_CODEC_ID_ADPCM_IMA_WAV), 8000, 2, 4, 0, &s.output.format));
  ASSERT_EQ(s.output.format.size(), 20u);
  const long perBlock = s.output.format[18] | (s.output.format[19] << 8);
  ASSERT_EQ(1, engine.Run(kWaveExport, s, out));
  EXPECT_TRUE(host.boxes.empty());

  // The length ffprobe gives (in samples: the time base is the rate) and
  // the decoded samples are the input, give or take the padded last block.
  const long input = 3000 + 20 * kPerFrame;
  std::string probe;
  ASSERT_EQ(
      0, RunCommand("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,duration_ts -of "
                    "csv=p=0 '" +
                        out + "'",
                    &probe));
  ASSERT_EQ(probe.rfind("adpcm_ima_wav,8000,2,", 0), 0u) << probe;
  const long duration = std::stol(probe.substr(21));
  EXPECT_GE(duration, input);
  EXPECT_LT(duration, input + perBlock);
  std::string decoded;
  ASSERT_EQ(0, RunCommand("ffmpeg -v error -i '" + out + "' -f s16le -", &decoded));
  const long samples = static_cast<long>(decoded.size() / 4);
  EXPECT_GE(samples, input);
  EXPECT_LT(samples, input + perBlock);
}
