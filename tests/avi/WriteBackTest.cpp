// Writing a rebuilt index back into the file: the result, the confirmation,
// and a file that opens with exactly one of the two indexes wherever the
// write stops.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "AviTestUtil.h"

namespace {

// idx1 declares only the first 6 of 10 frames: the rebuilt index is larger.
AviLayout ShortIdx1File(std::string afterRiff = "") {
  AviBuildOptions o;
  o.frames = Frames(10, 200);
  o.frames[4].size = 0;
  o.avihFrames = 6;
  o.strhLength = 6;
  o.afterRiff = std::move(afterRiff);
  AviLayout L = BuildAvi(o);
  SetLe32(L.bytes, L.idx1Data - 4, 6 * 16);
  L.bytes.erase(L.idx1Data + 6 * 16, 4 * 16);
  SetLe32(L.bytes, 4, Le32(L.bytes, 4) - 4 * 16);
  return L;
}

// idx1 lists every chunk twice, the frames after the first as delta frames:
// the rebuilt index (all key frames) is smaller, and stale old entries left
// inside the chunk would show.
AviLayout LongIdx1File() {
  AviBuildOptions o;
  o.frames = Frames(10, 200);
  for (size_t i = 1; i < o.frames.size(); ++i) o.frames[i].key = false;
  AviLayout L = BuildAvi(o);
  std::string entries = L.bytes.substr(L.idx1Data, 10 * 16);
  L.bytes.insert(L.idx1Data + 10 * 16, entries);
  SetLe32(L.bytes, L.idx1Data - 4, 20 * 16);
  SetLe32(L.bytes, 4, Le32(L.bytes, 4) + 10 * 16);
  return L;
}

struct Indexes {
  std::vector<FrameIndexEntry> video, audio;
  bool operator==(const Indexes&) const = default;
};
Indexes IndexesOf(const OpenAviFile& a) {
  return {a.sets[0].pFrameIndex, a.sets[0].pWaveIndex};
}

}  // namespace

TEST(IndexWriteBack, ReplacesIdx1AndCutsWhatFollowed) {
  ScratchDir dir;
  RecordingHost host;
  std::string after = Chunk("INFO", "trailing") + ListChunk("RIFF", "AVIX", ListChunk("LIST", "movi", ""));
  AviLayout L = ShortIdx1File(after);
  std::string p = WriteAvi(dir, "wb.avi", L);
  OpenAviFile a;
  a.options.ignoreDataAfterIdx1 = true;
  ASSERT_TRUE(OpenRecord(&a, p, 1)) << BoxTexts(host);
  ASSERT_EQ(a.nIndexKind, kIndexIdx1);
  ASSERT_EQ(a.sets[0].FrameMax, 6u);
  host.boxes.clear();
  host.answers = {IDOK};
  ASSERT_TRUE(RebuildAviIndex(&a, true)) << BoxTexts(host);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text,
            "作成し直した" + p +
                "のインデックスを書き戻します.\n書き戻さない場合、閉じると作成したインデックスは失われます.");
  EXPECT_EQ(host.boxes[0].style, static_cast<unsigned>(MB_OKCANCEL | MB_ICONINFORMATION));
  EXPECT_EQ(a.nIndexKind, kIndexIdx1);
  EXPECT_EQ(a.sets[0].FrameMax, 10u);
  CloseOpenAvi(&a, 0);

  // The old idx1 (6 entries) is JUNK now; the new one follows it, and what
  // followed the RIFF is gone.
  std::string bytes = ReadFileBytes(p);
  const uint64_t idx1 = L.idx1Data + 6 * 16 + 8;
  ASSERT_EQ(bytes.size(), idx1 + 10 * 16);
  EXPECT_EQ(bytes.substr(L.idx1Data - 8, 4), "JUNK");
  EXPECT_EQ(Le32(bytes, L.idx1Data - 4), 6u * 16);
  EXPECT_EQ(bytes.substr(idx1 - 8, 4), "idx1");
  EXPECT_EQ(Le32(bytes, idx1 - 4), 160u);
  EXPECT_EQ(Le32(bytes, 4), bytes.size() - 8);
  EXPECT_EQ(Le32(bytes, L.avihData + 16), 10u);
  size_t strh = bytes.find("vids");
  EXPECT_EQ(Le32(bytes, strh + 8 + 24), 10u);
  for (size_t i = 0; i < 10; ++i) {
    const uint64_t e = idx1 + 16 * i;
    EXPECT_EQ(bytes.substr(e, 4), "00dc");
    EXPECT_EQ(Le32(bytes, e + 4), 0x10u);
    EXPECT_EQ(Le32(bytes, e + 8), L.videoData[i] - 8 - L.moviType);
    EXPECT_EQ(Le32(bytes, e + 12), i == 4 ? 0u : 200u);
  }
  host.boxes.clear();
  OpenAviFile b;
  ASSERT_TRUE(OpenRecord(&b, p, 2)) << BoxTexts(host);
  EXPECT_TRUE(host.boxes.empty()) << BoxTexts(host);
  EXPECT_EQ(b.sets[0].FrameMax, 10u);
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(IndexOffset(b.sets[0].pFrameIndex[i]), L.videoData[i]);
}

