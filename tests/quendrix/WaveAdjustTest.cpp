#include "quendrix/WaveAdjust.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cmath>
#include <cstdio>

#include "QuendrixTestUtil.h"
#include "platform/AppState.h"
#include "platform/Paths.h"
#include "platform/Riff.h"

namespace {

// A block of frames as the algorithm sees it.
std::string Block(const Frames& frames, int bits = 16) {
  return Pcm(frames, bits);
}
Frames Mono(std::initializer_list<int> v) {
  Frames f;
  for (int x : v) f.push_back({x});
  return f;
}
SampleLayout Layout(int channels, int bits) {
  SampleLayout l;
  l.channels = static_cast<uint16_t>(channels);
  l.frameSize = static_cast<uint32_t>(channels * bits / 8);
  l.eightBit = bits == 8;
  return l;
}
Choice Choose(const Frames& frames, uint32_t k, uint32_t u, int bits = 16) {
  std::string b = Block(frames, bits);
  return ChoosePosition(reinterpret_cast<const uint8_t*>(b.data()), k, u,
                        Layout(static_cast<int>(frames[0].size()), bits));
}

TEST(QuendrixPeriod, RoundsAndRefuses) {
  EXPECT_EQ(PeriodOf(10000, 1), 10000u);
  EXPECT_EQ(PeriodOf(7, 2), 4u);  // 3.5 rounds up
  EXPECT_EQ(PeriodOf(6, 2), 3u);
  EXPECT_EQ(PeriodOf(4294967295u, 1), 4294967295u);
  EXPECT_EQ(CheckPeriod(10000, 1), nullptr);
  EXPECT_EQ(CheckPeriod(7, 2), nullptr);
  EXPECT_STREQ(CheckPeriod(6, 2), "4以上のサンプル数毎に1サンプル処理されるように設定して下さい!");
  EXPECT_STREQ(CheckPeriod(0, 1), "何サンプル毎に何サンプル処理するかを入力して下さい!");
  EXPECT_STREQ(CheckPeriod(100, 0), "何サンプル毎に何サンプル処理するかを入力して下さい!");
}

// Period 8 when shortening: candidates 4..6, the fall-back also 7.
TEST(QuendrixChoice, MonotonicLeastChangeWins) {
  Choice c = Choose(Mono({0, 0, 0, 0, 100, 101, 200, 400}), 8, 8);  // costs j6 299, j5 100, j4 101
  EXPECT_EQ(c.j, 5u);
  EXPECT_FALSE(c.fallback);
  c = Choose(Mono({0, 0, 0, 0, 10, 20, 30, 40}), 8, 8);  // all cost 20: the largest j
  EXPECT_EQ(c.j, 6u);
  // A flat step up is not monotonic through j (s[j-1] == s[j] < s[j+1]); a
  // rise onto a flat one is (s[j-1] < s[j] == s[j+1]).
  c = Choose(Mono({0, 0, 0, 0, 5, 5, 9, -50}), 8, 8);
  EXPECT_EQ(c.j, 4u);
  EXPECT_FALSE(c.fallback);
  // Frames below u / 2 are never candidates, however quiet.
  c = Choose(Mono({0, 0, 0, 0, 0, 5000, 9000, 9500}), 8, 8);
  EXPECT_EQ(c.j, 6u);
}

TEST(QuendrixChoice, EveryChannelMustBeMonotonic) {
  // Left rises throughout; right is monotonic only through frame 5.
  Frames f = {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {10, 100}, {20, 50}, {30, 0}, {40, 100}};
  Choice c = Choose(f, 8, 8);
  EXPECT_EQ(c.j, 5u);
  EXPECT_FALSE(c.fallback);
}

TEST(QuendrixChoice, QuietestFrameWhenAllAreExtrema) {
  Choice c = Choose(Mono({0, 0, 0, 0, 300, -200, 100, -100}), 8, 8);
  EXPECT_TRUE(c.fallback);
  EXPECT_EQ(c.j, 7u);  // 7 and 6 tie at 100²: the larger
  // Lengthening takes one frame fewer: 7 frames, fall-back over 4..6.
  c = Choose(Mono({0, 0, 0, 0, 300, -200, 100}), 7, 8);
  EXPECT_TRUE(c.fallback);
  EXPECT_EQ(c.j, 6u);
  // 8-bit amplitudes are the byte minus 128: byte 130 (2) is the quietest,
  // byte 0 (-128) the loudest.
  c = Choose(Mono({0, 0, 0, 0, 72, 2, 122, -128}), 8, 8, 8);
  EXPECT_TRUE(c.fallback);
  EXPECT_EQ(c.j, 5u);
}

// Every vector kernel (as far as this processor has them, down to the plain
// loops) must choose as the plain scan does. Blocks of odd and even lengths,
// long enough for several vector steps plus a partial one.
TEST(QuendrixChoice, VectorPathsAgreeWithThePlainScan) {
  uint32_t seed = 12345;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  const int extremes[] = {-32768, -32767, -1, 0, 1, 32766, 32767};
  int fallbacks = 0, planted = 0;
  for (VectorLevel limit : {VectorLevel::Avx512Bw, VectorLevel::Avx2, VectorLevel::Plain}) {
    CpuLevelCapScope cap(limit);
    for (int channels : {1, 2}) {
      for (int round = 0; round < 600; ++round) {
        const uint32_t u = 4 + next() % (round % 4 == 0 ? 40 : 300), k = u - (round & 1);
        const int kind = round % 6;
        Frames f(k);
        for (uint32_t i = 0; i < k; ++i) {
          for (int ch = 0; ch < channels; ++ch) {
            int v;
            if (kind <= 2) {  // small amplitudes make flats and ties; 32767 the full range
              int amp = kind == 0 ? 3 : kind == 1 ? 40 : 32767;
              v = static_cast<int>(next() % (2 * amp + 1)) - amp;
            } else if (kind == 3) {
              v = extremes[next() % 7];
            } else {  // a zig-zag: every frame an extremum, in one channel or all
              int zig = 100 + static_cast<int>(next() % 5);
              v = (i % 2 ? zig : -zig);
              if (ch == 1 && round % 12 >= 6) v = static_cast<int>(i) * 3;  // right monotonic throughout
            }
            f[i].push_back(v);
          }
        }
        // A full-scale zig-zag, -32768 and 32767 alternating on either side of
        // the planted frame p (0 between -32768 and 32767): p is the only
        // monotonic frame, at the largest cost one channel can have.
        uint32_t plant = 0;
        if (kind == 5 && k - 2 >= u / 2) {
          plant = u / 2 + next() % (k - 1 - u / 2);
          for (uint32_t i = 0; i < k; ++i) {
            int v = i == plant  ? 0
                    : i < plant ? ((plant - 1 - i) % 2 ? 32767 : -32768)
                                : ((i - plant - 1) % 2 ? -32768 : 32767);
            for (int ch = 0; ch < channels; ++ch) f[i][ch] = ch == 1 && round % 12 >= 6 ? f[i][ch] : v;
          }
        }
        std::string b = Pcm(f, 16);
        auto p = reinterpret_cast<const uint8_t*>(b.data());
        Choice fast = ChoosePosition(p, k, u, Layout(channels, 16));
        Choice plain = ChoosePositionPlain(p, k, u, Layout(channels, 16));
        ASSERT_EQ(fast.j, plain.j) << VectorLevelName(limit) << " round " << round << " channels "
                                   << channels;
        ASSERT_EQ(fast.fallback, plain.fallback)
            << VectorLevelName(limit) << " round " << round << " channels " << channels;
        if (plant) {
          EXPECT_FALSE(plain.fallback);
          EXPECT_EQ(plain.j, plant);
          ++planted;
        }
        fallbacks += plain.fallback;
      }
    }
  }
  // The blocks did reach both ways out: all extrema, and the planted frame.
  EXPECT_GT(fallbacks, 300);
  EXPECT_GT(planted, 100);
}

TEST(QuendrixListLine, Columns) {
  std::string mono = Pcm({{-7}}, 16), stereo = Pcm({{-32768, 32767}}, 16), eight = Pcm({{0, 127}}, 8);
  auto p = [](const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); };
  EXPECT_EQ(ListLine(12345, false, p(mono), Layout(1, 16)), "    12345      -7");
  EXPECT_EQ(ListLine(5, true, p(stereo), Layout(2, 16)), "        5* -32768  32767");
  EXPECT_EQ(ListLine(1234567890, false, p(eight), Layout(2, 8)), "1234567890       0    127");
}

