#include "platform/Riff.h"

#include <cstring>
#include <vector>

#include "platform/RiffFormats.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

TEST(Riff, CreatedChunksGetSizesAndPadding) {
  ScratchDir dir;
  std::string f = dir.File("a.wav");
  RiffFile w;
  ASSERT_TRUE(w.Open(f, RiffFile::ModeCreate));
  ChunkInfo riff, fmt, data;
  riff.fccType = FourCC("WAVE");
  ASSERT_TRUE(w.CreateChunk(&riff, kCreateRiff));
  fmt.ckid = FourCC("fmt ");
  ASSERT_TRUE(w.CreateChunk(&fmt, 0));
  ASSERT_TRUE(w.Write("abc", 3));  // odd: a pad byte follows
  ASSERT_TRUE(w.Ascend(&fmt));
  data.ckid = FourCC("data");
  ASSERT_TRUE(w.CreateChunk(&data, 0));
  ASSERT_TRUE(w.Write("0123", 4));
  ASSERT_TRUE(w.Ascend(&data));
  ASSERT_TRUE(w.Ascend(&riff));
  ASSERT_TRUE(w.Close());
  std::string expect = ListChunk("RIFF", "WAVE", Chunk("fmt ", "abc") + Chunk("data", "0123"));
  EXPECT_EQ(ReadFileBytes(f), expect);
}

TEST(Riff, DescendFindsChunksInsideTheParentOnly) {
  ScratchDir dir;
  std::string f = dir.File("a.avi");
  std::string inner = ListChunk("LIST", "hdrl", Chunk("avih", std::string(56, 'x')) + Chunk("JUNK", "odd"));
  WriteFileBytes(f, ListChunk("RIFF", "AVI ", inner + Chunk("idx1", "")) + Chunk("tail", "zz"));
  RiffFile r;
  ASSERT_TRUE(r.Open(f, RiffFile::ModeRead));
  ChunkInfo riff, hdrl, ck;
  riff.fccType = FourCC("AVI ");
  ASSERT_TRUE(r.Descend(&riff, nullptr, kFindRiff));
  EXPECT_EQ(riff.dwDataOffset, 8u);
  hdrl.fccType = FourCC("hdrl");
  ASSERT_TRUE(r.Descend(&hdrl, &riff, kFindList));
  ck.ckid = FourCC("JUNK");
  ASSERT_TRUE(r.Descend(&ck, &hdrl, kFindChunk));
  EXPECT_EQ(ck.cksize, 3u);
  char buf[3];
  ASSERT_TRUE(r.ReadExact(buf, 3));
  EXPECT_EQ(std::string(buf, 3), "odd");
  ASSERT_TRUE(r.Ascend(&ck));
  ck.ckid = FourCC("idx1");
  EXPECT_FALSE(r.Descend(&ck, &hdrl, kFindChunk));  // idx1 lies outside hdrl
  EXPECT_EQ(r.LastError(), RiffError::NotFound);
  ASSERT_TRUE(r.Seek(static_cast<int64_t>(hdrl.PaddedEnd())) >= 0);
  ASSERT_TRUE(r.Descend(&ck, &riff, kFindChunk));
  ck.ckid = FourCC("tail");
  r.Seek(static_cast<int64_t>(riff.dwDataOffset + 4));
  EXPECT_FALSE(r.Descend(&ck, &riff, kFindChunk));  // behind the RIFF, not inside it
}

TEST(Riff, TruncatedHeadersFailCleanly) {
  ScratchDir dir;
  std::string f = dir.File("t.avi");
  WriteFileBytes(f, std::string("RIFF\xff\xff\xff\x7f"
                                "AV",
                                10));
  RiffFile r;
  ASSERT_TRUE(r.Open(f, RiffFile::ModeRead));
  ChunkInfo riff;
  riff.fccType = FourCC("AVI ");
  EXPECT_FALSE(r.Descend(&riff, nullptr, kFindRiff));
  // A chunk whose size points far past the end: the search stops, it does not loop.
  WriteFileBytes(f, Chunk("JUNK", "ab") + std::string("LIST\xf0\xff\xff\xff", 8));
  ASSERT_TRUE(r.Open(f, RiffFile::ModeRead));
  ChunkInfo ck;
  ck.ckid = FourCC("data");
  EXPECT_FALSE(r.Descend(&ck, nullptr, kFindChunk));
}

