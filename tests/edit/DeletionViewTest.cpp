// The deletion view against models that walk every frame and every sample.
#include <gtest/gtest.h>

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
    uint32_t last = std::min<uint32_t>(frames - 1, f + (rng() % 3 == 0 ? 0 : rng() % (frames / 3 + 1)));
    ranges.push_back({static_cast<int32_t>(f), static_cast<int32_t>(last), {}});
    f = last + 1 + (rng() % 3 == 0 ? 0 : rng() % 4);
  }
  return ranges;
}

bool Deleted(const OpenAviFile& avi, uint32_t f) {
  for (auto& r : avi.deleteRanges)
    if (r.lFrame1 <= static_cast<int64_t>(f) && f <= static_cast<uint32_t>(r.lFrame2)) return true;
  return false;
}

TEST(DeletionView, NumberingsMatchAModelOfEveryFrame) {
  RecordingHost host;
  std::mt19937 rng(7);
  for (int round = 0; round < 400 && !HasFailure(); ++round) {
    OpenAviTable t;
    std::vector<uint32_t> sizes(2 + round % 2);
    for (auto& n : sizes) n = 1 + static_cast<uint32_t>(rng() % 12);
    MemoryTable(t, sizes);
    std::string what;
    for (auto& avi : t.pOpenAviList) {
      avi.deleteRanges = RandomRanges(rng, avi.sets[0].FrameMax);
      what += std::to_string(avi.sets[0].FrameMax) + ": " + FormatDeleteRanges(avi) + "; ";
    }
    SCOPED_TRACE(what);
    t.deleteRangesOn = true;
    for (auto& avi : t.pOpenAviList) ASSERT_TRUE(ChangeOpenAviParam(&avi, true, 0));
    // Every frame in set-0 order, with the count of kept frames before it
    // in its file and over the table.
    uint32_t global = 0, keptBefore = 0;
    for (int i = 0; i < t.nOpenAvi; ++i) {
      const OpenAviFile& avi = t.pOpenAviList[static_cast<size_t>(i)];
      std::vector<FrameIndexEntry> kept;
      std::vector<int32_t> offsets;
      for (uint32_t f = 0; f < avi.sets[0].FrameMax; ++f, ++global) {
        FramePlace p = t.GlobalToLocal(global, true);
        EXPECT_TRUE(p.file == i && p.frame == f) << global;
        bool gone = Deleted(avi, f);
        EXPECT_EQ(deletedFrameNo(avi, f), gone ? -1 : static_cast<int64_t>(kept.size())) << i << ":" << f;
        // A deleted frame lands on the kept frame before it, wherever that is.
        EXPECT_EQ(t.Set0ToCurrentGlobal(global), gone ? std::max<int64_t>(keptBefore, 1) - 1 : keptBefore);
        if (gone) continue;
        EXPECT_EQ(UndeletedFrameNo(avi, static_cast<int64_t>(kept.size())), f);
        EXPECT_EQ(t.CurrentToSet0Global(keptBefore), global);
        p = t.GlobalToLocal(keptBefore++, false);
        EXPECT_TRUE(p.file == i && p.frame == kept.size()) << keptBefore - 1;
        offsets.push_back(static_cast<int32_t>(f - kept.size()));
        kept.push_back(avi.sets[0].pFrameIndex[f]);
      }
      EXPECT_EQ(avi.sets[1].pFrameIndex, kept);
      EXPECT_EQ(avi.sets[1].FrameMax, kept.size());
      EXPECT_EQ(avi.pFrameOffset, offsets);
    }
    EXPECT_EQ(t.TotalFrames(), keptBefore);
  }
}

TEST(DeletionView, AudioIsCutInWholeBlocksAtEverySegmentBorder) {
  RecordingHost host;
  std::mt19937 rng(11);
  const uint32_t frames = 200, rate = 8000, align = 4;
  for (int round = 0; round < 60 && !HasFailure(); ++round) {
    OpenAviTable t;
    MemoryTable(t, {frames});
    OpenAviFile& avi = t.pOpenAviList[0];
    avi.sets[0].strhVideo.dwRate = 30000;
    avi.sets[0].strhVideo.dwScale = 1001;
    // Chunk i lies at i << 20, some with a partial block behind its samples.
    std::vector<FrameIndexEntry> chunks;
    std::vector<uint64_t> firstSample;
    uint64_t total = 0;
    while (total < frames * 267) {
      uint32_t samples = 1 + rng() % 600;
      chunks.push_back(
          MakeIndexEntry(chunks.size() << 20, samples * align + (rng() % 4 ? 0 : 2), false, false));
      firstSample.push_back(total);
      total += samples;
    }
    // PCM; compressed audio decoded to a work file; compressed audio not
    // decoded, which stays out of the view.
    const int kind = round % 3;
    avi.nAudioKind = kind ? -1 : 0;
    avi.wfPCM = {1, 2, rate, rate * align, align, 16, 0};
    avi.pwfAudio.assign(18, 0);
    StoreWaveFormat(avi.wfPCM, avi.pwfAudio.data());
    avi.sets[0].pWaveIndex = chunks;
    avi.sets[0].WaveIndexEntries = static_cast<uint32_t>(chunks.size());
    avi.sets[0].dwWaveSampleCounts = static_cast<uint32_t>(total);
    if (kind == 1) {
      avi.pIndexPCM = chunks;
      avi.dwIndexPCM = static_cast<uint32_t>(chunks.size());
      avi.dwSamplesPCM = static_cast<uint32_t>(total);
    }
    avi.deleteRanges = RandomRanges(rng, frames);
    SCOPED_TRACE(FormatDeleteRanges(avi));
    ASSERT_TRUE(ChangeOpenAviParam(&avi, true, 0));

    // Kept: the samples from the first sample of each kept segment's first
    // frame to that of the frame after it (the last segment: to the end).
    std::vector<uint64_t> want, played;
    for (uint32_t s = 0, e; s < frames; s = e) {
      for (e = s; e < frames && Deleted(avi, e) == Deleted(avi, s);) ++e;
      uint64_t a = FirstSampleOfFrame(s, rate, 30000.0 / 1001);
      uint64_t b = e == frames ? total : FirstSampleOfFrame(e, rate, 30000.0 / 1001);
      for (uint64_t k = a; kind != 2 && !Deleted(avi, s) && k < std::min(b, total); ++k) want.push_back(k);
    }
    // Played: each sample of the view's chunks, by where it lies in the file.
    const AviStreamSet& v = avi.sets[1];
    for (uint32_t i = 0; i < v.WaveIndexEntries; ++i) {
      uint64_t at = IndexOffset(v.pWaveIndex[i]), c = at >> 20, into = at & 0xFFFFF;
      ASSERT_EQ(into % align, 0u);
      ASSERT_LE(into + IndexSize(v.pWaveIndex[i]), IndexSize(chunks[c]));
      for (uint32_t k = 0; k < IndexSize(v.pWaveIndex[i]) / align; ++k)
        played.push_back(firstSample[c] + into / align + k);
    }
    EXPECT_EQ(played, want);
    EXPECT_EQ(v.dwWaveSampleCounts, want.size());
  }
}

}  // namespace