TEST(QuendrixNames, OutputAndLog) {
  EXPECT_EQ(OutputName("/rec/SONG.WAV", false), "SONG-.wav");
  EXPECT_EQ(OutputName("/rec/take.Wav", true), "take+.wav");
  EXPECT_EQ(OutputName("/rec/x.wave", false), "x.wave-.wav");
  EXPECT_EQ(OutputName("/rec/wav", false), "wav-.wav");
  EXPECT_EQ(OutputName("/rec/.wav", true), "+.wav");
  EXPECT_EQ(LogName("/out/a-.wav"), "/out/a-.log");
  EXPECT_EQ(LogName("/out/a.WAV"), "/out/a.log");
  EXPECT_EQ(LogName("/out/a.mp3"), "/out/a.mp3.log");
  EXPECT_EQ(LogName("/o.d/a"), "/o.d/a.log");
}

// ---- whole runs ----

// A signal whose changes are known in advance: every frame of a period is a
// local extremum (a zig-zag) except at the planned frame p, which repeats its
// neighbours (monotonic, cost 0); in every third period p is instead a tiny
// extremum, so no frame is monotonic and p is the quietest ("*").
struct Plan {
  Frames frames;
  std::vector<uint32_t> at;
  std::vector<bool> quiet;
};
Plan MakePlan(uint32_t u, uint32_t k, int periods, int tail, int channels, int amp) {
  Plan plan;
  for (int c = 0; c <= periods; ++c) {
    int n = c < periods ? static_cast<int>(k) : tail;
    Frames block;
    for (int i = 0; i < n; ++i) block.push_back({i % 2 ? amp - c % 7 : -amp + c % 5});
    if (c < periods) {
      uint32_t p = u / 2 + static_cast<uint32_t>(c) % (k - 1 - u / 2);
      bool quiet = c % 3 == 2;
      block[p][0] = quiet ? (p % 2 ? 3 : -3) : block[p - 1][0];
      plan.at.push_back(p);
      plan.quiet.push_back(quiet);
    }
    for (auto& f : block) {
      if (channels == 2) f.push_back(-f[0]);
      plan.frames.push_back(f);
    }
  }
  return plan;
}

