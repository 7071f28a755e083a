// The video codec layer against independent decodes: files are made by the
// ffmpeg tool at test time (or taken from the shared samples), the expected
// pixels are ffmpeg's own decode converted to bgr24 and flipped.
#include "platform/VideoCodec.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <sstream>

#include "TestSupport.h"
#include "platform/Riff.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

struct Packet {
  uint64_t pos = 0;  // data position in the file
  uint32_t size = 0;
  bool key = false;
};

struct VideoFile {
  std::string bytes;
  uint32_t handler = 0;
  std::string format;  // strf data
  int width = 0, height = 0;
  std::vector<Packet> packets;
  std::string Chunk(size_t i) const { return bytes.substr(packets[i].pos, packets[i].size); }
};

std::string Quote(const std::string& s) {
  return "'" + s + "'";
}

bool Ffmpeg(const std::string& args) {
  return RunCommand("ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " </dev/null") == 0;
}

// Video stream header and format of the first video stream, found by walking
// the header chunks; the packets come from ffprobe, each checked against the
// chunk header just before it.
bool LoadVideoFile(const std::string& path, VideoFile& v) {
  v.bytes = ReadFileBytes(path);
  const std::string& b = v.bytes;
  size_t strh = 0;
  while ((strh = b.find("strh", strh)) != std::string::npos && b.compare(strh + 8, 4, "vids") != 0) ++strh;
  if (strh == std::string::npos) return false;
  v.handler = GetLE32(b.data() + strh + 12);
  size_t strf = b.find("strf", strh);
  if (strf == std::string::npos) return false;
  v.format = b.substr(strf + 8, GetLE32(b.data() + strf + 4));
  if (v.format.size() < 40) return false;
  v.width = static_cast<int32_t>(GetLE32(v.format.data() + 4));
  v.height = std::abs(static_cast<int32_t>(GetLE32(v.format.data() + 8)));

  std::string out;
  if (RunCommand("ffprobe -v error -select_streams v:0 -show_entries packet=pos,size,flags -of compact=p=0 " +
                     Quote(path),
                 &out) != 0)
    return false;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::map<std::string, std::string> kv;
    std::istringstream fields(line);
    std::string f;
    while (std::getline(fields, f, '|')) {
      size_t eq = f.find('=');
      if (eq != std::string::npos) kv[f.substr(0, eq)] = f.substr(eq + 1);
    }
    if (!kv.count("pos") || !kv.count("size")) continue;  // side data lines
    Packet p;
    p.pos = std::stoull(kv["pos"]);
    p.size = static_cast<uint32_t>(std::stoul(kv["size"]));
    p.key = kv["flags"].find('K') != std::string::npos;
    if (p.pos < 8 || p.pos + p.size > b.size()) return false;
    std::string id = b.substr(p.pos - 8, 4);
    if ((id.compare(2, 2, "dc") != 0 && id.compare(2, 2, "db") != 0) ||
        GetLE32(b.data() + p.pos - 4) != p.size)
      return false;
    v.packets.push_back(p);
  }
  return !v.packets.empty();
}

// The video chunks as the file's idx1 lists them, null chunks and key flags
// as written (LoadVideoFile has ffprobe's packets, which leave null chunks
// out).
bool LoadIndexedFile(const std::string& path, VideoFile& v) {
  if (!LoadVideoFile(path, v)) return false;
  const std::string& b = v.bytes;
  size_t movi = b.find("movi"), idx1 = b.rfind("idx1");
  if (movi == std::string::npos || idx1 == std::string::npos || idx1 < movi) return false;
  size_t end = std::min(b.size(), idx1 + 8 + GetLE32(b.data() + idx1 + 4));
  std::vector<Packet> packets;
  for (size_t e = idx1 + 8; e + 16 <= end; e += 16) {
    std::string id = b.substr(e, 4);
    if (id != "00dc" && id != "00db") continue;
    Packet p;
    p.pos = movi + GetLE32(b.data() + e + 8) + 8;  // offsets count from "movi"
    p.size = GetLE32(b.data() + e + 12);
    p.key = (GetLE32(b.data() + e + 4) & 0x10) != 0;
    if (p.pos + p.size > b.size() || b.compare(p.pos - 8, 4, id) != 0) return false;
    packets.push_back(p);
  }
  v.packets = std::move(packets);
  return !v.packets.empty();
}

// ffmpeg's decode of the first `frames` frames (0 = all), bgr24, flipped.
std::vector<std::string> ReferenceFrames(const std::string& path, int width, int height, int frames = 0) {
  std::string out;
  std::string limit = frames ? " -frames:v " + std::to_string(frames) : "";
  RunCommand("ffmpeg -nostdin -hide_banner -loglevel error -i " + Quote(path) + limit +
                 " -vf vflip -pix_fmt bgr24 -fps_mode passthrough -f rawvideo - </dev/null",
             &out);
  size_t bytes = static_cast<size_t>(width) * height * 3;
  std::vector<std::string> result;
  for (size_t at = 0; at + bytes <= out.size(); at += bytes) result.push_back(out.substr(at, bytes));
  return result;
}

// Largest difference of a byte between our frame (stride-padded rows) and a
// packed reference frame.
int MaxDifference(const std::vector<uint8_t>& ours, size_t stride, const std::string& ref, int width,
                  int height) {
  int worst = 0;
  size_t line = static_cast<size_t>(width) * 3;
  for (int y = 0; y < height; ++y)
    for (size_t x = 0; x < line; ++x)
      worst = std::max(worst, std::abs(int(ours[y * stride + x]) - int(uint8_t(ref[y * line + x]))));
  return worst;
}

bool AllZero(const std::vector<uint8_t>& v) {
  return std::all_of(v.begin(), v.end(), [](uint8_t b) { return b == 0; });
}

// The chunks of a loaded file as the frame getter reads them.
FrameGetter::Source SourceOf(const VideoFile& v) {
  FrameGetter::Source s;
  s.isKeyFrame = [&v](uint32_t k) { return v.packets[k].key; };
  s.readChunk = [&v](uint32_t k, ChunkBytes& chunk) {
    chunk.keyFrame = v.packets[k].key;
    return chunk.Assign(v.bytes.data() + v.packets[k].pos, v.packets[k].size);
  };
  return s;
}

// Decodes every packet in order, chunk by chunk or through the frame getter,
// and compares each picture with ffmpeg's.
enum class Damage { kSkip, kMayDecode, kCutFails };

// Cut, tiny and garbled versions of the first chunk: a picture, or black and
// false, never a crash or a read past the chunk (the tests run under
// AddressSanitizer); then the intact chunk decodes as before.
void ExpectDamageSurvived(VideoDecompressor& d, const VideoFile& v, const std::string& ref, Damage damage) {
  std::string good = v.Chunk(0);
  std::mt19937 random(7);
  std::string garbage(good.size(), '\0');
  for (char& b : garbage) b = static_cast<char>(random());
  const std::string damaged[] = {good.substr(0, good.size() / 2), good.substr(0, 7), good.substr(0, 1),
                                 garbage, good.substr(0, good.size() / 2) + garbage.substr(good.size() / 2)};
  size_t stride = BgrStride(v.width);
  std::vector<uint8_t> out(stride * v.height);
  for (size_t i = 0; i < std::size(damaged); ++i) {
    std::fill(out.begin(), out.end(), 0x5A);
    bool ok = d.Decompress(damaged[i].data(), damaged[i].size(), true, out.data(), stride);
    if (!ok) {
      EXPECT_FALSE(d.Error().empty()) << i;
      EXPECT_TRUE(AllZero(out)) << i;
    }
    if (damage == Damage::kCutFails && i < 3) {
      EXPECT_FALSE(ok) << "cut chunk " << i;
    }
  }
  d.Flush();
  ASSERT_TRUE(d.Decompress(good.data(), good.size(), true, out.data(), stride)) << d.Error();
  EXPECT_EQ(MaxDifference(out, stride, ref, v.width, v.height), 0);
}