TEST(Riff, FourCCHelpers) {
  EXPECT_EQ(FourCC("RIFF"), 0x46464952u);
  EXPECT_EQ(FourCCText(FourCC("dvsd")), "dvsd");
  EXPECT_EQ(FourCCText(0x00445644u), "DVD?");
  uint8_t b[8];
  PutLE64(b, 0x0102030405060708ull);
  EXPECT_EQ(GetLE64(b), 0x0102030405060708ull);
  EXPECT_EQ(GetLE16(b), 0x0708);
}

TEST(RiffFormats, BoundedReaderAndTheFormatsItParses) {
  // A read past the end fails the reader for good and yields zeros.
  const uint8_t bytes[] = {1, 2, 3, 4, 5};
  ByteReader r(bytes, sizeof bytes);
  EXPECT_EQ(r.U32(), 0x04030201u);
  EXPECT_EQ(r.U16(), 0u);
  EXPECT_TRUE(r.Failed());
  EXPECT_EQ(r.U8(), 0u);

  // WAVE_FORMAT_EXTENSIBLE: the sub-format names the effective tag; a GUID
  // that is no tag's leaves 0xFFFE.
  WaveFormatInfo info;
  info.wf = {kWaveFormatExtensible, 2, 48000, 288000, 6, 24, 22};
  info.validBits = 20;
  info.channelMask = 3;
  const uint8_t pcm[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  std::memcpy(info.subFormat, pcm, 16);
  uint8_t stored[kWaveFormatExtensibleBytes];
  StoreWaveFormatExtensible(info, stored);
  WaveFormatInfo back = ParseWaveFormatInfo(stored, sizeof stored);
  EXPECT_TRUE(back.extensible);
  EXPECT_EQ(back.effectiveTag, kWaveFormatPcm);
  EXPECT_EQ(back.validBits, 20);
  EXPECT_EQ(back.channelMask, 3u);
  EXPECT_EQ(back.wf.nBlockAlign, 6);
  stored[kWaveFormatExBytes + 6 + 15] ^= 1;
  EXPECT_EQ(ParseWaveFormatInfo(stored, sizeof stored).effectiveTag, kWaveFormatExtensible);
  EXPECT_FALSE(ParseWaveFormatInfo(stored, sizeof stored - 1).extensible);

  // BITMAPINFO: the palette starts at biSize and holds what the format has,
  // the masks follow the 40 bytes.
  BitmapInfoHeader bi{};
  bi.biSize = 44;
  bi.biWidth = 8;
  bi.biHeight = -kMaxFrameSide;
  bi.biPlanes = 1;
  bi.biBitCount = 8;
  std::vector<uint8_t> format(44 + 4 * 3);
  StoreBitmapInfoHeader(bi, format.data());
  BitmapInfo parsed;
  ASSERT_TRUE(ParseBitmapInfo(format.data(), format.size(), &parsed));
  EXPECT_EQ(parsed.palette, format.data() + 44);
  EXPECT_EQ(parsed.paletteEntries, 3u);
  EXPECT_EQ(parsed.Rows(), kMaxFrameSide);
  EXPECT_TRUE(FrameSizeUsable(parsed.Width(), parsed.header.biHeight));
  EXPECT_FALSE(FrameSizeUsable(kMaxFrameSide + 1, 1));
  EXPECT_FALSE(ParseBitmapInfo(format.data(), 39, &parsed));
  bi.biCompression = kBiBitfields;
  StoreBitmapInfoHeader(bi, format.data());
  PutLE32(format.data() + 40, 0xF800);
  ASSERT_TRUE(ParseBitmapInfo(format.data(), 52, &parsed));
  EXPECT_TRUE(parsed.hasMasks);
  EXPECT_EQ(parsed.masks[0], 0xF800u);
  ASSERT_TRUE(ParseBitmapInfo(format.data(), 51, &parsed));
  EXPECT_FALSE(parsed.hasMasks);
}