struct Outcome {
  AdjustStatus status;
  std::vector<std::string> lines;
  std::vector<FileDialogRequest> requests;
};

Outcome RunAdjust(const std::string& in, const std::string& out, const AdjustOptions& o,
                  AdjustSession* session = nullptr) {
  Outcome r;
  AdjustCallbacks cb;
  cb.chooseOutput = [&](const FileDialogRequest& req, std::string* path) {
    r.requests.push_back(req);
    *path = out;
    return !out.empty();
  };
  cb.addLine = [&](const std::string& line) { r.lines.push_back(line); };
  r.status = AdjustWave(in, o, session, cb);
  return r;
}

std::string DataOf(const std::string& wave) {
  size_t at = wave.find("data");
  return at == std::string::npos ? "" : wave.substr(at + 8, GetLE32(wave.data() + at + 4));
}

struct Case {
  int channels, bits;
  bool extend, keep;
};
class QuendrixRun : public ::testing::TestWithParam<Case> {};

TEST_P(QuendrixRun, ChangesThePlannedFramesOnly) {
  const Case p = GetParam();
  ScratchDir dir;
  RecordingHost host;
  const uint32_t u = 11, k = p.extend ? u - 1 : u, f = static_cast<uint32_t>(p.channels * p.bits / 8);
  const int periods = 7, tail = 4;
  Plan plan = MakePlan(u, k, periods, tail, p.channels, p.bits == 8 ? 90 : 12000);
  const std::string input = Pcm(plan.frames, p.bits);
  const long n = static_cast<long>(plan.frames.size());
  WriteFileBytes(dir.File("in.wav"),
                 MakeWave(static_cast<uint16_t>(p.channels), 8000, static_cast<uint16_t>(p.bits), input));
  // N / M = 22 / 2 rounds to the period 11.
  AdjustOptions o{22, 2, p.extend, p.keep};
  Outcome r = RunAdjust(dir.File("in.wav"), dir.File("out.wav"), o);
  ASSERT_EQ(r.status, AdjustStatus::Ok);
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_EQ(host.beeps, 1);

  // Expected data: each changed block with frame p removed or repeated; when
  // the length is kept, lengthening stops changing once a whole changed
  // block no longer fits, and shortening is padded with zero bytes.
  const long changes = p.keep && p.extend ? n / u : periods;
  std::string expect;
  std::vector<std::string> lines;
  for (long c = 0; c < changes; ++c) {
    std::string block = input.substr(c * k * f, k * f);
    uint32_t at = plan.at[c];
    if (p.extend)
      block.insert(at * f, block.substr(at * f, f));
    else
      block.erase(at * f, f);
    expect += block;
    const auto& v = plan.frames[c * k + at];
    char line[64];
    if (p.channels == 2)
      std::snprintf(line, sizeof line, "%9lu%c %6d %6d", c * u + at, plan.quiet[c] ? '*' : ' ', v[0], v[1]);
    else
      std::snprintf(line, sizeof line, "%9lu%c %6d", c * u + at, plan.quiet[c] ? '*' : ' ', v[0]);
    lines.push_back(line);
  }
  expect += input.substr(changes * k * f);
  if (p.keep) expect.resize(input.size(), '\0');
  EXPECT_EQ(r.lines, lines);
  EXPECT_EQ(DataOf(ReadFileBytes(dir.File("out.wav"))), expect);

  const long outFrames = p.keep ? n : p.extend ? n + periods : n - periods;
  SoxInfo info = Sox(dir.File("out.wav"));
  EXPECT_EQ(info.samples, outFrames);
  EXPECT_EQ(info.channels, p.channels);
}