void ExpectSameAsFfmpeg(const std::string& path, int tolerance, uint32_t expectHandler = 0, int frames = 0,
                        bool viaGetter = false, Damage damage = Damage::kSkip) {
  SCOPED_TRACE(path);
  VideoFile v;
  ASSERT_TRUE(LoadVideoFile(path, v));
  if (expectHandler) {
    EXPECT_EQ(FourCCText(v.handler), FourCCText(expectHandler));
  }
  std::vector<std::string> ref = ReferenceFrames(path, v.width, v.height, frames);
  size_t count = frames ? std::min<size_t>(frames, v.packets.size()) : v.packets.size();
  ASSERT_EQ(ref.size(), count);

  VideoDecompressor d;
  ASSERT_TRUE(d.Open(v.handler, v.format.data(), v.format.size())) << d.Error();
  EXPECT_FALSE(d.Description().empty());
  EXPECT_FALSE(d.Configurable());
  size_t stride = BgrStride(v.width);
  ASSERT_EQ(d.Stride(), stride);
  std::vector<uint8_t> out(stride * v.height, 0xAA);
  FrameGetter getter(d, v.handler, static_cast<uint32_t>(v.packets.size()), SourceOf(v));
  for (size_t i = 0; i < count; ++i) {
    if (viaGetter) {
      ASSERT_TRUE(getter.GetFrame(static_cast<uint32_t>(i), out.data(), stride))
          << i << ": " << getter.Error();
    } else {
      std::string c = v.Chunk(i);
      ASSERT_TRUE(d.Decompress(c.data(), c.size(), v.packets[i].key, out.data(), stride))
          << i << ": " << d.Error();
    }
    ASSERT_LE(MaxDifference(out, stride, ref[i], v.width, v.height), tolerance) << "frame " << i;
  }
  if (damage != Damage::kSkip) ExpectDamageSurvived(d, v, ref[0], damage);
}

std::string Encode(const ScratchDir& dir, const std::string& name, const std::string& size, int frames,
                   const std::string& codecArgs) {
  std::string path = dir.File(name);
  std::string source = "-f lavfi -i testsrc2=s=" + size + ":r=25 -frames:v " + std::to_string(frames) + " ";
  if (!Ffmpeg(source + codecArgs + " " + Quote(path))) return {};
  return path;
}

// Lossy decoders run the same library underneath, so they agree exactly in
// practice; the allowance covers rounding in a differently built conversion.
constexpr int kLossyTolerance = 2;

struct CodecCase {
  const char* name;
  const char* size;
  int frames;
  const char* args;
  const char* handler;
  int tolerance;
  Damage damage = Damage::kMayDecode;
  bool viaGetter = false;  // reordering decoders: pictures in display order
};

class VideoCodecAgainstFfmpeg : public testing::TestWithParam<CodecCase> {};

TEST_P(VideoCodecAgainstFfmpeg, DecodesLikeFfmpegAndSurvivesDamage) {
  const CodecCase& c = GetParam();
  ScratchDir dir;
  std::string path = Encode(dir, std::string(c.name) + ".avi", c.size, c.frames, c.args);
  ASSERT_FALSE(path.empty()) << "ffmpeg could not make " << c.name;
  ExpectSameAsFfmpeg(path, c.tolerance, FourCC(*reinterpret_cast<const char(*)[5]>(c.handler)), 0,
                     c.viaGetter, c.damage);
}

INSTANTIATE_TEST_SUITE_P(
    VideoCodec, VideoCodecAgainstFfmpeg,
    testing::Values(
        CodecCase{"dv_ntsc", "720x480", 2, "-c:v dvvideo -pix_fmt yuv411p", "dvsd", kLossyTolerance,
                  Damage::kCutFails},
        CodecCase{"dv_pal", "720x576", 2, "-c:v dvvideo -pix_fmt yuv420p", "dvsd", kLossyTolerance},
        CodecCase{"mjpeg", "160x120", 4, "-c:v mjpeg -q:v 4", "MJPG", kLossyTolerance},
        CodecCase{"huffyuv", "160x120", 3, "-c:v huffyuv", "HFYU", 0},
        CodecCase{"ffvhuff", "160x120", 3, "-c:v ffvhuff -pix_fmt yuv420p", "FFVH", 0},
        CodecCase{"utvideo_yuv", "160x120", 3, "-c:v utvideo -pix_fmt yuv422p", "ULY2", 0},
        CodecCase{"utvideo_rgb", "160x120", 3, "-c:v utvideo -pix_fmt gbrp", "ULRG", 0},
        CodecCase{"msvideo1", "64x48", 3, "-c:v msvideo1", "MSVC", 0},
        CodecCase{"cinepak", "64x48", 2, "-c:v cinepak", "cvid", 0},
        CodecCase{"xvid", "160x120", 8, "-c:v mpeg4 -g 4 -vtag XVID", "XVID", kLossyTolerance},
        CodecCase{"divx", "160x120", 4, "-c:v mpeg4 -g 2 -vtag DIVX", "DIVX", kLossyTolerance},
        CodecCase{"dx50", "160x120", 4, "-c:v mpeg4 -g 2 -vtag DX50", "DX50", kLossyTolerance},
        CodecCase{"fmp4", "160x120", 4, "-c:v mpeg4 -g 2", "FMP4", kLossyTolerance},
        // B-frames stored in decode order: frame n is the n-th picture shown.
        CodecCase{"mpeg4_bframes", "160x120", 12, "-c:v mpeg4 -bf 2 -g 30", "FMP4", kLossyTolerance,
                  Damage::kSkip, true},
        CodecCase{"h264_bframes", "160x120", 14, "-c:v libx264 -preset ultrafast -bf 3 -g 6 -pix_fmt yuv420p",
                  "H264", kLossyTolerance, Damage::kSkip, true},
        CodecCase{"h264", "160x120", 6, "-c:v libx264 -preset ultrafast -bf 0 -g 3 -pix_fmt yuv420p", "H264",
                  kLossyTolerance},
        // Tagged BT.709 and full range: the conversion must follow the tags.
        CodecCase{"h264_bt709", "160x120", 2,
                  "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -colorspace bt709 -color_primaries bt709 "
                  "-color_trc bt709",
                  "H264", kLossyTolerance, Damage::kSkip},
        CodecCase{"h264_full_range", "160x120", 2, "-c:v libx264 -preset ultrafast -pix_fmt yuvj420p", "H264",
                  kLossyTolerance, Damage::kSkip},
        CodecCase{"yuy2", "64x48", 2, "-c:v rawvideo -pix_fmt yuyv422", "YUY2", 0, Damage::kCutFails},
        CodecCase{"uyvy", "64x48", 2, "-c:v rawvideo -pix_fmt uyvy422", "UYVY", 0, Damage::kCutFails},
        CodecCase{"i420", "64x48", 2, "-c:v rawvideo -pix_fmt yuv420p", "I420", 0, Damage::kCutFails},
        CodecCase{"yv12", "64x48", 2, "-c:v rawvideo -pix_fmt yuv420p -vtag YV12", "YV12", 0},
        CodecCase{"v210", "64x48", 2, "-c:v v210", "v210", 0, Damage::kCutFails}),
    [](const testing::TestParamInfo<CodecCase>& info) { return std::string(info.param.name); });

