// Processed frames written back over their chunks: files the ffmpeg tool
// makes (uncompressed, DV, delta frames) and a DV reference file built here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AviBuilder.h"
#include "TestSupport.h"
#include "frame/Capture.h"
#include "process/FrameWriteBack.h"

namespace {

struct Env {
  RecordingHost host;
  ScratchDir dir;
  Capture cap;

  std::string Make(const std::string& name, const std::string& args, const std::string& size) {
    std::string path = dir.File(name);
    int rc = RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=" + size + ":rate=25 -frames:v 4 " +
                        args + " '" + path + "'");
    return rc == 0 ? path : std::string();
  }
  bool Open(const std::string& path) {
    if (!cap.table.OpenNamedFile(path)) return false;
    const BitmapInfoHeader& bi = cap.table.pOpenAviList[0].biDecoded;
    return cap.reader.AllocateBuffers(bi.biWidth, std::abs(bi.biHeight));
  }
  OpenAviFile* Owner() { return &cap.table.pOpenAviList[0]; }
  const FrameGeometry& G() const { return cap.reader.framePool.geometry; }
  std::vector<uint8_t> Read(uint32_t frame) {
    std::vector<uint8_t> px(G().frameBytes);
    EXPECT_TRUE(cap.reader.ReadFrame(nullptr, px.data(), nullptr, frame, RF_NO_RECORD)) << frame;
    return px;
  }
  // Inverts a box of the picture (the processing of these tests).
  void Invert(std::vector<uint8_t>& px) {
    for (int r = 8; r < 30; ++r)
      for (size_t b = 15; b < 3 * 40; ++b) px[G().stride * r + b] ^= 0xFF;
  }
  // Mean difference of two pictures inside that box.
  double BoxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double sum = 0;
    for (int r = 8; r < 30; ++r)
      for (size_t i = G().stride * r + 15; i < G().stride * r + 3 * 40; ++i) sum += std::abs(a[i] - b[i]);
    return sum / (22 * 105);
  }
  // The file as it was with `chunk` over the data of frame `frame`.
  void Patch(std::string& file, uint32_t frame, const std::vector<uint8_t>& chunk) {
    uint64_t at = IndexOffset(Owner()->sets[0].pFrameIndex[frame]);
    file.replace(at, chunk.size(), reinterpret_cast<const char*>(chunk.data()), chunk.size());
  }
};

double MeanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += std::abs(a[i] - b[i]);
  return sum / static_cast<double>(a.size());
}

TEST(FrameWriteBack, UncompressedFramesComeBackExactlyAndNothingElseMoves) {
  Env env;
  // 66 pixels: rows carry padding to a multiple of 4 bytes.
  std::string path = env.Make("rgb.avi", "-c:v rawvideo -pix_fmt bgr24", "66x48");
  ASSERT_FALSE(path.empty());
  ASSERT_TRUE(env.Open(path));
  const std::string original = ReadFileBytes(path);
  FrameWriteBack wb;

  // Unchanged pictures written back leave the file as it was.
  for (uint32_t f = 0; f < 4; ++f) {
    std::vector<uint8_t> px = env.Read(f);
    EXPECT_EQ(wb.Write(env.Owner(), f, f, px.data(), env.G().stride), "");
  }
  EXPECT_EQ(ReadFileBytes(path), original);

  // Processed pictures: read back as written, and only their chunks changed.
  std::vector<uint8_t> one = env.Read(1), three = env.Read(3);
  env.Invert(one);
  env.Invert(three);
  ASSERT_EQ(wb.Write(env.Owner(), 1, 1, one.data(), env.G().stride), "");
  ASSERT_EQ(wb.Write(env.Owner(), 3, 3, three.data(), env.G().stride), "");
  wb.Close();
  EXPECT_EQ(env.Read(1), one);
  EXPECT_EQ(env.Read(3), three);
  std::string expected = original;
  std::vector<uint8_t> chunk(IndexSize(env.Owner()->sets[0].pFrameIndex[1]));
  ASSERT_TRUE(ConvertFromStreamFormat(env.Owner(), one.data(), one.size(), chunk.data(), chunk.size(),
                                      ConvertDirection::FromRgb));
  env.Patch(expected, 1, chunk);
  ASSERT_TRUE(ConvertFromStreamFormat(env.Owner(), three.data(), three.size(), chunk.data(), chunk.size(),
                                      ConvertDirection::FromRgb));
  env.Patch(expected, 3, chunk);
  EXPECT_EQ(ReadFileBytes(path), expected);

  // A chunk of another size than the picture makes: refused, nothing written.
  FrameIndexEntry& e = env.Owner()->sets[0].pFrameIndex[2];
  e = MakeIndexEntry(IndexOffset(e), IndexSize(e) - 4, false, false);
  std::vector<uint8_t> two = env.Read(0);
  EXPECT_EQ(wb.Write(env.Owner(), 2, 2, two.data(), env.G().stride),
            path + "のフレーム圧縮サイズが一致しません!");
  EXPECT_EQ(ReadFileBytes(path), expected);
}

