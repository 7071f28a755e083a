// The video codec layer against independent decodes: files are made by the
// ffmpeg tool at test time (or taken from the shared samples), the expected
// pixels are ffmpeg's own decode converted to bgr24 and flipped.
#include "platform/VideoCodec.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <sstream>

#include "TestSupport.h"
#include "platform/Riff.h"

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
void ExpectSameAsFfmpeg(const std::string& path, int tolerance, uint32_t expectHandler = 0, int frames = 0,
                        bool viaGetter = false) {
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
};

class VideoCodecAgainstFfmpeg : public testing::TestWithParam<CodecCase> {};

TEST_P(VideoCodecAgainstFfmpeg, DecodesLikeFfmpeg) {
  const CodecCase& c = GetParam();
  ScratchDir dir;
  std::string path = Encode(dir, std::string(c.name) + ".avi", c.size, c.frames, c.args);
  ASSERT_FALSE(path.empty()) << "ffmpeg could not make " << c.name;
  ExpectSameAsFfmpeg(path, c.tolerance, FourCC(*reinterpret_cast<const char(*)[5]>(c.handler)));
}

INSTANTIATE_TEST_SUITE_P(
    VideoCodec, VideoCodecAgainstFfmpeg,
    testing::Values(
        CodecCase{"dv_ntsc", "720x480", 2, "-c:v dvvideo -pix_fmt yuv411p", "dvsd", kLossyTolerance},
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
        CodecCase{"h264", "160x120", 6, "-c:v libx264 -preset ultrafast -bf 0 -g 3 -pix_fmt yuv420p", "H264",
                  kLossyTolerance},
        CodecCase{"yuy2", "64x48", 2, "-c:v rawvideo -pix_fmt yuyv422", "YUY2", 0},
        CodecCase{"uyvy", "64x48", 2, "-c:v rawvideo -pix_fmt uyvy422", "UYVY", 0},
        CodecCase{"i420", "64x48", 2, "-c:v rawvideo -pix_fmt yuv420p", "I420", 0},
        CodecCase{"yv12", "64x48", 2, "-c:v rawvideo -pix_fmt yuv420p -vtag YV12", "YV12", 0},
        CodecCase{"v210", "64x48", 2, "-c:v v210", "v210", 0}),
    [](const testing::TestParamInfo<CodecCase>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// Real files written by other programs: the codecs ffmpeg cannot make here
// (gray Cinepak, 8-bit paletted MS Video 1) and streams from other encoders.
TEST(VideoCodecSamples, DecodeLikeFfmpeg) {
  struct Sample {
    const char* file;
    int frames;
  };
  const Sample samples[] = {
      {"cinepak_gray_pcm8_idx1_pcitva15.avi", 6},
      {"msvideo1_8bit_palette_idx1_skating.avi", 6},
      {"msvideo1_16bit_rec_lists_junk_clock.avi", 4},
      {"camera_sunplus_spmp_mjpeg_pcm_idx1_info_after_idx1.avi", 2},
      {"divx5_mp3_idx1_mimetype.avi", 6},
      {"ffmpeg_mpeg4_mp3_idx1_audio_keyframe_flags_cleared.avi", 4},
      {"ffmpeg_h264_mp3_audio_strh_length_too_large.avi", 6},
      {"msmpeg4v1_odml_idx1_trailing_junk_mpg4.avi", 4},
  };
  for (const Sample& s : samples) ExpectSameAsFfmpeg(SamplePath(s.file), kLossyTolerance, 0, s.frames, true);
}

}  // namespace