INSTANTIATE_TEST_SUITE_P(Layouts, QuendrixRun,
                         ::testing::Values(Case{1, 16, false, false}, Case{2, 16, false, false},
                                           Case{1, 8, false, false}, Case{2, 8, true, false},
                                           Case{2, 16, true, false}, Case{1, 16, false, true},
                                           Case{2, 8, false, true}, Case{2, 16, true, true},
                                           Case{1, 8, true, true}));

TEST(QuendrixRunEdges, ShortDataCopiedUnchanged) {
  ScratchDir dir;
  RecordingHost host;
  std::string data = Pcm(MakePlan(10, 10, 0, 9, 2, 500).frames, 16);  // 9 frames < one period
  WriteFileBytes(dir.File("in.wav"), MakeWave(2, 44100, 16, data));
  for (bool keep : {false, true}) {
    Outcome r = RunAdjust(dir.File("in.wav"), dir.File("out.wav"), {10, 1, false, keep});
    ASSERT_EQ(r.status, AdjustStatus::Ok);
    EXPECT_TRUE(r.lines.empty());
    EXPECT_EQ(ReadFileBytes(dir.File("out.wav")), ReadFileBytes(dir.File("in.wav")));
  }
}

TEST(QuendrixRunEdges, LongPeriodAndSmallBuffersGiveTheSameFile) {
  ScratchDir dir;
  RecordingHost host;
  // Three seconds of a sweep at 10000 frames per period: each period has its
  // own monotonic choice; the data is read through buffers of one period and
  // of the default size.
  std::string data;
  for (int i = 0; i < 3 * 48000; ++i) {
    double t = i / 48000.0;
    Put16(data, static_cast<uint16_t>(static_cast<int16_t>(9000 * std::sin(2 * M_PI * (200 + 300 * t) * t))));
    Put16(data, static_cast<uint16_t>(static_cast<int16_t>(7000 * std::cos(2 * M_PI * 310 * t))));
  }
  WriteFileBytes(dir.File("in.wav"), MakeWave(2, 48000, 16, data));
  Outcome big = RunAdjust(dir.File("in.wav"), dir.File("big.wav"), {10000, 1, false, false});
  size_t saved = gAdjustChunkBytes;
  gAdjustChunkBytes = 1;
  Outcome small = RunAdjust(dir.File("in.wav"), dir.File("small.wav"), {10000, 1, false, false});
  gAdjustChunkBytes = saved;
  ASSERT_EQ(big.status, AdjustStatus::Ok);
  ASSERT_EQ(small.status, AdjustStatus::Ok);
  EXPECT_EQ(big.lines.size(), 14u);  // 144000 / 10000
  EXPECT_EQ(big.lines, small.lines);
  EXPECT_EQ(ReadFileBytes(dir.File("big.wav")), ReadFileBytes(dir.File("small.wav")));
  EXPECT_EQ(Sox(dir.File("big.wav")).samples, 144000 - 14);
  for (size_t i = 0; i < big.lines.size(); ++i) {
    unsigned long pos = std::stoul(big.lines[i]);
    EXPECT_GE(pos, i * 10000 + 5000);
    EXPECT_LE(pos, i * 10000 + 9998);
  }
}

