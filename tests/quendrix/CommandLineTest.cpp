// The headless form, run as users run it: the built program with arguments.
#include <gtest/gtest.h>

#include <cmath>

#include "QuendrixTestUtil.h"
#include "platform/Paths.h"

namespace {

struct Ran {
  int status;
  std::string out, err;
};
Ran Quendrix(const ScratchDir& dir, const std::string& args) {
  Ran r;
  r.status =
      RunCommand(std::string(QUENDRIX_EXE) + " " + args + " 2>'" + dir.File("stderr.txt") + "'", &r.out);
  r.err = ReadFileBytes(dir.File("stderr.txt"));
  return r;
}
size_t Lines(const std::string& s) {
  return static_cast<size_t>(std::count(s.begin(), s.end(), '\n'));
}

// 1.5 s of a stereo chord at 8 kHz: 12000 frames.
std::string Chord() {
  std::string d;
  for (int i = 0; i < 12000; ++i) {
    Put16(d, static_cast<uint16_t>(static_cast<int16_t>(8000 * std::sin(i * 0.071))));
    Put16(d, static_cast<uint16_t>(static_cast<int16_t>(6000 * std::sin(i * 0.113 + 1))));
  }
  return MakeWave(2, 8000, 16, d);
}

TEST(QuendrixCommandLine, ProcessesWithoutAWindow) {
  ScratchDir dir;
  WriteFileBytes(dir.File("in.wav"), Chord());
  Ran r = Quendrix(dir, "--output " + dir.File("out.wav") + " --range 1000 " + dir.File("in.wav"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(Lines(r.out), 12u);  // one line per 1000 frames
  // "%9lu%c %6hd %6hd": the first change lies in the second half of the first period.
  unsigned long pos = std::stoul(r.out.substr(0, 9));
  EXPECT_GE(pos, 500u);
  EXPECT_LT(pos, 1000u);
  EXPECT_EQ(r.out.find('\n'), 24u);
  EXPECT_EQ(Sox(dir.File("out.wav")).samples, 12000 - 12);
  EXPECT_FALSE(FileExists(dir.File("Quendrix.ini")));  // settings untouched

  r = Quendrix(dir, "--output=" + dir.File("long.wav") + " --range 4001 --dispose 2 --extend --keep-size " +
                        dir.File("in.wav"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out), 5u);  // u = 2001 (2000.5 rounded up); a changed block must fit in 12000
  EXPECT_EQ(Sox(dir.File("long.wav")).samples, 12000);
}

TEST(QuendrixCommandLine, DefaultsComeFromTheSavedSettings) {
  ScratchDir dir;
  const std::string ini = "[Setting]\nRange=3000\nDispose=1\nExtend=1\nKeepSize=0\n";
  WriteFileBytes(dir.File("Quendrix.ini"), ini);
  WriteFileBytes(dir.File("in.wav"), Chord());
  Ran r = Quendrix(dir, "--output " + dir.File("out.wav") + " " + dir.File("in.wav"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out), 4u);  // lengthening reads 2999 frames per period
  EXPECT_EQ(Sox(dir.File("out.wav")).samples, 12004);
  r = Quendrix(dir, "--output " + dir.File("out.wav") + " --shorten " + dir.File("in.wav"));
  EXPECT_EQ(Sox(dir.File("out.wav")).samples, 11996);
  EXPECT_EQ(ReadFileBytes(dir.File("Quendrix.ini")), ini);
}

TEST(QuendrixCommandLine, FailuresExitWithOneAndAMessage) {
  ScratchDir dir;
  WriteFileBytes(dir.File("in.wav"), Chord());
  Ran r = Quendrix(dir, "--output " + dir.File("out.wav") + " --range 6 --dispose 2 " + dir.File("in.wav"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("4以上のサンプル数毎に1サンプル処理されるように設定して下さい!"), std::string::npos);
  EXPECT_FALSE(FileExists(dir.File("out.wav")));

  r = Quendrix(dir, "--output " + dir.File("in.wav") + " " + dir.File("in.wav"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("は入力ファイルと同じです"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(dir.File("in.wav")), Chord());

  r = Quendrix(dir, "--output " + dir.File("out.wav") + " " + dir.File("none.wav"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(dir.File("none.wav") + "がオープンできません!"), std::string::npos);

  for (const char* bad : {"--range x --output o.wav i.wav", "--frobnicate", "--range 5 in.wav", "--output"}) {
    r = Quendrix(dir, bad);
    EXPECT_EQ(r.status, 1) << bad;
    EXPECT_NE(r.err.find("see --help"), std::string::npos) << bad;
  }
  r = Quendrix(dir, "--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("--output"), std::string::npos);
}

}  // namespace
