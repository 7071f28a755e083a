// ReadFrame over synthetic files (hand-built pixels, null frames, damaged
// chunks, several files) and over files the ffmpeg tool makes, whose frames
// are compared with ffmpeg's own decode; navigation over the frames.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

extern "C" {
#include <libavutil/md5.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../avi/AviTestUtil.h"
#include "avi/AviReader.h"
#include "frame/Capture.h"
#include "frame/FrameMd5.h"
#include "frame/FrameReader.h"
#include "frame/Navigation.h"
#include "frame/ViewState.h"

namespace {

// What the shown capture tells the window, kept for the checks.
struct RecordingWindow : FrameWindow {
  uint32_t scrolled = 999;
  std::string box, static30006, static30007;
  void SetScrollPosition(uint32_t frame) override { scrolled = frame; }
  void SetFrameNumberBox(const std::string& t) override { box = t; }
  void SetStatic30006(const std::string& t) override { static30006 = t; }
  void SetStatic30007(const std::string& t) override { static30007 = t; }
};

// The capture of the running test (the helpers below read its pool).
ShownCapture* shown = nullptr;
OpenAviTable& T() {
  return shown->table;
}
FrameReader& R() {
  return shown->reader;
}
Navigation& N() {
  return shown->navigation;
}
ViewState& V() {
  return shown->view;
}

struct FrameEnv {
  RecordingHost host;
  ScratchDir dir;
  ShownCapture capture;
  RecordingWindow window;
  FrameEnv() {
    shown = &capture;
    capture.SetWindow(&window);
  }
  ~FrameEnv() { shown = nullptr; }
  // Starts again with an empty table.
  void Reset() {
    T().CloseAllOpenAvi();
    R().FreeBuffers();
  }
  // Opens `paths` as the table (first as the main file, the rest appended)
  // and sets up the buffers as the view does.
  bool Open(const std::vector<std::string>& paths) {
    if (!T().OpenNamedFile(paths[0])) return false;
    if (paths.size() > 1) {
      std::vector<std::string> rest(paths.begin() + 1, paths.end());
      if (!T().OpenChosenFiles(40001, nullptr, rest)) return false;
    }
    R().ForgetFrameReaders();
    const BitmapInfoHeader& bi = T().pOpenAviList[0].biDecoded;
    return R().AllocateBuffers(bi.biWidth, std::abs(bi.biHeight));
  }
  std::string Status0() const { return host.status[0].empty() ? "" : host.status[0].back(); }
};

uint8_t* Current() {
  return R().framePool.Slot(kCurrentFrame);
}

bool AllZero(const uint8_t* p, size_t n) {
  return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

// ffmpeg's decode of every frame as bottom-up bgr24 rows of 3·W bytes.
std::string FfmpegFrames(const std::string& path) {
  std::string out;
  RunCommand("ffmpeg -v error -i '" + path + "' -vf vflip -pix_fmt bgr24 -f rawvideo -", &out);
  return out;
}

// Row-by-row copy of our frame without the stride padding.
std::string Packed(const uint8_t* frame) {
  const FrameGeometry& g = R().framePool.geometry;
  std::string s;
  for (int r = 0; r < g.height; ++r)
    s.append(reinterpret_cast<const char*>(frame + g.stride * static_cast<size_t>(r)), g.lineBytes);
  return s;
}

int MaxDifference(const std::string& a, const std::string& b) {
  int worst = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    worst = std::max(worst, std::abs(static_cast<uint8_t>(a[i]) - static_cast<uint8_t>(b[i])));
  return worst;
}

std::string MakeWithFfmpeg(const ScratchDir& dir, const std::string& name, const std::string& args,
                           const std::string& source = "testsrc2=size=64x48:rate=25") {
  std::string path = dir.File(name);
  int rc = RunCommand("ffmpeg -v error -y -f lavfi -i " + source + " " + args + " '" + path + "'");
  return rc == 0 ? path : std::string();
}

// The digests `mirdex --framemd5` prints for `path`, in frame order (the
// line numbers are checked to run 0, 1, 2, ...), and its exit status.
std::vector<std::string> OurDigests(const std::string& path, int* status = nullptr) {
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  int rc = FrameMd5(path, out, err);
  if (status) *status = rc;
  std::fclose(err);
  std::rewind(out);
  std::vector<std::string> digests;
  char line[128];
  while (std::fgets(line, sizeof line, out)) {
    std::string text = line;
    size_t comma = text.find(',');
    EXPECT_EQ(text.substr(0, comma), std::to_string(digests.size()));
    digests.push_back(text.substr(comma + 1, 32));
  }
  std::fclose(out);
  return digests;
}

// ffmpeg's digests of the same frames, flipped to bottom-up 24-bit rows.
std::vector<std::string> FfmpegDigests(const std::string& path, const std::string& options = "") {
  std::string text;
  RunCommand("ffmpeg -v error -i '" + path + "' " + options +
                 " -vf vflip -pix_fmt bgr24 -f framemd5 - | grep -v '^#' | awk -F', *' '{print $6}'",
             &text);
  std::vector<std::string> digests;
  for (size_t at = 0, eol; (eol = text.find('\n', at)) != std::string::npos; at = eol + 1)
    digests.push_back(text.substr(at, eol - at));
  return digests;
}

}  // namespace

// Lossless codecs must agree byte for byte with ffmpeg; lossy ones are
// decoded by the same libavcodec, so they may differ only by the colour
// conversion (at most 2 per byte).
TEST(FrameReaderTest, DecodesLikeFfmpeg) {
  FrameEnv env;
  struct Case {
    const char* name;
    const char* args;
    int tolerance;
  } cases[] = {
      {"raw24.avi", "-frames:v 4 -c:v rawvideo -pix_fmt bgr24", 0},
      {"huff.avi", "-frames:v 4 -c:v huffyuv -pix_fmt rgb24", 0},
      {"ffv1.avi", "-frames:v 4 -c:v ffv1 -pix_fmt bgr0", 0},
      {"mjpeg.avi", "-frames:v 4 -c:v mjpeg -q:v 3", 2},
      {"mpeg4.avi", "-frames:v 12 -c:v mpeg4 -g 5 -bf 0", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = MakeWithFfmpeg(env.dir, c.name, c.args);
    ASSERT_FALSE(path.empty());
    std::string want = FfmpegFrames(path);
    ASSERT_TRUE(env.Open({path})) << BoxTexts(env.host);
    uint32_t total = T().TotalFrames();
    const FrameGeometry& g = R().framePool.geometry;
    size_t frameSize = g.lineBytes * static_cast<size_t>(g.height);
    ASSERT_EQ(want.size(), frameSize * total);
    for (uint32_t f = 0; f < total; ++f) {
      ASSERT_TRUE(R().ReadFrame(nullptr, Current(), nullptr, f, 0)) << env.Status0();
      EXPECT_LE(MaxDifference(Packed(Current()), want.substr(frameSize * f, frameSize)), c.tolerance) << f;
    }
  }
}

TEST(FrameReaderTest, FrameMd5MatchesFfmpegForLosslessFiles) {
  FrameEnv env;
  std::string path = MakeWithFfmpeg(env.dir, "huff.avi", "-frames:v 3 -c:v huffyuv -pix_fmt rgb24");
  ASSERT_FALSE(path.empty());
  int status = -1;
  std::vector<std::string> ours = OurDigests(path, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ours.size(), 3u);
  EXPECT_EQ(ours, FfmpegDigests(path));
  EXPECT_EQ(FrameMd5(env.dir.File("missing.avi"), stdout, stderr), 2);
}

// Random access into 30-frame GOPs gives the pixels of sequential decoding;
// a step forward costs one decode.
TEST(FrameReaderTest, RandomAccessMatchesSequentialDecoding) {
  FrameEnv env;
  std::string path = MakeWithFfmpeg(env.dir, "gop.avi", "-frames:v 70 -c:v mpeg4 -g 30 -bf 0");
  ASSERT_FALSE(path.empty());
  ASSERT_TRUE(env.Open({path}));
  std::vector<std::string> sequential;
  for (uint32_t f = 0; f < 70; ++f) {
    uint64_t before = R().FrameDecodeCount();
    ASSERT_TRUE(R().ReadFrame(nullptr, Current(), nullptr, f, 0));
    if (f > 0) {
      EXPECT_EQ(R().FrameDecodeCount() - before, 1u) << f;
    }
    sequential.push_back(Packed(Current()));
  }
  for (uint32_t f : {65u, 3u, 31u, 30u, 29u, 59u, 0u, 45u, 46u, 12u}) {
    ASSERT_TRUE(R().ReadFrame(nullptr, Current(), nullptr, f, 0));
    EXPECT_EQ(Packed(Current()), sequential[f]) << f;
  }
  // From a key frame back to a frame in the middle of the previous GOP
  // decodes that GOP up to the frame, no more.
  R().ReadFrame(nullptr, Current(), nullptr, 60, 0);
  uint64_t before = R().FrameDecodeCount();
  R().ReadFrame(nullptr, Current(), nullptr, 35, 0);
  EXPECT_EQ(R().FrameDecodeCount() - before, 6u);
}

// Two captures of different sizes and delta-frame streams read in turns, in
// sequence and by jumps: each keeps its own decoder position, pool and chunk
// buffer, so every frame is the one its file gives when read alone, and a
// step forward does not start again from a key frame.
TEST(FrameReaderTest, TwoCapturesReadInTurns) {
  FrameEnv env;
  std::string pathA = MakeWithFfmpeg(env.dir, "a.avi", "-frames:v 30 -c:v mpeg4 -g 12 -bf 0");
  std::string pathB = MakeWithFfmpeg(env.dir, "b.avi", "-frames:v 26 -c:v mpeg4 -g 12 -bf 2",
                                     "mandelbrot=size=80x64:rate=25");
  ASSERT_FALSE(pathA.empty());
  ASSERT_FALSE(pathB.empty());
  struct Side {
    std::string path;
    std::vector<std::string> want;
    Capture capture;
  } a{pathA, OurDigests(pathA), {}}, b{pathB, OurDigests(pathB), {}};
  ASSERT_EQ(a.want.size(), 30u);
  ASSERT_EQ(b.want.size(), 26u);
  for (Side* s : {&a, &b}) {
    ASSERT_TRUE(s->capture.table.OpenNamedFile(s->path)) << BoxTexts(env.host);
    const BitmapInfoHeader& bi = s->capture.table.pOpenAviList[0].biDecoded;
    ASSERT_TRUE(s->capture.reader.AllocateBuffers(bi.biWidth, std::abs(bi.biHeight)));
  }
  std::unique_ptr<AVMD5, void (*)(void*)> hash(av_md5_alloc(), av_free);
  AVMD5* md5 = hash.get();
  ASSERT_NE(md5, nullptr);
  auto check = [&](Side& s, uint32_t f) {
    FrameReader& r = s.capture.reader;
    uint8_t* frame = r.Slot(kCurrentFrame);
    ASSERT_TRUE(r.ReadFrame(nullptr, frame, nullptr, f, 0)) << s.path << " " << f;
    const FrameGeometry& g = r.framePool.geometry;
    av_md5_init(md5);
    for (int row = 0; row < g.height; ++row)
      av_md5_update(md5, frame + g.stride * static_cast<size_t>(row), g.lineBytes);
    uint8_t digest[16];
    av_md5_final(md5, digest);
    char hex[33];
    for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    EXPECT_EQ(hex, s.want[f]) << s.path << " frame " << f;
  };
  // In turns a step forward still costs each capture one decode.
  for (uint32_t f = 0; f < 26; ++f) {
    for (Side* s : {&a, &b}) {
      uint64_t before = s->capture.reader.FrameDecodeCount();
      check(*s, f);
      if (f > 0 && f < 24) {
        EXPECT_EQ(s->capture.reader.FrameDecodeCount() - before, 1u) << s->path << " " << f;
      }
    }
  }
  // Jumps into the middle of GOPs, backwards and across key frames; B also
  // to the frames stored after its key frames.
  const uint32_t jumpsA[] = {29, 5, 17, 11, 12, 0, 23, 24, 6};
  const uint32_t jumpsB[] = {3, 25, 13, 12, 0, 14, 24, 1, 10};
  for (size_t i = 0; i < std::size(jumpsA); ++i) {
    check(a, jumpsA[i]);
    check(b, jumpsB[i]);
  }
}

// B-frames stored after the frames they display before: the frames are
// ffmpeg's pictures in display order, in sequence or by jumps (also to the
// B-frames stored after a key frame), a step forward costing one decode.
// The same with the idx1 hidden, so that the rebuilt index flags every frame
// as key.
TEST(FrameReaderTest, ReorderedStreamInDisplayOrder) {
  FrameEnv env;
  std::string path = MakeWithFfmpeg(env.dir, "bf.avi", "-frames:v 40 -c:v mpeg4 -bf 2 -g 12");
  ASSERT_FALSE(path.empty());
  std::string want = FfmpegFrames(path);
  std::string bytes = ReadFileBytes(path);
  size_t idx1 = bytes.rfind("idx1");
  ASSERT_NE(idx1, std::string::npos);
  bytes.replace(idx1, 4, "JUNK");
  std::string scanned = env.dir.File("scanned.avi");
  ASSERT_TRUE(WriteFileBytes(scanned, bytes));
  T().openOptions.scanMissingIndexSilently = true;
  for (const std::string& file : {path, scanned}) {
    SCOPED_TRACE(file);
    ASSERT_TRUE(env.Open({file}));
    EXPECT_EQ(T().pOpenAviList[0].fAllKeyFrames, file == scanned ? 1 : 0);
    const FrameGeometry& g = R().framePool.geometry;
    size_t frameSize = g.lineBytes * static_cast<size_t>(g.height);
    ASSERT_EQ(want.size(), frameSize * 40);
    std::vector<std::string> sequential;
    for (uint32_t f = 0; f < 40; ++f) {
      uint64_t before = R().FrameDecodeCount();
      ASSERT_TRUE(R().ReadFrame(nullptr, Current(), nullptr, f, 0)) << env.Status0();
      if (f > 0 && f < 38) {
        EXPECT_EQ(R().FrameDecodeCount() - before, 1u) << f;
      }
      sequential.push_back(Packed(Current()));
      EXPECT_LE(MaxDifference(sequential.back(), want.substr(frameSize * f, frameSize)), 2) << f;
    }
    for (uint32_t f : {39u, 10u, 11u, 12u, 9u, 22u, 23u, 0u, 35u, 24u}) {
      ASSERT_TRUE(R().ReadFrame(nullptr, Current(), nullptr, f, 0));
      EXPECT_EQ(Packed(Current()), sequential[f]) << f;
    }
    env.Reset();
  }
}

// Real files with null chunks (flagged as key frames in our index): FMP4
// with null chunks after its first key frame, H.264 with B-frames and a null
// chunk among the first chunks. Without the null frames (black here, left
// out by ffmpeg) the digests are ffmpeg's, in order.
TEST(FrameReaderTest, SampleFramesWithNullChunksMatchFfmpegDigests) {
  FrameEnv env;
  for (const char* name : {"ffmpeg_mpeg4_mp3_idx1_audio_keyframe_flags_cleared.avi",
                           "ffmpeg_h264_mp3_audio_strh_length_too_large.avi"}) {
    SCOPED_TRACE(name);
    std::string path = SamplePath(name);
    // ffmpeg drops the null chunks; we show them black.
    std::vector<std::string> theirs = FfmpegDigests(path, "-map 0:v:0 -fps_mode passthrough");
    ASSERT_TRUE(env.Open({path}));
    const AviStreamSet& set = T().pOpenAviList[0].Set();
    std::string blackDigest;
    RunCommand("head -c " + std::to_string(R().framePool.geometry.lineBytes * R().framePool.geometry.height) +
                   " /dev/zero | md5sum | cut -c1-32",
               &blackDigest);
    blackDigest = blackDigest.substr(0, 32);
    int status = -1;
    std::vector<std::string> all = OurDigests(path, &status), ours;
    EXPECT_EQ(status, 0);
    ASSERT_EQ(all.size(), set.FrameMax);
    uint32_t nulls = 0;
    for (uint32_t n = 0; n < set.FrameMax; ++n) {
      if (IndexSize(set.pFrameIndex[n]) != 0) {
        ours.push_back(all[n]);
      } else {
        ++nulls;
        EXPECT_EQ(all[n], blackDigest) << n;
      }
    }
    EXPECT_GT(nulls, 0u);
    EXPECT_EQ(ours, theirs);
    env.Reset();
  }
}

// A 16-bit stream goes through our own converter; each frame's bytes are
// (frame + fill), so every pixel is that byte twice.
TEST(FrameReaderTest, UncompressedFormatsAndNullFrames) {
  FrameEnv env;
  AviBuildOptions o;
  o.width = 8;
  o.height = 4;
  o.bitCount = 16;
  o.frames = {AviFrame{64, true, false}, AviFrame{0, true, false}, AviFrame{64, true, false}};
  o.fill = 0xFF - 2;  // frame 2 is all 0xFF: white, which RGB555 makes 254
  std::string path = WriteAvi(env.dir, "rgb16.avi", BuildAvi(o));
  ASSERT_TRUE(env.Open({path})) << BoxTexts(env.host);
  const FrameGeometry& g = R().framePool.geometry;
  EXPECT_EQ(g.stride, 24u);
  ASSERT_TRUE(R().ReadFrame(nullptr, Current(), nullptr, 2, 0));
  for (int r = 0; r < 4; ++r)
    for (size_t i = 0; i < g.lineBytes; ++i) ASSERT_EQ(Current()[g.stride * r + i], 254) << r << "," << i;
  // Frame 0: 0xFDFD = 0 11111 11101 11101: red 31, green 15, blue 29.
  ASSERT_TRUE(R().ReadFrame(nullptr, Current(), nullptr, 0, 0));
  EXPECT_EQ(Current()[0], (29 * 33692) >> 12);
  EXPECT_EQ(Current()[1], (15 * 33692) >> 12);
  EXPECT_EQ(Current()[2], 254);
  // The null frame is black and a success.
  std::memset(Current(), 0x55, g.frameBytes);
  EXPECT_TRUE(R().ReadFrame(nullptr, Current(), nullptr, 1, 0));
  EXPECT_TRUE(AllZero(Current(), g.frameBytes));
  EXPECT_EQ(T().pOpenAviList[0].frameInfo.refKind, kRefLocated);
}

TEST(FrameReaderTest, FailuresLeaveBlackAndReportInTheStatusLine) {
  FrameEnv env;
  AviBuildOptions o;
  o.width = 16;
  o.height = 16;
  o.frames = {AviFrame{16 * 16 * 3, true, false}, AviFrame{100, true, false}};
  std::string path = WriteAvi(env.dir, "short.avi", BuildAvi(o));
  ASSERT_TRUE(env.Open({path}));
  const FrameGeometry& g = R().framePool.geometry;
  // A chunk shorter than the picture.
  std::memset(Current(), 0x55, g.frameBytes);
  EXPECT_FALSE(R().ReadFrame(nullptr, Current(), nullptr, 1, 0));
  EXPECT_TRUE(AllZero(Current(), g.frameBytes));
  EXPECT_EQ(env.Status0(), path + "のフレーム1(1)が24ビットRGBに変換できません!");
  EXPECT_EQ(T().pOpenAviList[0].fReadError, 1);
  EXPECT_TRUE(env.host.boxes.empty());
  // The position still moves so that the user sees which frame failed.
  EXPECT_EQ(R().currentFrame, 1u);
  EXPECT_TRUE(R().ReadFrame(nullptr, Current(), nullptr, 0, 0));
  EXPECT_EQ(T().pOpenAviList[0].fReadError, 0);
  EXPECT_FALSE(R().ReadFrame(nullptr, Current(), nullptr, 2, 0));
  EXPECT_EQ(env.Status0(), "フレームNoが不正です!");
  EXPECT_FALSE(R().ReadFrame(&T().pOpenAviList[0], Current(), nullptr, 2, 0));
  EXPECT_EQ(env.Status0(), path + "のフレームNoが不正です!");

  // A compressed stream whose chunks the decoder rejects.
  AviBuildOptions m;
  m.width = 32;
  m.height = 32;
  m.handler = "FMP4";
  m.compression = FourCC("FMP4");
  m.frames = Frames(2, 300);
  std::string bad = WriteAvi(env.dir, "bad.avi", BuildAvi(m));
  ASSERT_TRUE(env.Open({bad})) << BoxTexts(env.host);
  std::memset(Current(), 0x55, R().framePool.geometry.frameBytes);
  EXPECT_FALSE(R().ReadFrame(nullptr, Current(), nullptr, 1, 0));
  EXPECT_TRUE(AllZero(Current(), R().framePool.geometry.frameBytes));
  EXPECT_EQ(env.Status0(), bad + "のフレーム1(1)が伸張できません!");
}

TEST(FrameReaderTest, ReferenceChunksAreRecorded) {
  FrameEnv env;
  AviBuildOptions o;
  o.width = 16;
  o.height = 16;
  o.handler = "DIB ";
  o.frames = {AviFrame{16 * 16 * 3, true, false}};
  AviLayout layout = BuildAvi(o);
  std::string& b = layout.bytes;
  uint64_t at = layout.videoData[0];
  std::memcpy(&b[at], "RefCodec", 8);
  SetLe32(b, at + 8, 1234);
  SetLe32(b, at + 12, 0xC0000007u);
  std::memcpy(&b[at + 16], "other.avi", 10);
  std::string path = WriteAvi(env.dir, "ref.avi", layout);
  ASSERT_TRUE(env.Open({path}));
  R().ReadFrame(nullptr, Current(), nullptr, 0, 0);
  const FrameReadRecord& r = T().pOpenAviList[0].frameInfo;
  EXPECT_EQ(r.refKind, 2 + 4 + 8);
  EXPECT_EQ(r.refFrame, 1234u);
  EXPECT_EQ(r.refFrame2, 7u);
  EXPECT_EQ(r.refFileName, "other.avi");
  // A DV reference chunk naming a file that is not there: black, and the
  // decode message in the status line.
  AviBuildOptions d;
  d.width = 720;
  d.height = 480;
  d.handler = "cdvc";
  d.compression = FourCC("cdvc");
  d.frames = Frames(1, 280);
  AviLayout dv = BuildAvi(d);
  uint64_t r0 = dv.videoData[0];
  std::memcpy(&dv.bytes[r0], "REF ", 4);
  SetLe32(dv.bytes, r0 + 4, 3);
  std::memcpy(&dv.bytes[r0 + 16], "/nowhere/source.avi", 20);
  std::string dvPath = WriteAvi(env.dir, "dvref.avi", dv);
  ASSERT_TRUE(env.Open({dvPath})) << BoxTexts(env.host);
  std::memset(Current(), 0x55, R().framePool.geometry.frameBytes);
  EXPECT_FALSE(R().ReadFrame(nullptr, Current(), nullptr, 0, 0));
  EXPECT_TRUE(AllZero(Current(), R().framePool.geometry.frameBytes));
  EXPECT_EQ(T().pOpenAviList[0].frameInfo.refKind, kRefCdvc);
  EXPECT_EQ(T().pOpenAviList[0].frameInfo.refFileName, "/nowhere/source.avi");
  EXPECT_EQ(env.Status0(), dvPath + "のフレーム0(0)が伸張できません!");
  ASSERT_TRUE(env.Open({path}));
  R().ReadFrame(nullptr, Current(), nullptr, 0, 0);
  // Not recorded with RF_NO_RECORD.
  T().pOpenAviList[0].frameInfo.refKind = -5;
  R().ReadFrame(nullptr, Current(), nullptr, 0, RF_NO_RECORD);
  EXPECT_EQ(T().pOpenAviList[0].frameInfo.refKind, -5);
}

// Reference records keep names upper-cased: the files they name are found
// whatever the case on disk, along the stored path or beside the referring
// file, as long as exactly one name matches.
TEST(FrameReaderTest, UpperCasedReferenceNamesFindTheirFiles) {
  FrameEnv env;
  ASSERT_EQ(mkdir(env.dir.File("cap").c_str(), 0755), 0);
  std::string dv = MakeWithFfmpeg(env.dir, "cap/take.dv", "-frames:v 1 -c:v dvvideo -pix_fmt yuv411p -f dv",
                                  "testsrc=size=720x480:rate=30000/1001");
  ASSERT_FALSE(dv.empty());
  ASSERT_TRUE(WriteFileBytes(env.dir.File("take.dv"), ReadFileBytes(dv)));
  std::string stored = dv;
  std::transform(stored.begin(), stored.end(), stored.begin(),
                 [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
  AviBuildOptions o;
  o.width = 720;
  o.height = 480;
  o.handler = "dvrs";
  o.compression = FourCC("dvsd");
  o.frames = Frames(2, 300);
  AviLayout layout = BuildAvi(o);
  const std::string names[] = {stored, "C:\\CAPTURE\\TAKE.DV"};
  for (int i = 0; i < 2; ++i) {
    std::string record;
    Put32(record, 0);
    Put32(record, 0);
    Put32(record, 120000);
    record += names[i] + std::string(4, '\0');
    layout.bytes.replace(layout.videoData[static_cast<size_t>(i)], record.size(), record);
  }
  std::string path = WriteAvi(env.dir, "ref.avi", layout);
  ASSERT_TRUE(env.Open({path})) << BoxTexts(env.host);
  const std::string want = FfmpegFrames(dv);
  for (uint32_t f = 0; f < 2; ++f) {
    ASSERT_TRUE(R().ReadFrame(nullptr, Current(), nullptr, f, 0)) << env.Status0();
    EXPECT_LE(MaxDifference(Packed(Current()), want), 2) << f;
  }
  // A second name differing only in case: neither is taken.
  ASSERT_TRUE(WriteFileBytes(env.dir.File("cap/Take.dv"), ReadFileBytes(dv)));
  EXPECT_FALSE(R().ReadFrame(nullptr, Current(), nullptr, 0, 0));
  EXPECT_TRUE(R().ReadFrame(nullptr, Current(), nullptr, 1, 0));
}

// Global numbers across two files; the title changes only with the file;
// the field-split layout holds interleaved rows 1 and 0 at rows 0 and H/2.
TEST(FrameReaderTest, GlobalNumbersFlagsAndFieldLayout) {
  FrameEnv env;
  AviBuildOptions o;
  o.width = 4;
  o.height = 4;
  o.frames = Frames(3, 48);
  std::string a = WriteAvi(env.dir, "a.avi", BuildAvi(o));
  o.fill = 10;
  std::string b = WriteAvi(env.dir, "b.avi", BuildAvi(o));
  ASSERT_TRUE(env.Open({a, b})) << BoxTexts(env.host);
  ASSERT_EQ(T().TotalFrames(), 6u);
  int titles = 0;
  env.host.onTitle = [&] { ++titles; };
  uint32_t& scrolled = env.window.scrolled;
  ASSERT_TRUE(R().ReadFrame(nullptr, Current(), nullptr, 2, 0));
  EXPECT_EQ(titles, 0);
  ASSERT_TRUE(R().ReadFrame(nullptr, Current(), nullptr, 3, 0));  // frame 0 of the second file
  EXPECT_EQ(titles, 1);
  EXPECT_EQ(T().nOpenAviIndex, 1);
  EXPECT_EQ(T().dwFrameBase, 3u);
  EXPECT_EQ(Current()[0], 10);  // (0 + fill)
  EXPECT_EQ(T().pOpenAviList[1].frameInfo.localFrame, 0u);
  EXPECT_EQ(scrolled, 3u);
  R().ReadFrame(nullptr, Current(), nullptr, 4, 0);
  EXPECT_EQ(titles, 1);
  // Flags: keep the position, no scroll, no switch.
  R().ReadFrame(nullptr, Current(), nullptr, 0, RF_KEEP_POSITION | RF_NO_SCROLL | RF_NO_SWITCH);
  EXPECT_EQ(R().currentFrame, 4u);
  EXPECT_EQ(scrolled, 4u);
  EXPECT_EQ(T().nOpenAviIndex, 1);
  // Stale bookkeeping is recomputed from the first file.
  T().nOpenAviIndex = 7;
  ASSERT_TRUE(R().ReadFrame(nullptr, Current(), nullptr, 1, 0));
  EXPECT_EQ(T().nOpenAviIndex, 0);
  EXPECT_EQ(Current()[0], 1);

  // Rows of distinct values, field-split and swapped.
  AviBuildOptions f;
  f.width = 4;
  f.height = 4;
  f.frames = Frames(1, 48);
  AviLayout layout = BuildAvi(f);
  for (int r = 0; r < 4; ++r) std::memset(&layout.bytes[layout.videoData[0] + 12 * r], 100 + r, 12);
  std::string rows = WriteAvi(env.dir, "rows.avi", layout);
  ASSERT_TRUE(env.Open({rows}));
  R().mixedFields = false;
  ASSERT_TRUE(R().ReadFrame(nullptr, Current(), nullptr, 0, 0));
  EXPECT_EQ(Current()[0], 101);
  EXPECT_EQ(Current()[12 * 1], 103);
  EXPECT_EQ(Current()[12 * 2], 100);
  EXPECT_EQ(Current()[12 * 3], 102);
  ASSERT_TRUE(R().ReadFrame(nullptr, Current(), nullptr, 0, RF_SWAP_FIELDS));
  EXPECT_EQ(Current()[0], 100);
  EXPECT_EQ(Current()[12 * 2], 101);
  // A raw read gives the chunk bytes as stored.
  std::memset(Current(), 0, 48);
  ASSERT_TRUE(R().ReadFrame(nullptr, Current(), nullptr, 0, RF_RAW_INTO_DEST));
  EXPECT_EQ(Current()[12 * 3], 103);
  EXPECT_EQ(R().RawData(), Current());
  // A chunk larger than the 24-bit frame (32-bit pixels) is read whole.
  f.bitCount = 32;
  f.frames = Frames(1, 64);
  layout = BuildAvi(f);
  for (int i = 0; i < 64; ++i) layout.bytes[layout.videoData[0] + i] = static_cast<char>(i);
  env.Reset();
  ASSERT_TRUE(env.Open({WriteAvi(env.dir, "wide.avi", layout)}));
  ASSERT_TRUE(R().ReadFrame(nullptr, Current(), nullptr, 0, RF_RAW_INTO_DEST)) << env.Status0();
  ASSERT_EQ(R().RawSize(), 64u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(R().RawData()), 64),
            layout.bytes.substr(layout.videoData[0], 64));
}

// Every frame of every shared sample decodes or fails with one of the
// reader's messages, without a box.
TEST(FrameReaderTest, SampleFilesDecodeOrReport) {
  FrameEnv env;
  std::string folder = SamplePath("");
  DIR* d = opendir(folder.c_str());
  ASSERT_NE(d, nullptr);
  std::vector<std::string> names;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n.size() > 4 && n.substr(n.size() - 4) == ".avi") names.push_back(n);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  int opened = 0;
  for (const std::string& n : names) {
    SCOPED_TRACE(n);
    env.Reset();
    if (!T().OpenNamedFile(SamplePath(n)) || T().pOpenAviList[0].pbiVideo.size() < 40) continue;
    const BitmapInfoHeader& bi = T().pOpenAviList[0].biDecoded;
    if (!R().AllocateBuffers(bi.biWidth, std::abs(bi.biHeight))) continue;
    ++opened;
    size_t boxes = env.host.boxes.size();
    uint32_t total = T().TotalFrames();
    for (uint32_t f = 0; f < total; ++f) {
      env.host.status[0].clear();
      if (R().ReadFrame(nullptr, Current(), nullptr, f, 0)) continue;
      std::string s = env.Status0();
      bool known = s.find("が伸張できません!") != std::string::npos ||
                   s.find("が読み出せません!") != std::string::npos ||
                   s.find("が24ビットRGBに変換できません!") != std::string::npos ||
                   s.find("がシークできません!") != std::string::npos || T().pOpenAviList[0].fCodecFailed;
      EXPECT_TRUE(known) << f << ": " << s;
      EXPECT_TRUE(AllZero(Current(), R().framePool.geometry.frameBytes));
    }
    EXPECT_EQ(env.host.boxes.size(), boxes);
  }
  EXPECT_GE(opened, 8);
}

TEST(NavigationTest, StepsJumpsNumbersAndNullFrames) {
  FrameEnv env;
  AviBuildOptions o;
  o.width = 4;
  o.height = 4;
  o.rate = 30000;
  o.scale = 1001;
  o.frames = Frames(1900, 48);
  o.frames[1500].size = 0;
  std::string path = WriteAvi(env.dir, "long.avi", BuildAvi(o));
  ASSERT_TRUE(env.Open({path}));
  std::string &box = env.window.box, &static30007 = env.window.static30007,
              &static30006 = env.window.static30006;
  N().RecountFrames(5000);
  EXPECT_EQ(R().currentFrame, 1899u);
  EXPECT_EQ(static30006, "1899");
  EXPECT_TRUE(N().StepCommand(50606));
  EXPECT_EQ(R().currentFrame, 0u);
  EXPECT_FALSE(N().StepCommand(50606));  // Home at 0 does nothing
  EXPECT_FALSE(N().StepCommand(50607));
  EXPECT_TRUE(N().StepCommand(50600));
  EXPECT_TRUE(N().StepCommand(50603));
  EXPECT_EQ(R().currentFrame, 301u);
  EXPECT_EQ(box, "301");
  EXPECT_TRUE(N().GoToTypedFrame("10"));
  EXPECT_TRUE(N().StepCommand(50608));  // PgUp at 10 goes to 0
  EXPECT_EQ(R().currentFrame, 0u);
  EXPECT_TRUE(N().GoToTypedFrame("1894"));
  EXPECT_TRUE(N().StepCommand(50601));  // PgDn at T−5 goes to T−1
  EXPECT_EQ(R().currentFrame, 1899u);
  EXPECT_FALSE(N().StepCommand(50600));
  EXPECT_FALSE(N().StepCommand(50604));
  EXPECT_FALSE(N().GoToTypedFrame("1900"));
  EXPECT_FALSE(N().GoToTypedFrame("x"));
  EXPECT_EQ(R().currentFrame, 1899u);

  // Time code at 29.97 frames per second.
  ASSERT_TRUE(N().GoToTypedFrame("1799"));
  EXPECT_EQ(env.host.status[1].back(), "00:01:00:01");
  ASSERT_TRUE(N().GoToTypedFrame("1798"));
  EXPECT_EQ(env.host.status[1].back(), "00:00:59:30");

  // Relative numbering.
  ASSERT_TRUE(N().GoToTypedFrame("100"));
  N().RelativeNumberingCommand(41012);
  EXPECT_EQ(static30007, "＋");
  EXPECT_EQ(box, "0");
  ASSERT_TRUE(N().GoToTypedFrame("-10"));
  EXPECT_EQ(R().currentFrame, 90u);
  EXPECT_EQ(box, "-10");
  N().RelativeNumberingCommand(41013);
  EXPECT_EQ(box, "90");
  EXPECT_EQ(static30007, "");
  N().RelativeNumberingCommand(41014);
  EXPECT_EQ(N().relativeBase, 100u);

  // Next null frame, then none after it.
  EXPECT_TRUE(N().GoToNextNullFrame());
  EXPECT_EQ(R().currentFrame, 1500u);
  EXPECT_FALSE(N().GoToNextNullFrame());
  EXPECT_EQ(R().currentFrame, 1500u);
  EXPECT_EQ(env.Status0(), "ヌルフレームはこの先にありません.");
}

TEST(FramePoolTest, LayoutAndFailure) {
  FrameEnv env;
  ASSERT_TRUE(R().AllocateBuffers(7, 6));
  const FramePool& p = R().framePool;
  EXPECT_EQ(p.geometry.stride, 24u);
  EXPECT_EQ(p.geometry.frameBytes, 144u);
  EXPECT_EQ(p.Slot(kDisplayScratch) - p.Slot(kCurrentFrame), 12 * 144);
  EXPECT_EQ(p.undoRecordCount, 84u);
  EXPECT_EQ(p.undoStepCount, 21u);
  EXPECT_EQ(p.arrayBytes[0], 2u * 6 + 32);
  EXPECT_EQ(p.arrayBytes[4], 3u * 7 + 32);
  EXPECT_EQ(p.arrayBytes[8], 72u * 6 + 32);
  EXPECT_EQ(p.arrayBytes[10], 3u * 7 + 60 + 32);
  for (int i = 0; i < kFrameArrays; ++i) EXPECT_EQ(reinterpret_cast<uintptr_t>(p.arrays[i]) % 64, 0u);
  EXPECT_FALSE(R().AllocateBuffers(0, 6));
  EXPECT_EQ(R().framePool.geometry.width, 0);
  EXPECT_EQ(R().framePool.block, nullptr);
  EXPECT_EQ(R().framePool.arrays[3], nullptr);
}

TEST(ViewStateTest, DrawFrameBrightnessZoomAndCrossHair) {
  FrameEnv env;
  AviBuildOptions o;
  o.width = 4;
  o.height = 4;
  o.frames = Frames(1, 48);
  AviLayout layout = BuildAvi(o);
  for (int i = 0; i < 48; ++i) layout.bytes[layout.videoData[0] + i] = static_cast<char>(i * 5 + 10);
  std::string path = WriteAvi(env.dir, "v.avi", layout);
  ASSERT_TRUE(T().OpenNamedFile(path));
  ASSERT_TRUE(V().SetupView());
  V().SetViewArea(400, 300);
  V().zoom = 1;
  V().fitToWindow = false;
  ASSERT_TRUE(R().ShowCurrent(0));
  const uint8_t* src = R().framePool.Slot(kAdjustedFrame);
  V().brightness = 100;
  V().DrawFrame(src, 2);
  ASSERT_TRUE(V().pictureInBitmap);
  // Top-down: picture row 0 is frame row 3.
  EXPECT_EQ(V().PreparedPicture()[0], src[36]);
  V().brightness = 200;
  V().DrawFrame(src, 2);
  EXPECT_EQ(V().PreparedPicture()[0], std::min(255, src[36] * 2 * 10485 * 100 >> 20));
  EXPECT_EQ(V().PreparedPicture()[11], 255);  // 235·2 clips
  V().brightness = 100;
  // The difference of equal frames is black even at gain 8.
  std::vector<uint8_t> diff(R().framePool.geometry.frameBytes, 0);
  V().diffGain = 3;
  V().DrawFrame(diff.data(), DF_DIFFERENCE | 2);
  EXPECT_TRUE(AllZero(V().PreparedPicture(), 48));
  V().diffGain = 0;
  // Mode 1 on the last pair repeats row 2i.
  V().DrawFrame(src, 1);
  EXPECT_FALSE(V().pictureInBitmap);
  EXPECT_EQ(V().PreparedPicture()[0], src[24]);   // view row 0 ← row 2 (2i+2 ≥ H)
  EXPECT_EQ(V().PreparedPicture()[12], src[24]);  // view row 1 ← row 2 (2i with i = 1)
  // Zoom stops at 16 and 1; zooming while fitting leaves fitting off.
  for (int i = 0; i < 20; ++i) V().ZoomIn();
  EXPECT_EQ(V().zoom, 16);
  for (int i = 0; i < 20; ++i) V().ZoomOut();
  EXPECT_EQ(V().zoom, 1);
  V().fitToWindow = true;
  V().ZoomIn();
  EXPECT_FALSE(V().fitToWindow);
  EXPECT_EQ(V().zoom, 16);  // 4·15 still fits in 400 wide, so 15 + 1
  // Zooming out of a fitted 30 × 20 view lands on the largest zoom at which
  // the picture fits both ways (4·4 < 20).
  V().SetViewArea(30, 20);
  V().fitToWindow = true;
  V().ZoomOut();
  EXPECT_EQ(V().zoom, 4);
  V().SetViewArea(400, 300);
  // The cross-hair drawn twice leaves the picture as it was.
  V().zoom = 1;
  V().DrawFrame(src, 2);
  std::vector<uint8_t> before(V().PreparedPicture(), V().PreparedPicture() + 48);
  V().cx = 1;
  V().cy = 2;
  V().DrawCrossCursor(true);
  EXPECT_NE(std::memcmp(before.data(), V().PreparedPicture(), 48), 0);
  V().DrawCrossCursor(true);
  EXPECT_EQ(std::memcmp(before.data(), V().PreparedPicture(), 48), 0);
  // CenterOn keeps the view inside the picture.
  V().zoom = 16;
  V().SetViewArea(32, 32);
  int vx, vy;
  V().CenterOn(3, 3, &vx, &vy);
  EXPECT_EQ(V().sx, 2);
  EXPECT_EQ(V().sy, 2);
  EXPECT_EQ(vx, 16);
  // Read-out of the pixel under the mouse.
  V().zoom = 1;
  V().sx = V().sy = 0;
  V().SetViewArea(400, 300);
  V().ShowPixelReadout(1, 0);
  const uint8_t* p = src + 36 + 3;
  char want[64];
  std::snprintf(want, sizeof want, "RGB=(%3d,%3d,%3d)", p[2], p[1], p[0]);
  EXPECT_EQ(env.host.status[3].back(), want);
  EXPECT_EQ(env.host.status[2].back(), "XY=(  1,  0)");
}

// Real files whose frames ffmpeg delivers one for one: the same pictures.
TEST(FrameReaderTest, SampleFramesMatchFfmpegDigests) {
  for (const char* name :
       {"msvideo1_8bit_palette_idx1_skating.avi", "msvideo1_16bit_rec_lists_junk_clock.avi",
        "vmnc_opendml_indx_ix00_no_idx1_test.avi", "msmpeg4v1_odml_idx1_trailing_junk_mpg4.avi"}) {
    SCOPED_TRACE(name);
    std::string path = SamplePath(name);
    std::vector<std::string> ours = OurDigests(path);
    EXPECT_FALSE(ours.empty());
    EXPECT_EQ(ours, FfmpegDigests(path));
  }
}