TEST(QuendrixRunEdges, SaveRequestAndRememberedFolder) {
  ScratchDir dir;
  RecordingHost host;
  ASSERT_EQ(mkdir(dir.File("out").c_str(), 0755), 0);
  WriteFileBytes(dir.File("TAKE.WAV"), MakeWave(1, 8000, 16, std::string(400, '\0')));
  AdjustSession session;
  Outcome r = RunAdjust(dir.File("TAKE.WAV"), dir.File("out/x.wav"), {100, 1, false, false}, &session);
  ASSERT_EQ(r.requests.size(), 1u);
  EXPECT_EQ(r.requests[0].title, "WAVE短縮保存ファイル名入力");
  EXPECT_EQ(r.requests[0].initialDir, dir.path());
  EXPECT_EQ(r.requests[0].initialName, "TAKE-.wav");
  ASSERT_EQ(r.requests[0].filters.size(), 1u);
  EXPECT_EQ(r.requests[0].filters[0].first, "WAVEファイル");
  EXPECT_EQ(r.requests[0].filters[0].second, "*.wav");
  EXPECT_TRUE(r.requests[0].save && r.requests[0].overwritePrompt);
  EXPECT_EQ(session.lastOutput, dir.File("out/x.wav"));

  r = RunAdjust(dir.File("TAKE.WAV"), "", {100, 1, true, false}, &session);  // cancelled
  EXPECT_EQ(r.status, AdjustStatus::Failed);
  EXPECT_EQ(r.requests[0].title, "WAVE延長保存ファイル名入力");
  EXPECT_EQ(r.requests[0].initialDir, dir.File("out/"));
  EXPECT_EQ(r.requests[0].initialName, "TAKE+.wav");
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "出力ファイル名の入力がキャンセルされました!");
  EXPECT_EQ(host.boxes[0].caption, "Quendrix");
  EXPECT_EQ(host.boxes[0].style, static_cast<unsigned>(MB_ICONQUESTION));
}

TEST(QuendrixRunEdges, RefusedPeriodTouchesNothing) {
  ScratchDir dir;
  RecordingHost host;
  WriteFileBytes(dir.File("in.wav"), MakeWave(1, 8000, 16, std::string(400, '\0')));
  Outcome r = RunAdjust(dir.File("in.wav"), dir.File("out.wav"), {6, 2, false, false});
  EXPECT_EQ(r.status, AdjustStatus::Refused);
  EXPECT_TRUE(r.requests.empty());
  EXPECT_FALSE(FileExists(dir.File("out.wav")));
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "4以上のサンプル数毎に1サンプル処理されるように設定して下さい!");
}

TEST(QuendrixRunEdges, InputIsNeverTheOutput) {
  ScratchDir dir;
  RecordingHost host;
  const std::string wave = MakeWave(1, 8000, 16, std::string(4000, '\x11'));
  WriteFileBytes(dir.File("in.wav"), wave);
  ASSERT_EQ(symlink(dir.File("in.wav").c_str(), dir.File("link.wav").c_str()), 0);
  for (const char* out : {"in.wav", "link.wav"}) {
    host.boxes.clear();
    Outcome r = RunAdjust(dir.File("in.wav"), dir.File(out), {100, 1, false, false});
    EXPECT_EQ(r.status, AdjustStatus::Failed);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text,
              dir.File(out) + "は入力ファイルと同じです。別のファイル名を指定して下さい!");
    EXPECT_EQ(ReadFileBytes(dir.File("in.wav")), wave);
  }
}

