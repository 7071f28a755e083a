#include "frame/Convert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/Riff.h"

namespace {

// A BITMAPINFOHEADER with optional masks or palette behind it.
std::vector<uint8_t> Format(int w, int h, int bits, uint32_t compression,
                            const std::vector<uint32_t>& extra = {}, uint32_t clrUsed = 0) {
  std::vector<uint8_t> f(40 + extra.size() * 4);
  PutLE32(&f[0], 40);
  PutLE32(&f[4], static_cast<uint32_t>(w));
  PutLE32(&f[8], static_cast<uint32_t>(h));
  PutLE16(&f[12], 1);
  PutLE16(&f[14], static_cast<uint16_t>(bits));
  PutLE32(&f[16], compression);
  PutLE32(&f[32], clrUsed);
  for (size_t i = 0; i < extra.size(); ++i) PutLE32(&f[40 + 4 * i], extra[i]);
  return f;
}

// Palette entries are RGBQUADs: blue, green, red, 0 → little-endian 0x00RRGGBB.
constexpr uint32_t kBlack = 0x000000, kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

struct Rgb {
  int b, g, r;
  bool operator==(const Rgb& o) const { return b == o.b && g == o.g && r == o.r; }
};
std::ostream& operator<<(std::ostream& os, const Rgb& c) {
  return os << "(" << c.r << "," << c.g << "," << c.b << ")";
}

Rgb PixelAt(const std::vector<uint8_t>& frame, int w, int row, int x) {
  const uint8_t* p = &frame[static_cast<size_t>(row) * RgbStride(w) + static_cast<size_t>(x) * 3];
  return {p[0], p[1], p[2]};
}

std::vector<uint8_t> ToRgb(const std::vector<uint8_t>& fmt, const std::vector<uint8_t>& src, int w, int h,
                           bool* ok) {
  std::vector<uint8_t> out(RgbStride(w) * static_cast<size_t>(h), 0xAA);
  *ok = ConvertToRgb(fmt.data(), fmt.size(), src.data(), src.size(), out.data(), out.size());
  return out;
}

const Rgb kGreyPx{0x80, 0x80, 0x80};

}  // namespace