TEST(FrameWriteBack, DvFramesAreTheCompressorsAndLookProcessed) {
  Env env;
  std::string path = env.Make("dv.avi", "-r 30000/1001 -c:v dvvideo -pix_fmt yuv411p", "720x480");
  ASSERT_FALSE(path.empty());
  ASSERT_TRUE(env.Open(path));
  const std::string original = ReadFileBytes(path);
  std::vector<uint8_t> before = env.Read(2), px = before;
  env.Invert(px);
  FrameWriteBack wb;
  ASSERT_EQ(wb.Write(env.Owner(), 2, 2, px.data(), env.G().stride), "");
  wb.Close();

  VideoCompressor dv;
  const OpenAviFile* o = env.Owner();
  ASSERT_TRUE(dv.Open(o->fccVideoHandler, o->pbiVideo.data(), o->pbiVideo.size(), o->sets[0].strhVideo.dwRate,
                      o->sets[0].strhVideo.dwScale))
      << dv.Error();
  std::vector<uint8_t> chunk;
  ASSERT_TRUE(dv.Compress(px.data(), env.G().stride, chunk));
  ASSERT_EQ(chunk.size(), 120000u);
  std::string expected = original;
  env.Patch(expected, 2, chunk);
  EXPECT_EQ(ReadFileBytes(path), expected);
  // Lossy, but the frame read back is the processed picture, upright.
  std::vector<uint8_t> after = env.Read(2);
  EXPECT_LT(MeanDifference(after, px), 3.0);
  EXPECT_LT(env.BoxDifference(after, px), 16.0);
  EXPECT_GT(env.BoxDifference(before, px), 60.0);
}

TEST(FrameWriteBack, DeltaFramesAreRefused) {
  Env env;
  std::string path = env.Make("delta.avi", "-c:v mpeg4 -g 3", "64x48");
  ASSERT_FALSE(path.empty());
  ASSERT_TRUE(env.Open(path));
  const std::string original = ReadFileBytes(path);
  std::vector<uint8_t> px = env.Read(0);
  FrameWriteBack wb;
  EXPECT_EQ(wb.Write(env.Owner(), 0, 0, px.data(), env.G().stride),
            path + "にはキーフレーム以外のフレームがあるので上書きできません!");
  EXPECT_EQ(ReadFileBytes(path), original);
}

// A "dvrs" stream whose chunks point into a file of DV frames: the picture
// goes there, once the chunk there is checked.
TEST(FrameWriteBack, ReferencedFramesAreWrittenIntoTheirFile) {
  Env env;
  std::string dvPath = env.Make("src.avi", "-r 30000/1001 -c:v dvvideo -pix_fmt yuv411p", "720x480");
  ASSERT_FALSE(dvPath.empty());
  ASSERT_TRUE(env.Open(dvPath));
  std::vector<uint8_t> px = env.Read(1);
  env.Invert(px);
  const std::string dvFrame =
      ReadFileBytes(dvPath).substr(IndexOffset(env.Owner()->sets[0].pFrameIndex[0]), 120000);
  env.cap.table.CloseAllOpenAvi();

  // The referenced file: 16 bytes, then one 00db chunk of a DV frame.
  std::string target = std::string(16, 'x') + "00db";
  Put32(target, 120000);
  target += dvFrame;
  const std::string refPath = env.dir.File("REF.DAT");
  ASSERT_TRUE(WriteFileBytes(refPath, target));
  std::string record;
  Put32(record, 0);  // the name's CRC, not read here
  Put32(record, 24);
  Put32(record, 120000);
  record += std::string("REF.DAT\0", 8);
  AviBuildOptions o;
  o.width = 720;
  o.height = 480;
  o.handler = "dvrs";
  o.compression = FourCC("dvsd");
  o.rate = 30000;
  o.scale = 1001;
  o.frames = Frames(2, static_cast<uint32_t>(record.size()));
  AviLayout layout = BuildAvi(o);
  for (uint64_t at : layout.videoData) layout.bytes.replace(at, record.size(), record);
  const std::string owner = env.dir.File("owner.avi");
  ASSERT_TRUE(WriteFileBytes(owner, layout.bytes));
  ASSERT_TRUE(env.Open(owner));
  ASSERT_FALSE(env.Owner()->fCodecFailed);

  FrameWriteBack wb;
  ASSERT_EQ(wb.Write(env.Owner(), 1, 1, px.data(), env.G().stride), "");
  wb.Close();
  VideoCompressor dv;
  ASSERT_TRUE(
      dv.Open(FourCC("dvsd"), env.Owner()->pbiVideo.data(), env.Owner()->pbiVideo.size(), 30000, 1001));
  std::vector<uint8_t> chunk;
  ASSERT_TRUE(dv.Compress(px.data(), env.G().stride, chunk));
  std::string expected = target.substr(0, 24) + std::string(chunk.begin(), chunk.end());
  EXPECT_EQ(ReadFileBytes(refPath), expected);
  EXPECT_EQ(ReadFileBytes(owner), layout.bytes);

  // A chunk there that is not 00db is left alone.
  std::string other = expected;
  other.replace(16, 4, "00dc");
  ASSERT_TRUE(WriteFileBytes(refPath, other));
  EXPECT_EQ(wb.Write(env.Owner(), 0, 0, env.Read(0).data(), env.G().stride),
            "参照ファイル" + refPath + "のチャンクIDが00dbではありません!");
  EXPECT_EQ(ReadFileBytes(refPath), other);
}

}  // namespace