TEST(QuendrixRunEdges, OtherChunksAreSkippedAndFmtKeptAsIs) {
  ScratchDir dir;
  RecordingHost host;
  // An 18-byte fmt (with cbSize), odd-sized chunks before and after "data".
  std::string fmt;
  Put16(fmt, 1), Put16(fmt, 1), Put32(fmt, 8000), Put32(fmt, 16000), Put16(fmt, 2), Put16(fmt, 16),
      Put16(fmt, 0);
  Plan plan = MakePlan(8, 8, 3, 5, 1, 3000);
  std::string data = Pcm(plan.frames, 16);
  std::string body = "WAVE" + ListChunk("LIST", "INFO", Chunk("INAM", "odd")) + Chunk("fmt ", fmt) +
                     Chunk("junk", std::string(5, 'j')) + Chunk("data", data) + Chunk("note", "x");
  WriteFileBytes(dir.File("in.wav"), Chunk("RIFF", body));
  Outcome r = RunAdjust(dir.File("in.wav"), dir.File("out.wav"), {8, 1, false, false});
  ASSERT_EQ(r.status, AdjustStatus::Ok);
  EXPECT_EQ(r.lines.size(), 3u);
  std::string shortened = data;
  for (int c = 2; c >= 0; --c) shortened.erase((c * 8 + plan.at[c]) * 2, 2);
  std::string expect = "WAVE" + Chunk("fmt ", fmt) + Chunk("data", shortened);
  EXPECT_EQ(ReadFileBytes(dir.File("out.wav")).substr(8), expect);
  EXPECT_EQ(Sox(dir.File("out.wav")).samples, 29 - 3);
}

TEST(QuendrixRunEdges, DamagedInputsGetAClearMessage) {
  ScratchDir dir;
  RecordingHost host;
  std::string good = MakeWave(2, 8000, 16, Pcm(MakePlan(8, 8, 4, 0, 2, 3000).frames, 16));
  std::string fmt16;
  auto fmtWith = [](uint16_t channels, uint32_t rate, uint32_t avg, uint16_t align) {
    std::string f;
    Put16(f, 1), Put16(f, channels), Put32(f, rate), Put32(f, avg), Put16(f, align), Put16(f, 16);
    return f;
  };
  auto wave = [](const std::string& fmt, const std::string& data) {
    return Chunk("RIFF", "WAVE" + Chunk("fmt ", fmt) + Chunk("data", data));
  };
  const std::string in = dir.File("in.wav");
  struct Bad {
    std::string bytes, message;
  } cases[] = {
      {"", in + "はWAVEファイルではありません!"},
      {Chunk("RIFF", "AVI " + Chunk("fmt ", "x")), in + "はWAVEファイルではありません!"},
      {Chunk("RIFF", "WAVE" + Chunk("data", "abcd")), in + "はfmtチャンクがありません!"},
      {good.substr(0, 30), in + "のfmt読み出しに失敗しました!"},
      {Chunk("RIFF", "WAVE" + Chunk("fmt ", fmtWith(2, 8000, 32000, 4))), in + "はdataチャンクがありません!"},
      {wave("short", "abcd"), in + "のfmtチャンクが短すぎます(5バイト)!"},
      {wave(fmtWith(0, 8000, 32000, 4), "abcd"),
       in + "は処理できない形式です(チャンネル数 0, ブロックサイズ 4, 毎秒 32000/8000バイト)!"},
      {wave(fmtWith(2, 8000, 32000, 0), "abcd"),
       in + "は処理できない形式です(チャンネル数 2, ブロックサイズ 0, 毎秒 32000/8000バイト)!"},
      {wave(fmtWith(2, 0, 32000, 4), "abcd"),
       in + "は処理できない形式です(チャンネル数 2, ブロックサイズ 4, 毎秒 32000/0バイト)!"},
      {wave(fmtWith(4, 8000, 24000, 3), "abcd"),
       in + "は処理できない形式です(チャンネル数 4, ブロックサイズ 3, 毎秒 24000/8000バイト)!"},
  };
  for (const Bad& b : cases) {
    host.boxes.clear();
    WriteFileBytes(in, b.bytes);
    unlink(dir.File("out.wav").c_str());
    Outcome r = RunAdjust(in, dir.File("out.wav"), {8, 1, false, false});
    EXPECT_EQ(r.status, AdjustStatus::Failed);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, b.message);
    EXPECT_TRUE(r.requests.empty()) << b.message;  // refused before the output is asked for
  }
  for (std::string bad : {dir.File("missing.wav"), std::string("/dev/zero"), dir.path()}) {
    host.boxes.clear();
    RunAdjust(bad, dir.File("out.wav"), {8, 1, false, false});
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, bad + "がオープンできません!");
  }
}