TEST(ConvertToRgb, BitFieldsScaleFiveBitChannelsTo254) {
  // 16-bit default 5-5-5: white, pure red, and one step of blue.
  auto fmt = Format(3, 1, 16, 0);
  std::vector<uint8_t> src(8, 0);
  PutLE16(&src[0], 0x7FFF);
  PutLE16(&src[2], 0x7C00);
  PutLE16(&src[4], 0x0001);
  bool ok;
  auto out = ToRgb(fmt, src, 3, 1, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(PixelAt(out, 3, 0, 0), (Rgb{254, 254, 254}));
  EXPECT_EQ(PixelAt(out, 3, 0, 1), (Rgb{0, 0, 254}));
  EXPECT_EQ(PixelAt(out, 3, 0, 2), (Rgb{8, 0, 0}));  // 1 × 33692 >> 12

  // 5-6-5 through bit fields: green has 6 bits, 63 × floor(0xFF000 / 63) >> 12 = 254.
  auto f565 = Format(1, 1, 16, 3, {0xF800, 0x07E0, 0x001F});
  std::vector<uint8_t> g(4, 0);
  PutLE16(&g[0], 0x07E0);
  out = ToRgb(f565, g, 1, 1, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(PixelAt(out, 1, 0, 0), (Rgb{0, 254, 0}));

  // 32-bit without bit fields keeps its three bytes; with bit fields 8-bit channels stay exact.
  auto f32 = Format(1, 1, 32, 0);
  std::vector<uint8_t> p32 = {0x12, 0x34, 0x56, 0x78};
  out = ToRgb(f32, p32, 1, 1, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(PixelAt(out, 1, 0, 0), (Rgb{0x12, 0x34, 0x56}));
  auto f32bf = Format(1, 1, 32, 3, {0x0000FF00, 0x00FF0000, 0xFF000000});  // red, green, blue masks
  out = ToRgb(f32bf, p32, 1, 1, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(PixelAt(out, 1, 0, 0), (Rgb{0x78, 0x56, 0x34}));

  // A zero mask gives a zero channel, not a division by zero.
  auto fzero = Format(1, 1, 16, 3, {0, 0x03E0, 0x001F});
  out = ToRgb(fzero, src, 1, 1, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(PixelAt(out, 1, 0, 0).r, 0);
  // Bit fields announced without their masks are refused.
  auto fshort = Format(1, 1, 16, 3);
  ToRgb(fshort, src, 1, 1, &ok);
  EXPECT_FALSE(ok);
}

TEST(ConvertToRgb, PalettedDepthsAndRowPadding) {
  // 1-bit, 9 pixels wide: rows are padded to 4 bytes, bit 7 first.
  auto f1 = Format(9, 2, 1, 0, {kBlack, kRed}, 2);
  std::vector<uint8_t> s1 = {0xA0, 0x80, 0, 0, 0x01, 0x00, 0, 0};
  bool ok;
  auto out = ToRgb(f1, s1, 9, 2, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(PixelAt(out, 9, 0, 0), (Rgb{0, 0, 255}));
  EXPECT_EQ(PixelAt(out, 9, 0, 1), (Rgb{0, 0, 0}));
  EXPECT_EQ(PixelAt(out, 9, 0, 2), (Rgb{0, 0, 255}));
  EXPECT_EQ(PixelAt(out, 9, 0, 8), (Rgb{0, 0, 255}));
  EXPECT_EQ(PixelAt(out, 9, 1, 7), (Rgb{0, 0, 255}));
  EXPECT_EQ(PixelAt(out, 9, 1, 8), (Rgb{0, 0, 0}));

  // 4-bit: high nibble first.
  auto f4 = Format(3, 1, 4, 0, {kBlack, kRed, kGreen, kBlue}, 4);
  std::vector<uint8_t> s4 = {0x12, 0x30, 0, 0};
  out = ToRgb(f4, s4, 3, 1, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(PixelAt(out, 3, 0, 0), (Rgb{0, 0, 255}));
  EXPECT_EQ(PixelAt(out, 3, 0, 1), (Rgb{0, 255, 0}));
  EXPECT_EQ(PixelAt(out, 3, 0, 2), (Rgb{255, 0, 0}));

  // 8-bit: an index past the palette is bad data, not a read past the header.
  auto f8 = Format(2, 1, 8, 0, {kRed, kGreen}, 2);
  out = ToRgb(f8, {1, 0, 0, 0}, 2, 1, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(PixelAt(out, 2, 0, 0), (Rgb{0, 255, 0}));
  ToRgb(f8, {2, 0, 0, 0}, 2, 1, &ok);
  EXPECT_FALSE(ok);
}

TEST(ConvertToRgb, TopDownStreamsAreDeliveredBottomUp) {
  auto f = Format(1, -3, 24, 0);
  std::vector<uint8_t> src = {1, 1, 1, 0, 2, 2, 2, 0, 3, 3, 3, 0};  // first stored row is the top line
  bool ok;
  auto out = ToRgb(f, src, 1, 3, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(PixelAt(out, 1, 0, 0).b, 3);
  EXPECT_EQ(PixelAt(out, 1, 2, 0).b, 1);
  // And back: the written stream is top-down again.
  std::vector<uint8_t> back(12);
  ASSERT_EQ(ConvertFromRgb(f.data(), f.size(), out.data(), out.size(), back.data(), back.size()), 12u);
  EXPECT_EQ(back, src);
}

TEST(ConvertToRgb, Rle8Escapes) {
  // 4x3 picture, palette 0 black, 1 red, 2 green.
  auto f = Format(4, 3, 8, 1, {kBlack, kRed, kGreen}, 3);
  // Row 0: run of 2 red, end of line (rest grey). Row 1: literal 3 (green, red, green) + pad,
  // then delta (1, 0) skips one pixel: the row ends grey. Row 2: run 1 black, end of picture.
  std::vector<uint8_t> src = {2, 1, 0, 0, 0, 3, 2, 1, 2, 0, 0, 2, 1, 0, 1, 0, 0, 1};
  bool ok;
  auto out = ToRgb(f, src, 4, 3, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(PixelAt(out, 4, 0, 0), (Rgb{0, 0, 255}));
  EXPECT_EQ(PixelAt(out, 4, 0, 1), (Rgb{0, 0, 255}));
  EXPECT_EQ(PixelAt(out, 4, 0, 2), kGreyPx);
  EXPECT_EQ(PixelAt(out, 4, 0, 3), kGreyPx);
  EXPECT_EQ(PixelAt(out, 4, 1, 0), (Rgb{0, 255, 0}));
  EXPECT_EQ(PixelAt(out, 4, 1, 1), (Rgb{0, 0, 255}));
  EXPECT_EQ(PixelAt(out, 4, 1, 2), (Rgb{0, 255, 0}));
  EXPECT_EQ(PixelAt(out, 4, 1, 3), kGreyPx);  // skipped by the delta
  EXPECT_EQ(PixelAt(out, 4, 2, 0), (Rgb{0, 0, 0}));
  EXPECT_EQ(PixelAt(out, 4, 2, 1), kGreyPx);  // end of picture: all that is left
  EXPECT_EQ(PixelAt(out, 4, 2, 3), kGreyPx);

  // An end of line right at the start of a line changes nothing.
  std::vector<uint8_t> exact = {4, 1, 0, 0, 4, 2, 0, 1};
  out = ToRgb(f, exact, 4, 3, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(PixelAt(out, 4, 1, 0), (Rgb{0, 255, 0}));
  EXPECT_EQ(PixelAt(out, 4, 2, 0), kGreyPx);

  // A literal run longer than the data, and runs past the picture, stay inside the buffers.
  std::vector<uint8_t> truncated = {0, 200, 1, 2};
  ToRgb(f, truncated, 4, 3, &ok);
  EXPECT_FALSE(ok);
  std::vector<uint8_t> overrun = {255, 1, 255, 2};
  out = ToRgb(f, overrun, 4, 3, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(PixelAt(out, 4, 2, 3), (Rgb{0, 0, 255}));
}

TEST(ConvertToRgb, Rle4RunsAlternateNibblesAndStopAtTheLineEnd) {
  auto f = Format(3, 2, 4, 2, {kBlack, kRed, kGreen}, 3);
  // Row 0: run of 5 alternating red/green, cut at the line end (3 pixels).
  // Row 1: literal of 3 nibbles (green, red, green) in two bytes, end of picture.
  std::vector<uint8_t> src = {5, 0x12, 0, 3, 0x21, 0x20, 0, 1};
  bool ok;
  auto out = ToRgb(f, src, 3, 2, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(PixelAt(out, 3, 0, 0), (Rgb{0, 0, 255}));
  EXPECT_EQ(PixelAt(out, 3, 0, 1), (Rgb{0, 255, 0}));
  EXPECT_EQ(PixelAt(out, 3, 0, 2), (Rgb{0, 0, 255}));
  EXPECT_EQ(PixelAt(out, 3, 1, 0), (Rgb{0, 255, 0}));
  EXPECT_EQ(PixelAt(out, 3, 1, 1), (Rgb{0, 0, 255}));
  EXPECT_EQ(PixelAt(out, 3, 1, 2), (Rgb{0, 255, 0}));
  // An odd literal byte count is padded to an even offset before the next code.
  std::vector<uint8_t> padded = {0, 5, 0x12, 0x12, 0x10, 0xFF, 1, 0x20};
  out = ToRgb(Format(6, 1, 4, 2, {kBlack, kRed, kGreen}, 3), padded, 6, 1, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(PixelAt(out, 6, 0, 4), (Rgb{0, 0, 255}));
  EXPECT_EQ(PixelAt(out, 6, 0, 5), (Rgb{0, 255, 0}));
}

TEST(ConvertToRgb, RefusesWhatItCannotRead) {
  bool ok;
  std::vector<uint8_t> px(64, 0);
  ToRgb(Format(2, 2, 24, 0), std::vector<uint8_t>(15), 2, 2, &ok);  // needs 2 rows of 8 bytes
  EXPECT_FALSE(ok);
  ToRgb(Format(2, 2, 12, 0), px, 2, 2, &ok);
  EXPECT_FALSE(ok);
  auto planes = Format(2, 2, 24, 0);
  PutLE16(&planes[12], 2);
  ToRgb(planes, px, 2, 2, &ok);
  EXPECT_FALSE(ok);
  std::vector<uint8_t> dest(64);
  auto big = Format(100000, 2, 24, 0);
  EXPECT_FALSE(ConvertToRgb(big.data(), big.size(), px.data(), px.size(), dest.data(), dest.size()));
  auto f = Format(2, 2, 24, 0);
  EXPECT_FALSE(ConvertToRgb(f.data(), 39, px.data(), px.size(), dest.data(), dest.size()));
  EXPECT_FALSE(ConvertToRgb(f.data(), f.size(), px.data(), px.size(), dest.data(), 15));
}

TEST(ConvertFromRgb, SixteenBitRoundTripWithinOneStep) {
  auto f = Format(2, 1, 16, 0);
  std::vector<uint8_t> rgb = {255, 255, 255, 0, 128, 64, 0, 0};
  std::vector<uint8_t> packed(4);
  ASSERT_EQ(ConvertFromRgb(f.data(), f.size(), rgb.data(), rgb.size(), packed.data(), packed.size()), 4u);
  // scale = (31 << 12) / 255 = 497: 255 → 30, 128 → 15, 64 → 7.
  EXPECT_EQ(GetLE16(&packed[0]), (30 << 10) | (30 << 5) | 30);
  EXPECT_EQ(GetLE16(&packed[2]), (7 << 10) | (15 << 5));
  auto f32 = Format(1, 1, 32, 0);
  std::vector<uint8_t> out32(4, 0xEE);
  ASSERT_EQ(ConvertFromRgb(f32.data(), f32.size(), rgb.data(), rgb.size(), out32.data(), out32.size()), 4u);
  EXPECT_EQ(out32, (std::vector<uint8_t>{255, 255, 255, 0}));
  auto f8 = Format(1, 1, 8, 0);
  EXPECT_EQ(ConvertFromRgb(f8.data(), f8.size(), rgb.data(), rgb.size(), out32.data(), out32.size()), 0u);
}

TEST(SplitFields, MapsRowsAndJoinRestoresTheInput) {
  const int h = 6;
  const size_t stride = 4;
  std::vector<uint8_t> src(stride * h);
  for (int r = 0; r < h; ++r)
    for (size_t b = 0; b < stride; ++b) src[r * stride + b] = static_cast<uint8_t>(r);
  std::vector<uint8_t> split(src.size()), joined(src.size());
  SplitFields(split.data(), src.data(), h, stride, FieldDirection::Split, false);
  // Rows 0 and H/2 hold interleaved rows 1 and 0.
  EXPECT_EQ(split[0], 1);
  EXPECT_EQ(split[3 * stride], 0);
  std::vector<int> rows;
  for (int r = 0; r < h; ++r) rows.push_back(split[r * stride]);
  EXPECT_EQ(rows, (std::vector<int>{1, 3, 5, 0, 2, 4}));
  SplitFields(joined.data(), split.data(), h, stride, FieldDirection::Join, false);
  EXPECT_EQ(joined, src);

  SplitFields(split.data(), src.data(), h, stride, FieldDirection::Split, true);
  rows.clear();
  for (int r = 0; r < h; ++r) rows.push_back(split[r * stride]);
  EXPECT_EQ(rows, (std::vector<int>{0, 2, 4, 1, 3, 5}));
  SplitFields(joined.data(), split.data(), h, stride, FieldDirection::Join, true);
  EXPECT_EQ(joined, src);

  // Odd heights: every row still appears exactly once.
  std::vector<uint8_t> odd(stride * 5), oddSplit(odd.size()), oddBack(odd.size());
  for (int r = 0; r < 5; ++r) odd[r * stride] = static_cast<uint8_t>(r);
  SplitFields(oddSplit.data(), odd.data(), 5, stride, FieldDirection::Split, false);
  SplitFields(oddBack.data(), oddSplit.data(), 5, stride, FieldDirection::Join, false);
  EXPECT_EQ(oddBack, odd);
}

// Wide rows take the vector path: every byte of every row lands where the
// row map says, including the part of a row past the last full vector.
TEST(SplitFields, WideRowsMatchTheRowMap) {
  for (int h : {8, 9}) {
    const size_t stride = RgbStride(721);  // 2,164 bytes: a 52-byte tail
    std::vector<uint8_t> src(stride * h);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i * 13 + i / stride);
    for (bool swapped : {false, true}) {
      std::vector<uint8_t> split(src.size(), 0xEE), joined(src.size(), 0xEE);
      SplitFields(split.data(), src.data(), h, stride, FieldDirection::Split, swapped);
      for (int r = 0; r < h; ++r) {
        size_t from = static_cast<size_t>(FieldSplitSourceRow(r, h, swapped)) * stride;
        ASSERT_TRUE(
            std::equal(split.begin() + r * stride, split.begin() + (r + 1) * stride, src.begin() + from))
            << h << " " << swapped << " row " << r;
      }
      SplitFields(joined.data(), split.data(), h, stride, FieldDirection::Join, swapped);
      EXPECT_EQ(joined, src) << h << " " << swapped;
    }
  }
}
