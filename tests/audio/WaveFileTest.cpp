// The WAVE reader over the real samples and the writer's RIFF, RF64 and
// failure paths, checked against our reader and against ffprobe / ffmpeg.
#include <sys/resource.h>
#include <sys/stat.h>
#include <dirent.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <map>
#include <string>

#include "TestSupport.h"
#include "audio/WaveFile.h"

namespace {

// ffprobe's sample count of the first audio stream, -1 when it cannot tell.
long ProbeSamples(const std::string& path) {
  std::string out;
  if (RunCommand(
          "ffprobe -v error -select_streams a:0 -show_entries stream=duration_ts -of csv=p=0 '" + path + "'",
          &out) != 0)
    return -1;
  return out.empty() ? -1 : std::atol(out.c_str());
}

// The data as FFmpeg's WAVE demuxer hands it out.
std::string FfmpegData(const std::string& path) {
  std::string out;
  if (RunCommand("ffmpeg -v error -i '" + path + "' -map 0:a:0 -c copy -f data -", &out) != 0) return "";
  return out;
}

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + i / 251);
  return s;
}

WaveFormatEx Pcm(uint16_t channels, uint32_t rate, uint16_t bits) {
  uint16_t align = static_cast<uint16_t>(channels * (bits / 8));
  return {kWaveFormatPcm, channels, rate, rate * align, align, bits, 0};
}

struct Expected {
  uint16_t tag, channels;
  uint32_t rate;
  uint16_t blockAlign;
  uint64_t dataBytes, declaredBytes;
};