TEST(IndexWriteBack, CancelAndFilesWithoutTheirOwnIdx1LeaveTheFileAlone) {
  ScratchDir dir;
  RecordingHost host;
  AviLayout L = ShortIdx1File();
  std::string p = WriteAvi(dir, "c.avi", L);
  OpenAviFile a;
  ASSERT_TRUE(OpenRecord(&a, p, 1));
  host.answers = {IDCANCEL};
  ASSERT_TRUE(RebuildAviIndex(&a, true));
  EXPECT_EQ(a.nIndexKind, kIndexIdx1);
  EXPECT_EQ(a.sets[0].FrameMax, 10u);
  EXPECT_EQ(ReadFileBytes(p), L.bytes);

  // No idx1 to replace: refused before the index changes.
  AviBuildOptions o;
  o.frames = Frames(4);
  o.idx1 = AviBuildOptions::kNone;
  AviLayout N = BuildAvi(o);
  std::string q = WriteAvi(dir, "n.avi", N);
  host.answers = {IDYES};
  ASSERT_TRUE(OpenRecord(&a, q, 1));
  a.sets[0].FrameMax = 0;
  host.boxes.clear();
  EXPECT_FALSE(RebuildAviIndex(&a, true));
  EXPECT_EQ(a.nIndexKind, kIndexScanned);
  EXPECT_EQ(a.sets[0].FrameMax, 0u);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, q + "にidx1チャンクがありません!");
  EXPECT_EQ(ReadFileBytes(q), N.bytes);

  // An idx1 the frames were not read from (OpenDML): only the advice.
  AviBuildOptions d;
  d.frames = Frames(6);
  d.openDml = true;
  d.framesPerPart = 6;
  AviLayout D = BuildAvi(d);
  std::string r = WriteAvi(dir, "d.avi", D);
  ASSERT_TRUE(OpenRecord(&a, r, 1));
  ASSERT_EQ(a.nIndexKind, kIndexOpenDml);
  host.boxes.clear();
  ASSERT_TRUE(RebuildAviIndex(&a, true));
  EXPECT_EQ(a.nIndexKind, kIndexRebuilt);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text,
            "作成し直した" + r + "のインデックスを保存する場合は新しいAVIファイルで保存して下さい.");
  EXPECT_EQ(ReadFileBytes(r), D.bytes);
}

TEST(IndexWriteBack, AFileStoppedAtAnyStepOpensWithExactlyTheOldOrTheNewIndex) {
  ScratchDir dir;
  RecordingHost host;
  const struct {
    const char* what;
    AviLayout layout;
  } files[] = {{"grow", ShortIdx1File()},
               {"grow over junk", ShortIdx1File(Chunk("JUNK", std::string(40, 'x')))},
               {"shrink", LongIdx1File()}};
  for (const auto& f : files) {
    for (int step = 0; step <= 10; ++step) {
      std::string what = std::string(f.what) + " step " + std::to_string(step);
      std::string p = WriteAvi(dir, "s.avi", f.layout);
      OpenAviFile a;
      ASSERT_TRUE(OpenRecord(&a, p, 1)) << what << BoxTexts(host);
      const Indexes before = IndexesOf(a);
      host.boxes.clear();
      host.answers = {IDOK};
      a.options.idx1WriteFailAtStep = step;
      bool ok = RebuildAviIndex(&a, true);
      const Indexes rebuilt = IndexesOf(a);
      CloseOpenAvi(&a, 0);
      ASSERT_FALSE(before == rebuilt) << what;
      // Step 10 does not exist.
      EXPECT_EQ(ok, step == 10) << what << BoxTexts(host);
      if (!ok) {
        ASSERT_EQ(host.boxes.size(), 2u) << what;
        EXPECT_EQ(host.boxes[1].text.rfind(p, 0), 0u) << what;
      }
      OpenAviFile b;
      ASSERT_TRUE(OpenRecord(&b, p, 2)) << what << BoxTexts(host);
      const Indexes reopened = IndexesOf(b);
      EXPECT_TRUE(reopened == before || reopened == rebuilt) << what;
      // Once the old idx1 is given up (step 5 done), the new one is read.
      EXPECT_EQ(reopened == rebuilt, step >= 6) << what;
      EXPECT_EQ(b.nIndexKind, kIndexIdx1) << what;
    }
  }
}

TEST(IndexWriteBack, EntriesBehindTheOldIdx1AreNeverCutOff) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o;
  o.frames = Frames(9);
  o.openDml = true;
  o.framesPerPart = 3;
  AviLayout L = BuildAvi(o);
  std::string p = WriteAvi(dir, "odml.avi", L);
  OpenAviFile a;
  a.options.ignoreDataAfterIdx1 = true;
  ASSERT_TRUE(OpenRecord(&a, p, 1));
  // Read through the OpenDML indexes; pretend it was idx1 to reach the write.
  a.nIndexKind = kIndexIdx1;
  host.boxes.clear();
  ASSERT_TRUE(RebuildAviIndex(&a, true));
  EXPECT_EQ(a.sets[0].FrameMax, 9u);
  EXPECT_EQ(a.nIndexKind, kIndexRebuilt);
  EXPECT_EQ(ReadFileBytes(p), L.bytes);
}
