#include "frame/ViewKernels.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

TEST(ScaleBrightness, MatchesTheFormulaForEveryByteAndFactor) {
  std::vector<uint8_t> src(256 + 45);  // not a multiple of the vector width
  std::iota(src.begin(), src.begin() + 256, 0);
  for (size_t i = 256; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i * 7);
  std::vector<uint8_t> fast(src.size()), plain(src.size());
  for (unsigned f : {0u, 1u, 25u, 50u, 99u, 100u, 101u, 150u, 255u, 400u, 510u, 4080u, 30000u}) {
    ScaleBrightness(fast.data(), src.data(), src.size(), f);
    for (size_t i = 0; i < src.size(); ++i) {
      // 100 % is no scaling at all (the formula itself would darken by 1/1,000).
      uint64_t v = f == 100 ? src[i] : (uint64_t{src[i]} * f * 10485) >> 20;
      ASSERT_EQ(fast[i], v > 255 ? 255 : v) << "factor " << f << " byte " << int(src[i]);
    }
    if (f == 100) continue;
    ScaleBrightnessPlain(plain.data(), src.data(), src.size(), f);
    ASSERT_EQ(fast, plain) << f;
  }
  ScaleBrightness(fast.data(), src.data(), src.size(), 100);
  EXPECT_EQ(fast, src);  // 100 % leaves the picture alone
  ScaleBrightness(fast.data(), src.data(), 256, 200);
  EXPECT_EQ(fast[255], 255);
  EXPECT_EQ(fast[100], 199);  // 100·200·10485 >> 20, truncated
  ScaleBrightness(fast.data(), src.data(), 256, 50);
  EXPECT_EQ(fast[255], 127);
}

TEST(ViewKernels, DifferenceOfEqualFramesIsBlackAndBlendAverages) {
  std::vector<uint8_t> a = {0, 10, 255, 7}, b = {5, 10, 0, 8}, d(4);
  AbsDifference(d.data(), a.data(), a.data(), 4);
  EXPECT_EQ(d, (std::vector<uint8_t>{0, 0, 0, 0}));
  ScaleBrightness(d.data(), d.data(), 4, 100 * 8);
  EXPECT_EQ(d, (std::vector<uint8_t>{0, 0, 0, 0}));
  AbsDifference(d.data(), a.data(), b.data(), 4);
  EXPECT_EQ(d, (std::vector<uint8_t>{5, 0, 255, 1}));
  BlendHalf(d.data(), a.data(), b.data(), 4);
  EXPECT_EQ(d, (std::vector<uint8_t>{2, 10, 127, 7}));
}

TEST(ViewKernels, LineDoubledFieldsAndFlip) {
  const int h = 4;
  std::vector<uint8_t> src = {0, 1, 2, 3}, view(4);  // one byte per row, rows bottom-up
  LineDoubleField(view.data(), src.data(), h, 1, 0);
  EXPECT_EQ(view, (std::vector<uint8_t>{3, 3, 1, 1}));  // view is top-down
  LineDoubleField(view.data(), src.data(), h, 1, 1);
  // The last pair repeats row 2i: no row H is read.
  EXPECT_EQ(view, (std::vector<uint8_t>{2, 2, 2, 0}));
  FlipRows(view.data(), src.data(), h, 1);
  EXPECT_EQ(view, (std::vector<uint8_t>{3, 2, 1, 0}));
}