TEST(WaveSamples, EveryWaveSampleReadsOrIsRefused) {
  // Format and data length as recorded in PROVENANCE.tsv; cut files are read
  // in whole blocks up to their end.
  const std::map<std::string, Expected> expected = {
      {"wav_alaw_8bit_mono_8k_wavefile.wav", {6, 1, 8000, 1, 48000, 48000}},
      {"wav_extensible_12bit_stereo_afsp_M1F1.wav", {1, 2, 8000, 4, 93972, 93972}},
      {"wav_float32_6ch_fact_peak_truncated_ladouce.wav", {3, 6, 44100, 24, 4992, 565751688}},
      {"wav_gsm610_fact_odd_data_size_ciao.wav", {0x31, 1, 8000, 65, 5785, 5785}},
      {"wav_ima_adpcm_fact_junk_reaper.wav", {0x11, 1, 8000, 1024, 30720, 30720}},
      {"wav_pcm16_bext_cue_lowercase_list_200828-005.wav", {1, 2, 48000, 4, 2457856, 2457856}},
      {"wav_pcm16_trailing_bytes_after_riff.wav", {1, 1, 44100, 2, 88200, 88200}},
      {"wav_pcm16_truncated_rec05.wav", {1, 1, 8000, 2, 205268, 1632000}},
      {"wav_pcm24_bext_junk_afan_id3_odd_sizes_bwf.wav", {1, 1, 44100, 3, 21861, 21861}},
      {"wav_pcm24_odd_inst_chunk_misaligned.wav", {1, 2, 44100, 6, 3386880, 3386880}},
      {"wav_pcm24_soundforge8_list_pad_before_data.wav", {1, 2, 44100, 6, 91908, 91908}},
      {"wav_pcm_u8_mono_11k_bells.wav", {1, 1, 11025, 1, 18480, 18480}},
      {"wav_rf64_pcm16_stereo_reaper.wav", {1, 2, 8000, 4, 309996, 309996}},
  };
  size_t seen = 0;
  DIR* dir = opendir(MX_SAMPLES_DIR);
  ASSERT_NE(dir, nullptr);
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name.size() < 4 || name.substr(name.size() - 4) != ".wav") continue;
    SCOPED_TRACE(name);
    ++seen;
    auto it = expected.find(name);
    ASSERT_NE(it, expected.end()) << "a new sample needs its expectation";
    const Expected& x = it->second;
    const std::string path = SamplePath(name);
    WaveFileInfo info;
    std::string message, note;
    ASSERT_TRUE(ReadWaveFileInfo(path, 0, &info, &message, &note)) << message;
    EXPECT_EQ(info.format.effectiveTag, x.tag);
    EXPECT_EQ(info.format.wf.nChannels, x.channels);
    EXPECT_EQ(info.format.wf.nSamplesPerSec, x.rate);
    EXPECT_EQ(info.BlockAlign(), x.blockAlign);
    EXPECT_EQ(info.dataBytes, x.dataBytes);
    EXPECT_EQ(info.declaredBytes, x.declaredBytes);
    EXPECT_EQ(info.truncated, x.dataBytes != x.declaredBytes);
    EXPECT_EQ(note.empty(), !info.truncated);
    EXPECT_EQ(info.rf64, name.find("rf64") != std::string::npos);

    WaveFileInfo pcm;
    bool accepted = ReadWaveFileInfo(path, kWaveNeedPcm, &pcm, &message);
    EXPECT_EQ(accepted, x.tag == kWaveFormatPcm);
    if (!accepted) {
      char tag[8];
      std::snprintf(tag, sizeof tag, "0x%04X", x.tag);
      EXPECT_EQ(message, path + "のオーディオはPCMではありません(フォーマット " + tag + ")!");
    } else {
      // The import compares the AVI's 18-byte PCM format: the extensible
      // form must pass as plain PCM.
      EXPECT_TRUE(
          MatchWaveFormat(info, Pcm(x.channels, x.rate, static_cast<uint16_t>(x.blockAlign / x.channels * 8)),
                          path, "a.avi", &message))
          << message;
    }
    if (accepted && !info.truncated) {
      // Where the samples start: the bytes agree with FFmpeg's demuxer.
      WaveReader reader;
      ASSERT_TRUE(reader.Open(path, kWaveNeedPcm, &message));
      std::string ours(info.dataBytes, '\0');
      ASSERT_EQ(reader.ReadData(0, ours.data(), ours.size() + 100), static_cast<int64_t>(ours.size()));
      EXPECT_TRUE(FfmpegData(path) == ours);
    }
  }
  closedir(dir);
  EXPECT_EQ(seen, expected.size());

  // An AVI is no WAVE; nor is a WAVE without data, or RF64 without ds64.
  WaveFileInfo info;
  std::string message;
  const std::string avi = SamplePath("audio_only_dk3_adpcm_sop.avi");
  EXPECT_FALSE(ReadWaveFileInfo(avi, 0, &info, &message));
  EXPECT_EQ(message, avi + "はWAVEファイルではありません!");
  ScratchDir scratch;
  std::string noData = MakeWave(1, 8000, 16, "");
  noData.resize(noData.size() - 8);
  WriteFileBytes(scratch.File("nodata.wav"), noData);
  EXPECT_FALSE(ReadWaveFileInfo(scratch.File("nodata.wav"), 0, &info, &message));
  EXPECT_EQ(message, scratch.File("nodata.wav") + "はdataチャンクがありません!");
  std::string noDs64 = ReadFileBytes(SamplePath("wav_rf64_pcm16_stereo_reaper.wav"));
  noDs64.replace(12, 4, "JUNK");
  WriteFileBytes(scratch.File("nods64.wav"), noDs64);
  EXPECT_FALSE(ReadWaveFileInfo(scratch.File("nods64.wav"), 0, &info, &message));
  EXPECT_EQ(message, scratch.File("nods64.wav") + "にds64チャンクがありません!");

  // The old 14-byte PCM fmt: the bits come from the block size, and a format
  // that differs in them is refused by name.
  std::string shortFmt =
      "WAVE" + Chunk("fmt ", std::string("\x01\x00\x02\x00\x40\x1f\x00\x00\x00\x7d\x00\x00\x04\x00", 14)) +
      Chunk("data", std::string(8, '\0'));
  WriteFileBytes(scratch.File("short.wav"), Chunk("RIFF", shortFmt));
  ASSERT_TRUE(ReadWaveFileInfo(scratch.File("short.wav"), kWaveNeedPcm, &info, &message)) << message;
  EXPECT_TRUE(MatchWaveFormat(info, Pcm(2, 8000, 16), scratch.File("short.wav"), "a.avi", &message));
  EXPECT_FALSE(MatchWaveFormat(info, Pcm(1, 16000, 16), scratch.File("short.wav"), "a.avi", &message));
  EXPECT_EQ(message, scratch.File("short.wav") + "のオーディオフォーマットはa.aviと一致しません!");
}

// What a finished file holds, by our reader and by ffprobe.
void ExpectReadsBack(const std::string& path, const std::string& data, uint16_t blockAlign, bool rf64) {
  WaveReader reader;
  std::string message;
  ASSERT_TRUE(reader.Open(path, kWaveNeedPcm, &message)) << message;
  EXPECT_EQ(reader.Info().rf64, rf64);
  EXPECT_FALSE(reader.Info().truncated);
  ASSERT_EQ(reader.Info().dataBytes, data.size());
  std::string back(data.size(), '\0');
  EXPECT_EQ(reader.ReadData(0, back.data(), back.size()), static_cast<int64_t>(back.size()));
  EXPECT_TRUE(back == data);
  EXPECT_EQ(ProbeSamples(path), static_cast<long>(data.size() / blockAlign));
  // Nothing behind the data but its pad byte.
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(static_cast<uint64_t>(st.st_size), reader.Info().dataOffset + data.size() + (data.size() & 1));
}