// Real files written by other programs: the codecs ffmpeg cannot make here
// (gray Cinepak, 8-bit paletted MS Video 1) and streams from other encoders
// (packed B-frames from DivX 5, H.264 with B-frames, a camera's MJPEG under
// handler "SPMP").
struct Sample {
  const char* file;
  int frames;
};

class VideoCodecSamples : public testing::TestWithParam<Sample> {};

TEST_P(VideoCodecSamples, DecodeLikeFfmpeg) {
  ExpectSameAsFfmpeg(SamplePath(GetParam().file), kLossyTolerance, 0, GetParam().frames, true);
}

INSTANTIATE_TEST_SUITE_P(VideoCodec, VideoCodecSamples,
                         testing::Values(Sample{"cinepak_gray_pcm8_idx1_pcitva15.avi", 6},
                                         Sample{"msvideo1_8bit_palette_idx1_skating.avi", 6},
                                         Sample{"msvideo1_16bit_rec_lists_junk_clock.avi", 4},
                                         Sample{"camera_sunplus_spmp_mjpeg_pcm_idx1_info_after_idx1.avi", 2},
                                         Sample{"divx5_mp3_idx1_mimetype.avi", 6},
                                         Sample{"ffmpeg_mpeg4_mp3_idx1_audio_keyframe_flags_cleared.avi", 4},
                                         Sample{"ffmpeg_h264_mp3_audio_strh_length_too_large.avi", 6},
                                         Sample{"msmpeg4v1_odml_idx1_trailing_junk_mpg4.avi", 4}),
                         [](const testing::TestParamInfo<Sample>& info) {
                           std::string name = info.param.file;
                           name = name.substr(0, name.find('_', name.find('_') + 1));
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// A minimal AVI of one video stream with the given chunks (data, key flag).
std::string BuildAvi(const char* handler, const std::string& strf, int width, int height,
                     const std::vector<std::pair<std::string, bool>>& chunks) {
  uint32_t n = static_cast<uint32_t>(chunks.size());
  std::string avih;
  for (uint32_t v : {40000u, 0u, 0u, 0x10u, n, 0u, 1u, 0u, uint32_t(width), uint32_t(height), 0u, 0u, 0u, 0u})
    Put32(avih, v);
  std::string strh;
  PutFourCC(strh, "vids");
  PutFourCC(strh, handler);
  for (uint32_t v : {0u, 0u, 0u, 1u, 25u, 0u, n, 0u, 0xFFFFFFFFu, 0u}) Put32(strh, v);
  for (int v : {0, 0, width, height}) Put16(strh, static_cast<uint16_t>(v));
  std::string hdrl =
      Chunk("avih", avih) + ListChunk("LIST", "strl", Chunk("strh", strh) + Chunk("strf", strf));
  std::string movi, idx1;
  for (const auto& [data, key] : chunks) {
    PutFourCC(idx1, "00dc");
    Put32(idx1, key ? 0x10 : 0);
    Put32(idx1, static_cast<uint32_t>(4 + movi.size()));
    Put32(idx1, static_cast<uint32_t>(data.size()));
    movi += Chunk("00dc", data);
  }
  return ListChunk("RIFF", "AVI ",
                   ListChunk("LIST", "hdrl", hdrl) + ListChunk("LIST", "movi", movi) + Chunk("idx1", idx1));
}

std::string Bih(int width, int height, uint16_t bits, uint32_t compression, uint32_t clrUsed = 0) {
  std::string s;
  Put32(s, 40);
  Put32(s, static_cast<uint32_t>(width));
  Put32(s, static_cast<uint32_t>(height));
  Put16(s, 1);
  Put16(s, bits);
  Put32(s, compression);
  Put32(s, 0);
  for (uint32_t v : {0u, 0u, clrUsed, 0u}) Put32(s, v);
  return s;
}

// MS RLE and Lagarith: ffmpeg decodes them but cannot make them, so the
// chunks are written here and the file goes through ffmpeg's decoder too.
TEST(VideoCodecHandMade, MsRleKeyAndDeltaFrames) {
  const int w = 16, h = 8;
  std::string strf = Bih(w, h, 8, 1, 4);
  for (uint32_t rgb : {0x000000u, 0xFF2010u, 0x10C040u, 0x3060FFu}) Put32(strf, rgb);
  std::string key;
  for (int y = 0; y < h; ++y) {
    // a run, a literal of four, an odd literal of three (padded), a run
    key += {4, char(y % 4), 0, 4, 1, 2, 3, 0, 0, 3, 3, 2, 1, 0, 5, char((y + 1) % 4), 0, 0};
  }
  key += {0, 1};
  // Delta: move 3 right and 2 up, paint two pixels, end the picture early.
  std::string delta = {0, 2, 3, 2, 2, 3, 0, 0, 6, 1, 0, 1};
  ScratchDir dir;
  std::string path = dir.File("rle.avi");
  ASSERT_TRUE(WriteFileBytes(path, BuildAvi("mrle", strf, w, h, {{key, true}, {delta, false}})));
  ExpectSameAsFfmpeg(path, 0, FourCC("mrle"));
  ExpectSameAsFfmpeg(path, 0, 0, 0, true);
}

TEST(VideoCodecHandMade, LagarithSolidFrames) {
  const int w = 32, h = 16;
  std::string solidColour = {6, 0x20, char(0x80), char(0xC0), 0, 0, 0, 0};
  std::string solidGrey = {5, 0x55, 0, 0, 0, 0, 0, 0};
  ScratchDir dir;
  std::string path = dir.File("lags.avi");
  ASSERT_TRUE(WriteFileBytes(
      path, BuildAvi("LAGS", Bih(w, h, 24, FourCC("LAGS")), w, h, {{solidColour, true}, {solidGrey, true}})));
  ExpectSameAsFfmpeg(path, 0, FourCC("LAGS"));
}

// One DV chunk opened under every DV handler, with the handler in biCompression
// too, or only in biCompression (handler 0 or one the tag table lacks).
TEST(VideoCodecOpen, DvHandlersAndFallbackToCompression) {
  ScratchDir dir;
  std::string path = Encode(dir, "dv.avi", "720x480", 1, "-c:v dvvideo -pix_fmt yuv411p");
  VideoFile v;
  ASSERT_TRUE(LoadVideoFile(path, v));
  std::vector<std::string> ref = ReferenceFrames(path, v.width, v.height);
  ASSERT_EQ(ref.size(), 1u);
  std::string chunk = v.Chunk(0);
  size_t stride = BgrStride(v.width);
  std::vector<uint8_t> out(stride * v.height);
  auto check = [&](uint32_t handler, uint32_t compression) {
    SCOPED_TRACE(FourCCText(handler) + "/" + FourCCText(compression));
    std::string format = v.format;
    PutLE32(&format[16], compression);
    VideoDecompressor d;
    ASSERT_TRUE(d.Open(handler, format.data(), format.size())) << d.Error();
    EXPECT_NE(d.Description().find("DV"), std::string::npos) << d.Description();
    ASSERT_TRUE(d.Decompress(chunk.data(), chunk.size(), true, out.data(), stride)) << d.Error();
    EXPECT_EQ(MaxDifference(out, stride, ref[0], v.width, v.height), 0);
  };
  for (const char* h : {"dvsd", "DVSD", "dv25", "dv50", "dvhd", "dvsl", "cdvc", "CDVC", "CDVH", "dvis"})
    check(FourCC(*reinterpret_cast<const char(*)[5]>(h)), FourCC(*reinterpret_cast<const char(*)[5]>(h)));
  check(0, FourCC("dvsd"));
  check(FourCC("SPMP"), FourCC("dvsd"));
  check(FourCC("dvrs"), 0);  // reference streams decode DV

  std::string format = v.format;
  PutLE32(&format[16], FourCC("WXYZ"));
  VideoDecompressor d;
  EXPECT_FALSE(d.Open(FourCC("ABCD"), format.data(), format.size()));
  EXPECT_FALSE(d.Error().empty());
  EXPECT_FALSE(d.IsOpen());
  EXPECT_EQ(VideoCodecOpenErrorText("cap.avi", FourCC("ABCD")), "cap.aviのビデオコーデックABCDが開けません!");
  EXPECT_FALSE(d.Decompress(chunk.data(), chunk.size(), true, out.data(), stride));
  EXPECT_FALSE(d.Open(FourCC("dvsd"), format.data(), 39));
  std::string noWidth = v.format;
  PutLE32(&noWidth[4], 0);
  EXPECT_FALSE(d.Open(FourCC("dvsd"), noWidth.data(), noWidth.size()));
  std::string huge = v.format;
  PutLE32(&huge[8], 0x7FFFFFFF);
  EXPECT_FALSE(d.Open(FourCC("dvsd"), huge.data(), huge.size()));
}

// ---- Frame getter -----------------------------------------------------------

class VideoCodecFrameGetter : public testing::Test {
 protected:
  void SetUp() override {
    path_ = Encode(dir_, "gop.avi", "160x120", 64, "-c:v mpeg4 -g 30 -bf 0 -vtag XVID");
    ASSERT_FALSE(path_.empty());
    ASSERT_TRUE(LoadVideoFile(path_, v_));
    ASSERT_EQ(v_.packets.size(), 64u);
    ASSERT_TRUE(v_.packets[0].key && v_.packets[30].key && v_.packets[60].key && !v_.packets[29].key);
    ref_ = ReferenceFrames(path_, v_.width, v_.height);
    ASSERT_EQ(ref_.size(), 64u);
    stride_ = BgrStride(v_.width);
    ASSERT_TRUE(d_.Open(v_.handler, v_.format.data(), v_.format.size())) << d_.Error();
    // Sequential decode, chunk by chunk.
    std::vector<uint8_t> out(stride_ * v_.height);
    for (size_t i = 0; i < v_.packets.size(); ++i) {
      std::string c = v_.Chunk(i);
      ASSERT_TRUE(d_.Decompress(c.data(), c.size(), v_.packets[i].key, out.data(), stride_));
      sequential_.push_back(out);
    }
  }
  uint32_t LastKey(uint32_t k) const {
    while (!v_.packets[k].key) --k;
    return k;
  }

  ScratchDir dir_;
  std::string path_;
  VideoFile v_;
  std::vector<std::string> ref_;
  std::vector<std::vector<uint8_t>> sequential_;
  size_t stride_ = 0;
  VideoDecompressor d_;
};

TEST_F(VideoCodecFrameGetter, RandomAccessEqualsSequentialAndSteppingCostsOneDecode) {
  FrameGetter g(d_, v_.handler, 64, SourceOf(v_));
  std::vector<uint8_t> out(stride_ * v_.height);
  auto get = [&](uint32_t k) {
    uint64_t before = g.Decodes();
    EXPECT_TRUE(g.GetFrame(k, out.data(), stride_)) << g.Error();
    EXPECT_EQ(out, sequential_[k]) << "frame " << k;
    EXPECT_LE(MaxDifference(out, stride_, ref_[k], v_.width, v_.height), kLossyTolerance) << "frame " << k;
    return g.Decodes() - before;
  };
  // The first jump into the middle also decodes the opening chunks once, to
  // learn whether the decoder reorders (this stream has no B-frames).
  EXPECT_EQ(get(45), 12u + 45u - 30u + 1u);
  // Jumps: decoding starts at the key frame at or before the target.
  for (uint32_t k : {12u, 59u, 0u, 31u, 63u, 30u}) EXPECT_EQ(get(k), k - LastKey(k) + 1) << "frame " << k;
  // Stepping forward costs one decode, the same frame again none.
  EXPECT_EQ(get(31), 1u);
  EXPECT_EQ(get(32), 1u);
  EXPECT_EQ(get(32), 0u);
  // A short jump forward goes on from where the decoder stands.
  EXPECT_EQ(get(36), 4u);
  // Backwards means starting again at the key frame.
  EXPECT_EQ(get(35), 35u - 30u + 1u);
}

TEST_F(VideoCodecFrameGetter, NullFramesRepeatThePictureBefore) {
  // The stream with null frames at 0 and 11: virtual frame j shows chunk j-1
  // (j-2 after 11).
  auto packetOf = [](uint32_t j) { return j == 0 || j == 11 ? -1 : int(j) - (j > 11 ? 2 : 1); };
  FrameGetter::Source s;
  s.isKeyFrame = [&](uint32_t j) { return packetOf(j) >= 0 && v_.packets[packetOf(j)].key; };
  s.readChunk = [&](uint32_t j, ChunkBytes& chunk) {
    int p = packetOf(j);
    chunk.keyFrame = p >= 0 && v_.packets[p].key;
    return p < 0 ? chunk.Resize(0) != nullptr
                 : chunk.Assign(v_.bytes.data() + v_.packets[p].pos, v_.packets[p].size);
  };
  FrameGetter g(d_, v_.handler, 66, s);
  std::vector<uint8_t> out(stride_ * v_.height, 0x11);
  ASSERT_TRUE(g.GetFrame(0, out.data(), stride_));
  EXPECT_TRUE(AllZero(out));  // nothing decoded yet: black
  for (uint32_t j : {12u, 11u, 10u, 1u, 2u}) {
    ASSERT_TRUE(g.GetFrame(j, out.data(), stride_)) << j;
    int shown = j == 11 ? packetOf(10) : packetOf(j);
    EXPECT_EQ(out, sequential_[shown]) << "frame " << j;
  }
  uint64_t before = g.Decodes();
  ASSERT_TRUE(g.GetFrame(3, out.data(), stride_));
  ASSERT_TRUE(g.GetFrame(4, out.data(), stride_));
  EXPECT_EQ(g.Decodes() - before, 2u);
}

// B-frames stored in decode order behind each I- or P-frame: frame n is the
// n-th picture shown, whether reached in order, by a jump (also to the
// B-frames stored after a key frame, which need the GOP before it) or
// through an index whose key flags are cleared or set on delta frames.
void ExpectRandomAccessEqualsSequential(const std::string& codecArgs) {
  SCOPED_TRACE(codecArgs);
  ScratchDir dir;
  std::string path = Encode(dir, "bf.avi", "160x120", 40, codecArgs);
  VideoFile v;
  ASSERT_TRUE(LoadVideoFile(path, v));
  ASSERT_EQ(v.packets.size(), 40u);
  std::vector<std::string> ref = ReferenceFrames(path, v.width, v.height);
  ASSERT_EQ(ref.size(), 40u);
  size_t stride = BgrStride(v.width);
  std::vector<uint8_t> out(stride * v.height);
  VideoDecompressor d;
  ASSERT_TRUE(d.Open(v.handler, v.format.data(), v.format.size())) << d.Error();
  std::vector<std::vector<uint8_t>> sequential;
  {
    FrameGetter g(d, v.handler, 40, SourceOf(v));
    for (uint32_t k = 0; k < 40; ++k) {
      uint64_t before = g.Decodes();
      ASSERT_TRUE(g.GetFrame(k, out.data(), stride)) << k << ": " << g.Error();
      ASSERT_LE(MaxDifference(out, stride, ref[k], v.width, v.height), kLossyTolerance) << "frame " << k;
      if (k > 0 && k < 38) {
        EXPECT_EQ(g.Decodes() - before, 1u) << "frame " << k;
      }
      sequential.push_back(out);
    }
  }
  // Key chunks in decode order; the B-frames after each one show before it.
  std::vector<uint32_t> keys;
  for (uint32_t k = 0; k < 40; ++k)
    if (v.packets[k].key) keys.push_back(k);
  ASSERT_GE(keys.size(), 3u);

  auto check = [&](const char* what, std::function<bool(uint32_t)> isKey) {
    SCOPED_TRACE(what);
    FrameGetter::Source s = SourceOf(v);
    s.isKeyFrame = isKey;
    FrameGetter g(d, v.handler, 40, s);
    std::vector<uint32_t> jumps = {39, 0, 20};
    for (uint32_t k : keys) {
      for (uint32_t j : {k, k + 1, k + 2, k + 3})
        if (j < 40) jumps.push_back(j);
      if (k > 0) jumps.push_back(k - 1);
    }
    for (uint32_t k : jumps) {
      ASSERT_TRUE(g.GetFrame(k, out.data(), stride)) << k << ": " << g.Error();
      EXPECT_EQ(out, sequential[k]) << "frame " << k;
    }
    // Stepping on from a jump costs one decode.
    ASSERT_TRUE(g.GetFrame(keys[1] + 3, out.data(), stride));
    for (uint32_t k = keys[1] + 4; k < keys[1] + 8; ++k) {
      uint64_t before = g.Decodes();
      ASSERT_TRUE(g.GetFrame(k, out.data(), stride));
      EXPECT_EQ(out, sequential[k]) << "frame " << k;
      EXPECT_EQ(g.Decodes() - before, 1u) << "frame " << k;
    }
  };
  check("flags as written", [&](uint32_t k) { return v.packets[k].key; });
  check("flags cleared", [](uint32_t k) { return k == 0; });
  check("every fifth chunk flagged", [&](uint32_t k) { return v.packets[k].key || k % 5 == 0; });
  check("every chunk flagged", [](uint32_t) { return true; });
}

TEST(VideoCodecReordering, RandomAccessEqualsSequentialUnderAnyKeyFlags) {
  ExpectRandomAccessEqualsSequential("-c:v mpeg4 -bf 2 -g 12");
  ExpectRandomAccessEqualsSequential("-c:v libx264 -preset ultrafast -bf 3 -g 12 -pix_fmt yuv420p");
}

// Real files through their own idx1, null chunks included: FMP4 with null
// chunks after the first key frame, and H.264 with B-frames and a null chunk
// among the first chunks. Null chunks count as key frames here, as the AVI
// reader records them. The pictures of the chunks that are not null are
// ffmpeg's pictures in order; a null chunk shows the picture before it.
TEST(VideoCodecReordering, SamplesThroughTheirIndexWithNullChunks) {
  struct {
    const char* file;
    int compared;  // ffmpeg frames compared (large pictures: not all)
  } samples[] = {{"ffmpeg_mpeg4_mp3_idx1_audio_keyframe_flags_cleared.avi", 30},
                 {"ffmpeg_h264_mp3_audio_strh_length_too_large.avi", 0}};
  for (const auto& sample : samples) {
    std::string path = SamplePath(sample.file);
    SCOPED_TRACE(path);
    VideoFile v;
    ASSERT_TRUE(LoadIndexedFile(path, v));
    uint32_t count = static_cast<uint32_t>(v.packets.size());
    bool hasNull = false;
    for (Packet& p : v.packets) {
      hasNull = hasNull || p.size == 0;
      p.key = p.key || p.size == 0;
    }
    ASSERT_TRUE(hasNull);
    std::vector<std::string> ref = ReferenceFrames(path, v.width, v.height, sample.compared);
    ASSERT_FALSE(ref.empty());
    size_t stride = BgrStride(v.width);
    std::vector<uint8_t> out(stride * v.height), previous(stride * v.height, 0);
    VideoDecompressor d;
    ASSERT_TRUE(d.Open(v.handler, v.format.data(), v.format.size())) << d.Error();

    // In order.
    FrameGetter g(d, v.handler, count, SourceOf(v));
    std::map<uint32_t, std::vector<uint8_t>> kept;
    size_t shown = 0;
    for (uint32_t k = 0; k < count && shown < ref.size(); ++k) {
      ASSERT_TRUE(g.GetFrame(k, out.data(), stride)) << k << ": " << g.Error();
      if (v.packets[k].size == 0) {
        EXPECT_EQ(out, previous) << "null frame " << k;
      } else {
        ASSERT_LE(MaxDifference(out, stride, ref[shown++], v.width, v.height), kLossyTolerance)
            << "frame " << k;
      }
      if (k % 3 == 0 || v.packets[k].size == 0 || (k > 0 && v.packets[k - 1].size == 0)) kept[k] = out;
      previous = out;
    }
    EXPECT_EQ(shown, ref.size());
    // Jumps give the same pictures, and a step after one costs one decode.
    FrameGetter jumper(d, v.handler, count, SourceOf(v));
    for (auto it = kept.rbegin(); it != kept.rend(); ++it) {
      ASSERT_TRUE(jumper.GetFrame(it->first, out.data(), stride)) << it->first;
      EXPECT_EQ(out, it->second) << "frame " << it->first;
    }
    for (auto& [k, picture] : kept) {
      if (k == 0) continue;
      ASSERT_TRUE(jumper.GetFrame(k - 1, out.data(), stride));
      uint64_t before = jumper.Decodes();
      ASSERT_TRUE(jumper.GetFrame(k, out.data(), stride));
      EXPECT_EQ(out, picture) << "frame " << k;
      // Near the end the decoder may already hold the picture: no decode.
      EXPECT_LE(jumper.Decodes() - before, v.packets[k].size ? 1u : 0u) << "frame " << k;
    }
  }
}

// DivX 5 with packed B-frames (a chunk holding a P- and a B-frame, then an
// N-VOP placeholder) and a header that announces no B-frames, sent again with
// the key frame at 300: a jump there with a decoder that has seen nothing yet
// gives the pictures of sequential decoding, which are ffmpeg's.
TEST(VideoCodecReordering, PackedBFramesJumpIntoTheSecondGop) {
  std::string path = SamplePath("divx5_mp3_idx1_mimetype.avi");
  VideoFile v;
  ASSERT_TRUE(LoadIndexedFile(path, v));
  uint32_t count = static_cast<uint32_t>(v.packets.size());
  ASSERT_EQ(count, 600u);
  ASSERT_TRUE(v.packets[300].key);
  std::vector<std::string> ref = ReferenceFrames(path, v.width, v.height, 312);
  ASSERT_EQ(ref.size(), 312u);
  size_t stride = BgrStride(v.width);
  std::vector<uint8_t> out(stride * v.height);
  std::map<uint32_t, std::vector<uint8_t>> sequential;
  {
    VideoDecompressor d;
    ASSERT_TRUE(d.Open(v.handler, v.format.data(), v.format.size())) << d.Error();
    FrameGetter g(d, v.handler, count, SourceOf(v));
    for (uint32_t k = 0; k < 312; ++k) {
      ASSERT_TRUE(g.GetFrame(k, out.data(), stride)) << k << ": " << g.Error();
      ASSERT_LE(MaxDifference(out, stride, ref[k], v.width, v.height), kLossyTolerance) << "frame " << k;
      if (k >= 296) sequential[k] = out;
    }
  }
  for (uint32_t first : {300u, 301u, 305u}) {
    VideoDecompressor d;
    ASSERT_TRUE(d.Open(v.handler, v.format.data(), v.format.size())) << d.Error();
    FrameGetter g(d, v.handler, count, SourceOf(v));
    for (uint32_t k : {first, first + 1, 299u, 300u, 310u}) {
      ASSERT_TRUE(g.GetFrame(k, out.data(), stride)) << k << ": " << g.Error();
      EXPECT_EQ(out, sequential[k]) << "first " << first << ", then " << k;
    }
  }
}

// ---- Reference chunks -------------------------------------------------------

std::string RefRecord(uint32_t a, uint32_t b, uint32_t c, const std::string& name) {
  std::string s;
  Put32(s, a);
  Put32(s, b);
  Put32(s, c);
  s += name;
  s.append(4 - s.size() % 4, '\0');
  return s;
}

ReferenceCheck Detect(const char* handler, const std::string& chunk, ReferenceInfo& info) {
  return DetectReference(FourCC(*reinterpret_cast<const char(*)[5]>(handler)),
                         reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size(), info);
}

TEST(VideoCodecReference, ClassifiesTheThreeKinds) {
  ReferenceInfo info;
  std::string dvrs = RefRecord(0x11223344, 0x1000, 120000, "C:\\CAP\\A.AVI");
  for (const char* h : {"dvrs", "DVRS"}) {
    ASSERT_EQ(Detect(h, dvrs, info), ReferenceCheck::kReference) << h;
    EXPECT_EQ(info.kind, 0x20);
    EXPECT_EQ(info.refBase, 0x11223344u);
    EXPECT_EQ(info.refFrame, 0x1000u);
    EXPECT_EQ(info.refFrame2, 120000u);
    EXPECT_EQ(info.fileName, "C:\\CAP\\A.AVI");
  }

  std::string ref = "REF " + RefRecord(0x2000, 7, 9, "").substr(0, 12) + "D:\\B.AVI";
  ref.push_back('\0');
  ASSERT_EQ(Detect("CDVC", ref, info), ReferenceCheck::kReference);
  EXPECT_EQ(info.kind, 1);
  EXPECT_EQ(info.refFrame, 0x2000u);
  EXPECT_EQ(info.fileName, "D:\\B.AVI");
  EXPECT_EQ(Detect("dvsd", ref, info), ReferenceCheck::kNone);  // "REF " counts in cdvc streams only
  EXPECT_EQ(info.kind, 0);

  struct {
    uint32_t second;
    int kind;
  } codec[] = {{0x00000009, 2}, {0x40000007, 6}, {0x80000005, 10}, {0xC0000005, 14}};
  for (const auto& c : codec) {
    std::string chunk = "RefCodec";
    Put32(chunk, 42);
    Put32(chunk, c.second);
    chunk += "E:\\C.AVI";
    ASSERT_EQ(Detect("dvsd", chunk, info), ReferenceCheck::kReference);
    EXPECT_EQ(info.kind, c.kind);
    EXPECT_EQ(info.refFrame, 42u);
    EXPECT_EQ(info.refFrame2, c.second & 0x3FFFFFFFu);
    EXPECT_EQ(info.fileName, "E:\\C.AVI");  // ends with the data, no terminator needed
  }
  EXPECT_EQ(Detect("dvsd", "RefCode", info), ReferenceCheck::kNone);
  EXPECT_EQ(Detect("cvid", std::string(64, '\0'), info), ReferenceCheck::kNone);
}

TEST(VideoCodecReference, ShortChunksAndLongNames) {
  ReferenceInfo info;
  // Values past the end of the chunk read as zero.
  ASSERT_EQ(Detect("dvrs", std::string("\x01\x02\x03\x04\x05\x06", 6), info), ReferenceCheck::kReference);
  EXPECT_EQ(info.refBase, 0x04030201u);
  EXPECT_EQ(info.refFrame, 0x0605u);
  EXPECT_EQ(info.refFrame2, 0u);
  EXPECT_EQ(info.fileName, "");
  ASSERT_EQ(Detect("dvrs", "", info), ReferenceCheck::kReference);
  EXPECT_EQ(info.refBase, 0u);

  EXPECT_EQ(Detect("dvrs", RefRecord(0, 0, 0, std::string(259, 'N')), info), ReferenceCheck::kReference);
  EXPECT_EQ(info.fileName.size(), 259u);
  EXPECT_EQ(Detect("dvrs", RefRecord(0, 0, 0, std::string(260, 'N')), info), ReferenceCheck::kNameTooLong);
  EXPECT_EQ(info.fileName.size(), 260u);
}

// A "dvrs" stream and a "cdvc" stream of reference records into a DV file
// made by ffmpeg: the getter follows them and shows the referenced frames.
TEST(VideoCodecReference, FramesAreDecodedFromTheReferencedFile) {
  ScratchDir dir;
  std::string path = Encode(dir, "source.avi", "720x480", 2, "-c:v dvvideo -pix_fmt yuv411p");
  VideoFile v;
  ASSERT_TRUE(LoadVideoFile(path, v));
  ASSERT_EQ(v.packets.size(), 2u);
  ASSERT_EQ(v.packets[0].size, 120000u);
  std::vector<std::string> ref = ReferenceFrames(path, v.width, v.height);
  ASSERT_EQ(ref.size(), 2u);
  const std::string name = "C:\\CAPTURE\\SOURCE.AVI";

  std::vector<std::string> dvrs = {
      RefRecord(0, uint32_t(v.packets[1].pos), v.packets[1].size, name),
      RefRecord(0, uint32_t(v.packets[0].pos), v.packets[0].size, name),
      RefRecord(0, uint32_t(v.packets[1].pos), v.packets[1].size, "X:\\GONE.AVI")};
  std::vector<std::string> cdvc = {"REF " +
                                   RefRecord(uint32_t(v.packets[0].pos - 8), 0, 0, "").substr(0, 12) + name +
                                   std::string(3, '\0')};
  std::vector<std::string> names;
  auto sourceOf = [&](const std::vector<std::string>& chunks) {
    FrameGetter::Source s;
    s.isKeyFrame = [](uint32_t) { return true; };
    s.readChunk = [&chunks](uint32_t k, ChunkBytes& c) {
      c.keyFrame = true;
      return c.Assign(chunks[k].data(), chunks[k].size());
    };
    s.resolveReference = [&](const ReferenceInfo& info, ChunkBytes& out, std::string& error) {
      names.push_back(info.fileName);
      return ReadReferencedData(info.fileName == name ? path : dir.File("gone.avi"), info, out, error);
    };
    return s;
  };

  VideoDecompressor d;
  ASSERT_TRUE(d.Open(FourCC("dvrs"), v.format.data(), v.format.size())) << d.Error();
  size_t stride = BgrStride(v.width);
  std::vector<uint8_t> out(stride * v.height);
  FrameGetter g(d, FourCC("dvrs"), 3, sourceOf(dvrs));
  ASSERT_TRUE(g.GetFrame(0, out.data(), stride)) << g.Error();
  EXPECT_EQ(MaxDifference(out, stride, ref[1], v.width, v.height), 0);
  ASSERT_TRUE(g.GetFrame(1, out.data(), stride)) << g.Error();
  EXPECT_EQ(MaxDifference(out, stride, ref[0], v.width, v.height), 0);
  EXPECT_FALSE(g.GetFrame(2, out.data(), stride));  // the referenced file is missing
  EXPECT_FALSE(g.Error().empty());
  EXPECT_TRUE(AllZero(out));
  EXPECT_EQ(names, (std::vector<std::string>{name, name, "X:\\GONE.AVI"}));

  VideoDecompressor d2;
  ASSERT_TRUE(d2.Open(FourCC("cdvc"), v.format.data(), v.format.size())) << d2.Error();
  FrameGetter g2(d2, FourCC("cdvc"), 1, sourceOf(cdvc));
  ASSERT_TRUE(g2.GetFrame(0, out.data(), stride)) << g2.Error();
  EXPECT_EQ(MaxDifference(out, stride, ref[0], v.width, v.height), 0);

  // Without a way to reach other files a reference cannot be shown.
  FrameGetter::Source bare = sourceOf(dvrs);
  bare.resolveReference = nullptr;
  FrameGetter g3(d, FourCC("dvrs"), 3, bare);
  EXPECT_FALSE(g3.GetFrame(0, out.data(), stride));
  EXPECT_FALSE(g3.Error().empty());

  // A name that leads to a FIFO is not waited on, one that leads to a device
  // is not read: only regular files are referenced data.
  std::string fifo = dir.File("fifo.avi");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ReferenceInfo info;
  DetectReference(FourCC("dvrs"), reinterpret_cast<const uint8_t*>(dvrs[0].data()), dvrs[0].size(), info);
  ChunkBytes c;
  std::string error;
  EXPECT_FALSE(ReadReferencedData(fifo, info, c, error));
  EXPECT_FALSE(ReadReferencedData("/dev/zero", info, c, error));
  EXPECT_TRUE(ReadReferencedData(path, info, c, error)) << error;
}

// A delta chunk that yields no picture shows the one before it, one the
// decoder rejects shows black and fails; either way the frames after it keep
// their numbers, and stepping on costs one decode. An unreadable chunk fails
// the frames that need it.
TEST_F(VideoCodecFrameGetter, DeltaChunksWithoutAPicture) {
  const std::string noPicture = std::string("\x00\x00\x01\xB6\xFF\xFF\xFF", 7);
  const std::string rejected = std::string("\x00\x00\x01\x00", 4);
  FrameGetter::Source s = SourceOf(v_);
  s.readChunk = [&](uint32_t k, ChunkBytes& chunk) {
    chunk.keyFrame = v_.packets[k].key;
    if (k == 5) return chunk.Assign(noPicture.data(), noPicture.size());
    if (k == 35) return chunk.Assign(rejected.data(), rejected.size());
    if (k == 50) return false;  // unreadable
    return chunk.Assign(v_.bytes.data() + v_.packets[k].pos, v_.packets[k].size);
  };
  FrameGetter g(d_, v_.handler, 64, s);
  std::vector<uint8_t> out(stride_ * v_.height, 0x11);
  ASSERT_TRUE(g.GetFrame(5, out.data(), stride_)) << g.Error();
  EXPECT_EQ(out, sequential_[4]);
  uint64_t before = g.Decodes();
  EXPECT_TRUE(g.GetFrame(6, out.data(), stride_)) << g.Error();
  EXPECT_EQ(g.Decodes() - before, 1u);

  EXPECT_FALSE(g.GetFrame(35, out.data(), stride_));
  EXPECT_FALSE(g.Error().empty());
  EXPECT_TRUE(AllZero(out));
  std::fill(out.begin(), out.end(), 0x11);
  EXPECT_FALSE(g.GetFrame(35, out.data(), stride_));  // asked again: still failed
  EXPECT_TRUE(AllZero(out));
  before = g.Decodes();
  EXPECT_TRUE(g.GetFrame(36, out.data(), stride_)) << g.Error();
  EXPECT_EQ(g.Decodes() - before, 1u);
  std::fill(out.begin(), out.end(), 0x11);
  EXPECT_FALSE(g.GetFrame(52, out.data(), stride_));
  EXPECT_TRUE(AllZero(out));
  EXPECT_FALSE(g.GetFrame(64, out.data(), stride_));  // past the end
  // The next GOP is untouched by the damage.
  ASSERT_TRUE(g.GetFrame(61, out.data(), stride_));
  EXPECT_EQ(out, sequential_[61]);
  // Decoded on its own (the road of intra-only streams), a chunk without a
  // picture fails instead of passing the picture before it off as its own.
  std::string key = v_.Chunk(0);
  ASSERT_TRUE(d_.Decompress(key.data(), key.size(), true, out.data(), stride_)) << d_.Error();
  EXPECT_FALSE(d_.Decompress(noPicture.data(), noPicture.size(), false, out.data(), stride_));
  EXPECT_TRUE(AllZero(out));
}

}  // namespace

namespace {

// The raw decoder hands out pictures that point into the chunk buffer: reusing
// the buffer for the next chunk must not change the current picture.
TEST(VideoCodecDecompress, ChunkBufferReusedWhileThePicturePointsIntoIt) {
  ScratchDir dir;
  std::string path = Encode(dir, "yuy2.avi", "64x48", 1, "-c:v rawvideo -pix_fmt yuyv422");
  VideoFile v;
  ASSERT_TRUE(LoadVideoFile(path, v));
  std::vector<std::string> ref = ReferenceFrames(path, v.width, v.height);
  ASSERT_EQ(ref.size(), 1u);
  VideoDecompressor d;
  ASSERT_TRUE(d.Open(v.handler, v.format.data(), v.format.size()));
  size_t stride = BgrStride(v.width);
  std::vector<uint8_t> out(stride * v.height);
  std::string first = v.Chunk(0), other = first;
  for (char& b : other) b = static_cast<char>(~b);
  ChunkBytes chunk;
  ASSERT_TRUE(chunk.Assign(first.data(), first.size()));
  ASSERT_TRUE(d.Decompress(chunk, out.data(), stride));
  ASSERT_TRUE(chunk.Assign(other.data(), other.size()));
  ASSERT_TRUE(d.RepeatLast(out.data(), stride));
  EXPECT_EQ(MaxDifference(out, stride, ref[0], v.width, v.height), 0);
}

}  // namespace

// The report names codecs from the table made at build time instead of
// opening decoders: for every codec libavformat has a tag for, under the tag
// in either case, as handler or as biCompression only, the table must give
// what opening the decoder gives.
TEST(VideoCodecNames, TableAgreesWithOpeningTheDecoder) {
  const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
  std::vector<uint32_t> tags;
  const AVCodecDescriptor* desc = nullptr;
  while ((desc = avcodec_descriptor_next(desc))) {
    unsigned tag = 0;
    if (desc->type == AVMEDIA_TYPE_VIDEO && av_codec_get_tag2(tables, desc->id, &tag) && tag)
      tags.push_back(tag);
  }
  ASSERT_GT(tags.size(), 50u);
  auto lower = [](uint32_t t) {
    uint32_t out = 0;
    for (int i = 0; i < 4; ++i) out |= static_cast<uint32_t>(std::tolower((t >> (8 * i)) & 0xFF)) << (8 * i);
    return out;
  };
  std::vector<std::pair<uint32_t, uint32_t>> cases = {
      {FourCC("dvrs"), 0}, {FourCC("DVRS"), FourCC("ABCD")}, {FourCC("ABCD"), FourCC("WXYZ")}, {0, 0}};
  for (uint32_t t : tags) {
    cases.push_back({t, t});
    cases.push_back({lower(t), 0});
    cases.push_back({0, t});
    cases.push_back({FourCC("ABCD"), t});
    cases.push_back({t, FourCC("WXYZ")});
  }
  uint8_t format[40] = {};
  PutLE32(format, 40);
  PutLE32(format + 4, 64);
  PutLE32(format + 8, 48);
  PutLE16(format + 12, 1);
  PutLE16(format + 14, 24);
  int opened = 0, missing = 0;
  for (auto [handler, compression] : cases) {
    SCOPED_TRACE(FourCCText(handler) + "/" + FourCCText(compression));
    PutLE32(format + 16, compression);
    VideoDecompressor d;
    bool open = d.Open(handler, format, sizeof format);
    std::string name;
    bool named = LookUpVideoCodecName(handler, compression, &name);
    // libavformat's own lookup of a handler alone picks the same codec.
    AVCodecID byFfmpeg = av_codec_get_id(tables, handler);
    VideoCodecChoice choice;
    if (compression == 0 && handler && byFfmpeg != AV_CODEC_ID_NONE && avcodec_find_decoder(byFfmpeg)) {
      ASSERT_TRUE(ChooseVideoCodec(handler, compression, &choice));
      EXPECT_EQ(choice.codecId, static_cast<int>(byFfmpeg));
    }
    if (open) {
      ++opened;
      EXPECT_TRUE(named);
      EXPECT_EQ(name, d.Description());
    } else if (d.Error().rfind("no decoder", 0) == 0) {
      ++missing;
      EXPECT_FALSE(named) << name;
    } else {
      // The decoder exists but wants more than a bare header to open.
      EXPECT_TRUE(named) << d.Error();
    }
  }
  EXPECT_GT(opened, 100);
  EXPECT_GT(missing, 3);
}

// The compressors write what the decoders read: each stored chunk decoded,
// compressed again and decoded once more gives the picture back (exactly for
// lossless codecs, whose chunk comes back byte for byte), in a chunk of the
// stored size where the codec's size is fixed.
TEST(VideoCompressor, ChunksReadBackAsThePictureTheyWereMadeOf) {
  ScratchDir dir;
  struct Case {
    const char* name;
    const char* size;
    const char* args;
    int tolerance;  // mean difference in tenths; -1: the very same chunk
    bool sameSize;
  } cases[] = {
      {"huffyuv.avi", "64x48", "-c:v huffyuv -pix_fmt rgb24", -1, true},
      {"ffvhuff.avi", "64x48", "-c:v ffvhuff -pix_fmt yuv422p", 15, false},
      {"yuy2.avi", "64x48", "-c:v rawvideo -pix_fmt yuyv422", 15, true},
      {"uyvy.avi", "64x48", "-c:v rawvideo -pix_fmt uyvy422", 15, true},
      {"mjpeg.avi", "64x48", "-c:v mjpeg -pix_fmt yuvj422p -q:v 2", 40, false},
      {"dvpal.avi", "720x576", "-c:v dvvideo -pix_fmt yuv420p", 40, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = Encode(dir, c.name, c.size, 1, c.args);
    VideoFile v;
    ASSERT_TRUE(LoadVideoFile(path, v));
    size_t stride = BgrStride(v.width);
    std::vector<uint8_t> picture(stride * v.height), again(picture.size());
    VideoDecompressor d;
    ASSERT_TRUE(d.Open(v.handler, v.format.data(), v.format.size())) << d.Error();
    std::string stored = v.Chunk(0);
    ASSERT_TRUE(d.Decompress(stored.data(), stored.size(), true, picture.data(), stride)) << d.Error();
    VideoCompressor e;
    ASSERT_TRUE(e.Open(v.handler, v.format.data(), v.format.size(), 25, 1)) << e.Error();
    std::vector<uint8_t> chunk;
    ASSERT_TRUE(e.Compress(picture.data(), stride, chunk)) << e.Error();
    if (c.sameSize) {
      EXPECT_EQ(chunk.size(), stored.size());
    }
    if (c.tolerance < 0) {
      EXPECT_TRUE(std::string(chunk.begin(), chunk.end()) == stored);
    }
    ASSERT_TRUE(d.Decompress(chunk.data(), chunk.size(), true, again.data(), stride)) << d.Error();
    // Subsampled chroma blurs colour edges once more: the mean tells.
    double sum = 0;
    for (int y = 0; y < v.height; ++y)
      for (size_t x = 0; x < static_cast<size_t>(v.width) * 3; ++x)
        sum += std::abs(int(again[y * stride + x]) - int(picture[y * stride + x]));
    EXPECT_LE(sum / (v.width * 3.0 * v.height), std::max(c.tolerance, 0) / 10.0);
  }
}

// Every encoder offered for a new file writes chunks that our own decoder
// reads back from the format it gives; DV takes only its own sizes.
TEST(VideoEncoder, ListedEncodersReadBackAndDvRefusesOtherSizes) {
  const std::vector<VideoEncoderInfo> list = VideoEncoderList();
  auto listed = [&](uint32_t fcc) {
    return std::any_of(list.begin(), list.end(), [&](const VideoEncoderInfo& e) { return e.fourcc == fcc; });
  };
  EXPECT_TRUE(listed(FourCC("dvsd")) && listed(FourCC("MJPG")) && listed(FourCC("FFV1"))) << list.size();
  for (const VideoEncoderInfo& e : list) {
    SCOPED_TRACE(FourCCText(e.fourcc));
    const bool dv = e.fourcc == FourCC("dvsd");
    const int w = dv ? 720 : 64, h = dv ? 480 : 48;
    std::vector<uint8_t> frame(BgrStride(w) * h);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7 / 3);
    // Every main setting of the configure step, with each value it offers,
    // is one the encoder takes.
    for (const VideoEncoderSetting& s : VideoEncoderSettings(e.fourcc)) {
      std::vector<std::string> values = s.choices;
      if (values.empty()) values = {std::to_string(s.minimum), std::to_string(s.maximum)};
      for (const std::string& value : values) {
        std::string text;
        for (const std::string& k : s.keys) text += (text.empty() ? "" : ":") + k + "=" + value;
        VideoEncoder configured;
        EXPECT_TRUE(configured.Open(e.fourcc, w, h, 30000, 1001, text)) << text << ": " << configured.Error();
      }
    }
    VideoEncoder enc;
    ASSERT_TRUE(enc.Open(e.fourcc, w, h, 30000, 1001)) << enc.Error();
    std::vector<uint8_t> chunk;
    bool key = false;
    ASSERT_TRUE(enc.Compress(frame.data(), BgrStride(w), chunk, &key)) << enc.Error();
    EXPECT_TRUE(key);
    EXPECT_LE(chunk.size(), enc.SuggestedBufferSize());
    VideoDecompressor dec;
    ASSERT_TRUE(dec.Open(e.fourcc, enc.Format().data(), enc.Format().size())) << dec.Error();
    std::vector<uint8_t> out(frame.size());
    ASSERT_TRUE(dec.Decompress(chunk.data(), chunk.size(), true, out.data(), BgrStride(w))) << dec.Error();
    EXPECT_EQ(dec.Width(), w);
    EXPECT_EQ(dec.Height(), h);
  }
  VideoEncoder dv;
  EXPECT_FALSE(dv.Open(FourCC("dvsd"), 640, 480, 30000, 1001));
  EXPECT_FALSE(dv.Error().empty());
}
