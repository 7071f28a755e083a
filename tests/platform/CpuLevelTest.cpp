// Every kernel with vector variants, run at each level this machine has, gives
// the bytes it gives at the plain level.
#include "platform/CpuLevel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "frame/Convert.h"
#include "frame/ViewKernels.h"
#include "quendrix/WaveAdjust.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Around the vector widths (16, 32, 64 bytes) and the wide-row threshold of the
// field split (256): full vectors with every kind of tail.
constexpr size_t kSizes[] = {1, 3, 15, 31, 33, 63, 64, 65, 127, 255, 256, 257, 1000, 2163, 4099};
constexpr size_t kInputBytes = 64 * 1024;  // enough for 9 rows of the widest size

std::string Brightness(const Bytes& in, size_t n) {
  std::string out;
  Bytes dst(n);
  for (unsigned factor : {0u, 37u, 50u, 99u, 101u, 150u, 333u, 4080u, 30000u}) {
    ScaleBrightness(dst.data(), in.data(), n, factor);
    out.append(dst.begin(), dst.end());
  }
  return out;
}

// n is the row length; odd heights leave a row out of the split.
std::string FieldSplitJoin(const Bytes& in, size_t n) {
  std::string out;
  for (int height : {1, 2, 5, 8, 9})
    for (FieldDirection direction : {FieldDirection::Split, FieldDirection::Join})
      for (bool swapped : {false, true}) {
        Bytes dst(n * height, 0xEE);
        SplitFields(dst.data(), in.data(), height, n, direction, swapped);
        out.append(dst.begin(), dst.end());
      }
  return out;
}

// n + 4 frames a period, shortening and lengthening, mono and stereo 16-bit.
std::string QuendrixChoice(const Bytes& in, size_t n) {
  std::string out;
  for (uint16_t channels : {1, 2})
    for (uint32_t lengthen : {0, 1}) {
      const uint32_t u = static_cast<uint32_t>(n) + 4, k = u - lengthen;
      SampleLayout layout{2u * channels, channels, false};
      Choice c = ChoosePosition(in.data(), k, u, layout);
      out += std::to_string(c.j) + (c.fallback ? "* " : " ");
    }
  return out;
}

struct Kernel {
  const char* name;
  std::string (*run)(const Bytes& in, size_t n);
};
const Kernel kKernels[] = {
    {"brightness", Brightness},
    {"field split/join", FieldSplitJoin},
    {"Quendrix 16-bit choice", QuendrixChoice},
};

}  // namespace

TEST(CpuLevel, EveryKernelGivesThePlainBytesAtEveryLevelTheMachineHas) {
  std::mt19937 rng(20240611);
  // Any bytes, and bytes 0..2 (flat 16-bit stretches, ties, small values).
  std::vector<Bytes> inputs(2, Bytes(kInputBytes));
  for (uint8_t& b : inputs[0]) b = static_cast<uint8_t>(rng());
  for (uint8_t& b : inputs[1]) b = static_cast<uint8_t>(rng() % 3);

  const VectorLevel levels[] = {VectorLevel::Avx2, VectorLevel::Avx512Bw};
  for (const Kernel& kernel : kKernels)
    for (const Bytes& in : inputs)
      for (size_t n : kSizes) {
        std::string plain;
        {
          CpuLevelCapScope cap(VectorLevel::Plain);
          ASSERT_EQ(CpuLevel(), VectorLevel::Plain);
          plain = kernel.run(in, n);
        }
        for (VectorLevel level : levels) {
          if (level > DetectedCpuLevel()) continue;
          CpuLevelCapScope cap(level);
          ASSERT_EQ(CpuLevel(), level);
          const std::string got = kernel.run(in, n);
          const size_t differs =
              std::mismatch(got.begin(), got.end(), plain.begin(), plain.end()).first - got.begin();
          ASSERT_TRUE(got == plain) << kernel.name << " at " << VectorLevelName(level) << ", size " << n
                                    << ": first difference at output byte " << differs;
        }
      }

  std::string skipped;
  for (VectorLevel level : levels)
    if (level > DetectedCpuLevel())
      skipped += std::string(skipped.empty() ? "" : ", ") + VectorLevelName(level);
  RecordProperty("skipped_levels", skipped);
  std::cout << "vector levels skipped (not on this machine): " << (skipped.empty() ? "none" : skipped)
            << "\n";
}