TEST(QuendrixRunEdges, TruncatedDataIsProcessedAsFarAsItGoes) {
  ScratchDir dir;
  RecordingHost host;
  Plan plan = MakePlan(8, 8, 6, 0, 2, 3000);
  std::string full = MakeWave(2, 8000, 16, Pcm(plan.frames, 16));
  // Cut in the middle of the fifth period (and of a frame).
  std::string cut = full.substr(0, 44 + 4 * 8 * 4 + 13);
  WriteFileBytes(dir.File("in.wav"), cut);
  Outcome r = RunAdjust(dir.File("in.wav"), dir.File("out.wav"), {8, 1, false, false});
  EXPECT_EQ(r.status, AdjustStatus::Failed);
  EXPECT_EQ(r.lines.size(), 4u);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text,
            dir.File("in.wav") +
                "のdataチャンクはファイルの終わりで切れています(141/192バイト)。ある分だけを処理しました!");
  EXPECT_EQ(Sox(dir.File("out.wav")).samples, 4 * 7 + 3);
}

TEST(QuendrixRunEdges, AbortAndWriteFailureLeaveValidFiles) {
  ScratchDir dir;
  RecordingHost host;
  WriteFileBytes(dir.File("in.wav"), MakeWave(1, 8000, 16, Pcm(MakePlan(10, 10, 50, 0, 1, 3000).frames, 16)));
  host.onPump = [](int n) {
    if (n == 3) ME.fAbort = 1;
  };
  Outcome r = RunAdjust(dir.File("in.wav"), dir.File("out.wav"), {10, 1, false, false});
  host.onPump = nullptr;
  EXPECT_EQ(r.status, AdjustStatus::Aborted);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "中止されました.");
  EXPECT_EQ(r.lines.size(), 3u);
  EXPECT_EQ(Sox(dir.File("out.wav")).samples, 3 * 9);

  // A disk that fills up half-way: the data chunk holds what got through.
  std::string big = MakeWave(1, 8000, 16, Pcm(MakePlan(10, 10, 5000, 0, 1, 3000).frames, 16));
  WriteFileBytes(dir.File("big.wav"), big);
  host.boxes.clear();
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  struct rlimit small = saved;
  small.rlim_cur = 20000;
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  r = RunAdjust(dir.File("big.wav"), dir.File("full.wav"), {10, 1, false, false});
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(r.status, AdjustStatus::Failed);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, dir.File("full.wav") + "のdata書き込みに失敗しました!");
  long got = Sox(dir.File("full.wav")).samples;
  EXPECT_GT(got, 0);
  EXPECT_LE(got, 10000);
  EXPECT_EQ(static_cast<long>(ReadFileBytes(dir.File("full.wav")).size()), 44 + 2 * got);
}

TEST(QuendrixRunEdges, HugePeriodIsAMemoryMessage) {
  ScratchDir dir;
  RecordingHost host;
  WriteFileBytes(dir.File("in.wav"), MakeWave(2, 8000, 16, std::string(400, '\0')));
  Outcome r = RunAdjust(dir.File("in.wav"), dir.File("out.wav"), {4000000000u, 1, false, false});
  EXPECT_EQ(r.status, AdjustStatus::Failed);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "メモリが確保できません.");
}

}  // namespace