TEST(WaveWriterTest, TurnsIntoRf64PastTheLimit) {
  ScratchDir dir;
  // 8-bit mono with an odd length: the pad byte and the sizes around it.
  for (uint64_t limit : {kWaveRiffLimit, uint64_t{5000}}) {
    SCOPED_TRACE(limit);
    const std::string path = dir.File("out.wav"), data = Pattern(9001);
    WaveWriter w(limit);
    ASSERT_TRUE(w.Create(path, Pcm(1, 8000, 8)));
    ASSERT_TRUE(w.Append(data.data(), 4000));
    ASSERT_TRUE(w.AppendZeros(0));
    ASSERT_TRUE(w.Append(data.data() + 4000, data.size() - 4000));
    ASSERT_TRUE(w.Finish()) << w.Message();
    EXPECT_EQ(w.Rf64(), limit != kWaveRiffLimit);
    ExpectReadsBack(path, data, 1, limit != kWaveRiffLimit);
  }
  // A run of zeros large enough to become a hole, between real bytes.
  const std::string path = dir.File("hole.wav");
  WaveWriter w(100000);
  ASSERT_TRUE(w.Create(path, Pcm(2, 8000, 16)));
  std::string data = Pattern(400) + std::string(3 << 20, '\0') + Pattern(400);
  ASSERT_TRUE(w.Append(data.data(), 400));
  ASSERT_TRUE(w.AppendZeros(3 << 20));
  ASSERT_TRUE(w.Append(data.data(), 400));
  ASSERT_TRUE(w.Finish());
  ExpectReadsBack(path, data, 4, true);
}

// The file-size limit stands in for a full disk.
struct FileSizeLimit {
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved);
    struct rlimit small = saved;
    small.rlim_cur = bytes;
    oldHandler = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
  }
  struct rlimit saved;
  void (*oldHandler)(int);
};

TEST(WaveWriterTest, FailureHalfWayLeavesShorterFileOrNone) {
  ScratchDir dir;
  constexpr uint64_t kHeader = 12 + 36 + 8 + 18 + 8;
  // Stereo 24-bit cut inside a block; mono 24-bit cut after an odd count of
  // bytes, where the pad byte has no room and one more block goes.
  struct Case {
    uint16_t channels;
    uint64_t limit, kept;
  } cases[] = {{2, 20000, (20000 - kHeader) / 6 * 6}, {1, kHeader + 9, 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit);
    const std::string path = dir.File("full.wav");
    const std::string data = Pattern(3 << 20);
    WaveWriter w;
    bool ok;
    {
      FileSizeLimit limit(c.limit);
      ASSERT_TRUE(w.Create(path, Pcm(c.channels, 44100, 24)));
      ok = w.Append(data.data(), data.size()) && w.Finish();
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(w.Message(), path + "のdata書き込みでエラーが発生しました!");
    EXPECT_EQ(w.DataBytes(), c.kept);
    ExpectReadsBack(path, data.substr(0, c.kept), static_cast<uint16_t>(3 * c.channels), false);
  }
  // No room for the header: no file at all.
  WaveWriter w;
  {
    FileSizeLimit limit(40);
    EXPECT_FALSE(w.Create(dir.File("none.wav"), Pcm(2, 44100, 16)));
  }
  EXPECT_EQ(w.Message(), dir.File("none.wav") + "にRIFFチャンクを作成できません!");
  struct stat st;
  EXPECT_NE(stat(dir.File("none.wav").c_str(), &st), 0);
}

// Past 4 GiB for real (sparse, so quick where the file system allows holes).
// Run by the "long" ctest label, which sets MX_LONG_TESTS.
TEST(WaveWriterLong, FullSizeRf64) {
  if (!std::getenv("MX_LONG_TESTS")) GTEST_SKIP() << "long test: ctest -L long";
  ScratchDir dir;
  const std::string path = dir.File("big.wav"), tail = Pattern(4000);
  const uint64_t zeros = (4ull << 30) + 4;
  {
    WaveWriter w;
    ASSERT_TRUE(w.Create(path, Pcm(2, 48000, 16)));
    ASSERT_TRUE(w.AppendZeros(zeros));
    ASSERT_TRUE(w.Append(tail.data(), tail.size()));
    ASSERT_TRUE(w.Finish()) << w.Message();
    EXPECT_TRUE(w.Rf64());
  }
  WaveReader reader;
  std::string message;
  ASSERT_TRUE(reader.Open(path, kWaveNeedPcm, &message)) << message;
  EXPECT_TRUE(reader.Info().rf64);
  EXPECT_EQ(reader.Info().dataBytes, zeros + tail.size());
  std::string back(tail.size() + 4, 'x');
  ASSERT_EQ(reader.ReadData(zeros - 4, back.data(), back.size() + 10), static_cast<int64_t>(back.size()));
  EXPECT_TRUE(back == std::string(4, '\0') + tail);
  EXPECT_EQ(ProbeSamples(path), static_cast<long>((zeros + tail.size()) / 4));
}

}  // namespace
