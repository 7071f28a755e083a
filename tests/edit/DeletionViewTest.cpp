// The deletion view against models that walk every frame and every sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "EditTestUtil.h"
#include "avi/DeletionView.h"

namespace {

// Random sorted ranges over `frames`: at 0, at the end, adjacent, single.
std::vector<DeleteRange> RandomRanges(std::mt19937& rng, uint32_t frames) {
  std::vector<DeleteRange> ranges;
  uint32_t f = rng() % 3 == 0 ? 0 : rng() % 3;
  while (f < frames && rng() % 5) {
    uint32_t last =
        std::min(frames - 1, f + static_cast<uint32_t>(rng() % 3 == 0 ? 0 : rng() % (frames / 3 + 1)));
    ranges.push_back({static_cast<int32_t>(f), static_cast<int32_t>(last), {}});
    f = last + 1 + (rng() % 3 == 0 ? 0 : rng() % 4);
  }
  return ranges;
}

TEST(DeletionView, NumberingsMatchAModelOfEveryFrame) {
  RecordingHost host;
  std::mt19937 rng(7);
  for (int round = 0; round < 400; ++round) {
    OpenAviTable t;
    std::vector<uint32_t> sizes;
    for (int n = 2 + round % 2; n > 0; --n) sizes.push_back(1 + rng() % 12);
    MemoryTable(t, sizes);
    struct Frame {
      int file;
      uint32_t local;
      bool kept;
    };
    std::vector<Frame> all;  // every frame in set-0 order
    for (int i = 0; i < t.nOpenAvi; ++i) {
      OpenAviFile& avi = t.pOpenAviList[static_cast<size_t>(i)];
      avi.deleteRanges = RandomRanges(rng, sizes[static_cast<size_t>(i)]);
      for (uint32_t f = 0; f < sizes[static_cast<size_t>(i)]; ++f) {
        bool kept = true;
        for (auto& r : avi.deleteRanges)
          kept = kept && !(r.lFrame1 <= static_cast<int32_t>(f) && static_cast<int32_t>(f) <= r.lFrame2);
        all.push_back({i, f, kept});
      }
    }
    t.deleteRangesOn = true;
    for (auto& avi : t.pOpenAviList) ASSERT_TRUE(ChangeOpenAviParam(&avi, true, 0));
    std::string what = ::testing::PrintToString(sizes);
    for (auto& avi : t.pOpenAviList) what += " | " + FormatDeleteRanges(avi);
    SCOPED_TRACE(what);

    // Per file: set 1 holds exactly the kept entries; both conversions.
    for (int i = 0; i < t.nOpenAvi; ++i) {
      const OpenAviFile& avi = t.pOpenAviList[static_cast<size_t>(i)];
      std::vector<FrameIndexEntry> want;
      std::vector<int32_t> offsets;
      int64_t kept = 0;
      for (const Frame& f : all) {
        if (f.file != i) continue;
        EXPECT_EQ(deletedFrameNo(avi, f.local), f.kept ? kept : -1) << i << ":" << f.local;
        if (!f.kept) continue;
        EXPECT_EQ(UndeletedFrameNo(avi, kept), f.local);
        want.push_back(avi.sets[0].pFrameIndex[f.local]);
        offsets.push_back(static_cast<int32_t>(f.local - kept));
        ++kept;
      }
      EXPECT_EQ(avi.sets[1].pFrameIndex, want);
      EXPECT_EQ(avi.sets[1].FrameMax, want.size());
      EXPECT_EQ(avi.pFrameOffset, offsets);
      EXPECT_EQ(avi.pCurrentSet, &avi.sets[1]);
    }

    // Table-wide and file lookup over every global frame.
    uint32_t keptTotal = 0;
    for (const Frame& f : all) keptTotal += f.kept;
    ASSERT_EQ(t.TotalFrames(), keptTotal);
    int64_t keptBefore = 0;
    for (uint32_t g = 0; g < all.size(); ++g) {
      const Frame& f = all[g];
      FramePlace p = t.GlobalToLocal(g, true);
      EXPECT_EQ(p.file, f.file);
      EXPECT_EQ(p.frame, f.local);
      // A deleted frame lands on the kept frame before it, wherever that is.
      int64_t view = f.kept ? keptBefore : std::max<int64_t>(keptBefore - 1, 0);
      EXPECT_EQ(t.Set0ToCurrentGlobal(g), view) << "set-0 frame " << g;
      if (f.kept) {
        EXPECT_EQ(t.CurrentToSet0Global(static_cast<uint32_t>(keptBefore)), g);
        FramePlace v = t.GlobalToLocal(static_cast<uint32_t>(keptBefore), false);
        EXPECT_EQ(v.file, f.file);
        EXPECT_EQ(UndeletedFrameNo(t.pOpenAviList[static_cast<size_t>(v.file)], v.frame), f.local);
        ++keptBefore;
      }
    }
    if (HasFailure()) return;
  }
}

// The audio of the view as the samples it plays, each mapped back to its
// number through where it lies in the file (UINT64_MAX: not a sample start).
std::vector<uint64_t> PlayedSamples(const std::vector<FrameIndexEntry>& chunks, uint32_t count,
                                    const std::vector<FrameIndexEntry>& source, uint32_t blockAlign) {
  std::vector<uint64_t> firstSample;  // of each source chunk
  uint64_t n = 0;
  for (FrameIndexEntry c : source) {
    firstSample.push_back(n);
    n += IndexSize(c) / blockAlign;
  }
  auto sampleAt = [&](uint64_t offset) {
    auto it = std::upper_bound(source.begin(), source.end(), offset,
                               [](uint64_t o, FrameIndexEntry c) { return o < IndexOffset(c); });
    if (it == source.begin()) return UINT64_MAX;
    size_t i = static_cast<size_t>(it - source.begin()) - 1;
    uint64_t into = offset - IndexOffset(source[i]);
    if (into % blockAlign || into / blockAlign >= IndexSize(source[i]) / blockAlign) return UINT64_MAX;
    return firstSample[i] + into / blockAlign;
  };
  std::vector<uint64_t> played;
  for (uint32_t i = 0; i < count; ++i)
    for (uint32_t k = 0; k < IndexSize(chunks[i]) / blockAlign; ++k)
      played.push_back(sampleAt(IndexOffset(chunks[i]) + k * blockAlign));
  return played;
}

TEST(DeletionView, AudioIsCutInWholeBlocksAtEverySegmentBorder) {
  RecordingHost host;
  std::mt19937 rng(11);
  const uint32_t frames = 200, rate = 8000, align = 4;
  const double fps = 30000.0 / 1001;
  for (int round = 0; round < 60; ++round) {
    OpenAviTable t;
    MemoryTable(t, {frames});
    OpenAviFile& avi = t.pOpenAviList[0];
    avi.sets[0].strhVideo.dwRate = 30000;
    avi.sets[0].strhVideo.dwScale = 1001;
    // Chunks of 1..600 samples, some with a partial block behind them.
    std::vector<FrameIndexEntry> chunks;
    uint64_t offset = 1 << 20, total = 0;
    while (total < frames * 267) {
      uint32_t samples = 1 + rng() % 600, extra = rng() % 4 == 0 ? 2 : 0;
      chunks.push_back(MakeIndexEntry(offset, samples * align + extra, false, false));
      offset += samples * align + extra + 8;
      total += samples;
    }
    WaveFormatEx wf{1, 2, rate, rate * align, align, 16, 0};
    const int kind = round % 3 == 0 ? -1 : 0;  // compressed audio decoded to a work file
    if (kind == 0) {
      avi.pwfAudio.assign(18, 0);
      StoreWaveFormat(wf, avi.pwfAudio.data());
      avi.sets[0].pWaveIndex = chunks;
      avi.sets[0].WaveIndexEntries = static_cast<uint32_t>(chunks.size());
      avi.sets[0].dwWaveSampleCounts = static_cast<uint32_t>(total);
    } else {
      avi.wfPCM = wf;
      avi.pIndexPCM = chunks;
      avi.dwIndexPCM = static_cast<uint32_t>(chunks.size());
      avi.dwSamplesPCM = static_cast<uint32_t>(total);
    }
    avi.nAudioKind = kind;
    avi.deleteRanges = RandomRanges(rng, frames);
    ASSERT_TRUE(ChangeOpenAviParam(&avi, true, 0));
    SCOPED_TRACE(FormatDeleteRanges(avi));

    // The samples of each kept segment, from the first sample of its first
    // frame to that of the frame after it (the last one: to the end).
    std::vector<uint64_t> want;
    uint32_t s = 0;
    auto segment = [&](uint32_t from, uint32_t to, bool tail) {
      uint64_t a = FirstSampleOfFrame(from, rate, fps), b = tail ? total : FirstSampleOfFrame(to, rate, fps);
      for (uint64_t k = a; k < std::min(b, total); ++k) want.push_back(k);
    };
    for (auto& r : avi.deleteRanges) {
      if (static_cast<uint32_t>(r.lFrame1) > s) segment(s, r.lFrame1, false);
      s = r.lFrame2 + 1;
    }
    if (s < frames) segment(s, frames, true);

    const AviStreamSet& v = avi.sets[1];
    EXPECT_EQ(PlayedSamples(v.pWaveIndex, v.WaveIndexEntries, chunks, align), want);
    EXPECT_EQ(v.dwWaveSampleCounts, want.size());
    for (uint32_t i = 0; i < v.WaveIndexEntries; ++i) EXPECT_GE(IndexSize(v.pWaveIndex[i]), align);
    if (HasFailure()) return;
  }
  // Compressed audio that was not decoded stays out of the view.
  OpenAviTable t;
  MemoryTable(t, {10});
  OpenAviFile& avi = t.pOpenAviList[0];
  avi.nAudioKind = -1;
  avi.wfPCM = {1, 2, rate, rate * align, align, 16, 0};
  avi.sets[0].pWaveIndex = {MakeIndexEntry(100, 400, false, false)};
  avi.sets[0].WaveIndexEntries = 1;
  avi.deleteRanges = {{2, 3, {}}};
  ASSERT_TRUE(ChangeOpenAviParam(&avi, true, 25));
  EXPECT_EQ(avi.sets[1].FrameMax, 8u);
  EXPECT_EQ(avi.sets[1].WaveIndexEntries, 0u);
}

}  // namespace
