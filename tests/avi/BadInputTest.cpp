// Damaged and hostile files: each gives a clear message naming the file and a
// closed record, never a crash, a hang or a read outside a buffer.
#include <gtest/gtest.h>

#include <functional>

#include "AviTestUtil.h"

namespace {

struct Damage {
  const char* what;
  std::function<void(AviLayout&)> apply;
  const char* message;  // expected text behind the file name; null: any
};

uint64_t Find(const std::string& s, const char* fcc, uint64_t from = 0) {
  return s.find(fcc, from);
}

}  // namespace

TEST(BadInput, DamagedHeadersGiveAMessageAndAClosedRecord) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions base;
  base.frames = Frames(4);
  base.audio = true;
  base.audioSizes = {64, 64, 64, 64};
  const Damage cases[] = {
      {"empty", [](AviLayout& L) { L.bytes.clear(); }, "にAVIチャンクがありません!"},
      {"not RIFF", [](AviLayout& L) { L.bytes.replace(0, 4, "RIFX"); }, "にAVIチャンクがありません!"},
      {"cut in hdrl", [](AviLayout& L) { L.bytes.resize(100); }, nullptr},
      {"no hdrl", [](AviLayout& L) { L.bytes.replace(Find(L.bytes, "hdrl"), 4, "hdrX"); },
       "にList/hdrlチャンクがありません!"},
      {"no avih", [](AviLayout& L) { L.bytes.replace(Find(L.bytes, "avih"), 4, "avIH"); },
       "にavihチャンクがありません!"},
      {"short avih", [](AviLayout& L) { SetLe32(L.bytes, L.avihData - 4, 40); }, nullptr},
      {"hdrl past its parent", [](AviLayout& L) { SetLe32(L.bytes, Find(L.bytes, "hdrl") - 4, 0x7FFFFFF0); },
       nullptr},
      {"strf past the file", [](AviLayout& L) { SetLe32(L.bytes, L.videoStrfData - 4, 0x00FFFFF0); },
       nullptr},
      {"strf of 16 MiB", [](AviLayout& L) { SetLe32(L.bytes, L.videoStrfData - 4, 0x01000000); }, nullptr},
      {"short audio strf", [](AviLayout& L) { SetLe32(L.bytes, L.audioStrfData - 4, 10); }, nullptr},
      {"no video format", [](AviLayout& L) { SetLe32(L.bytes, L.videoStrfData - 4, 20); },
       "のvidsチャンクからビデオコーデック/ビデオフォーマットが取得できません!"},
      {"zero width", [](AviLayout& L) { SetLe32(L.bytes, L.videoStrfData + 4, 0); },
       "のビデオのサイズ(0x16)が不正です!"},
      {"width no converter takes", [](AviLayout& L) { SetLe32(L.bytes, L.videoStrfData + 4, 32768); },
       "のビデオのサイズ(32768x16)が不正です!"},
      {"absurd height", [](AviLayout& L) { SetLe32(L.bytes, L.videoStrfData + 8, 0x80000000u); }, nullptr},
      {"zero channels",
       [](AviLayout& L) {
         L.bytes[L.audioStrfData + 2] = 0;
         L.bytes[L.audioStrfData + 3] = 0;
       },
       "のオーディオフォーマット(チャンネル数0, ブロック長4)が不正です!"},
      {"zero block align",
       [](AviLayout& L) {
         L.bytes[L.audioStrfData + 12] = 0;
         L.bytes[L.audioStrfData + 13] = 0;
       },
       "のオーディオフォーマット(チャンネル数2, ブロック長0)が不正です!"},
      {"no movi", [](AviLayout& L) { L.bytes.replace(L.moviType, 4, "mova"); },
       "にList/moviチャンクがありません!"},
      {"idx1 entry outside the file",
       [](AviLayout& L) { SetLe32(L.bytes, L.idx1Data + 16 * 2 + 8, 0x7FFFFFF0); },
       "のidx1チャンクの2番目のエントリがファイルの外を指しています!"},
      {"idx1 audio entry outside",
       [](AviLayout& L) { SetLe32(L.bytes, L.idx1Data + 16 * 3 + 8, 0xFFFFFF00u); },
       "のidx1チャンクの3番目のエントリがファイルの外を指しています!"},
      {"idx1 chunk of 16 MiB", [](AviLayout& L) { SetLe32(L.bytes, L.idx1Data + 16 * 2 + 12, 0x01000000); },
       "には16MiB以上のチャンク(00dc, 16777216バイト)があるため開けません!"},
      {"idx1 size past the end", [](AviLayout& L) { SetLe32(L.bytes, L.idx1Data - 4, 0xFFFFFFF0u); }, ""},
  };
  for (const Damage& d : cases) {
    AviLayout L = BuildAvi(base);
    d.apply(L);
    std::string p = WriteAvi(dir, "bad.avi", L);
    host.boxes.clear();
    OpenAviFile a;
    bool ok = OpenRecord(&a, p, 2);
    if (d.message && !*d.message) {
      // Readable: what is there is used.
      EXPECT_TRUE(ok) << d.what << BoxTexts(host);
      continue;
    }
    EXPECT_FALSE(ok) << d.what;
    EXPECT_FALSE(a.IsOpen()) << d.what;
    EXPECT_TRUE(a.sets[0].pFrameIndex.empty()) << d.what;
    ASSERT_FALSE(host.boxes.empty()) << d.what;
    const std::string& text = host.boxes.back().text;
    EXPECT_EQ(text.rfind(p, 0), 0u) << d.what << ": " << text;
    EXPECT_EQ(host.boxes.back().style & MB_ICONMASK, static_cast<unsigned>(MB_ICONSTOP)) << d.what;
    if (d.message) {
      EXPECT_EQ(text, p + d.message) << d.what;
    }
  }
}

TEST(BadInput, ScanRefusesAChunkOf16MiB) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o;
  o.frames = Frames(3);
  o.idx1 = AviBuildOptions::kNone;
  AviLayout L = BuildAvi(o);
  SetLe32(L.bytes, L.videoData[1] - 4, 0x01000000);
  L.bytes.append(0x01000000, '\0');
  std::string p = WriteAvi(dir, "huge.avi", L);
  host.answers = {IDYES};
  OpenAviFile a;
  EXPECT_FALSE(OpenRecord(&a, p, 1));
  ASSERT_EQ(host.boxes.size(), 2u);
  EXPECT_EQ(host.boxes[1].text, p + "には16MiB以上のチャンク(00dc, 16777216バイト)があるため開けません!");
}

TEST(BadInput, MissingFileAndUnopenableNames) {
  ScratchDir dir;
  RecordingHost host;
  OpenAviFile a;
  std::string p = dir.File("missing.avi");
  EXPECT_FALSE(OpenRecord(&a, p, 1));
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, p + "が開けません!");
  host.boxes.clear();
  EXPECT_FALSE(OpenRecord(&a, dir.path(), 1));  // a folder
  EXPECT_EQ(host.boxes.size(), 1u);
}

// Every prefix of a valid file and single-byte damage everywhere in its
// headers: never a crash (the sanitizers watch), always either an open record
// whose entries lie inside the file or a closed one.
TEST(BadInput, EveryTruncationAndHeaderByteFlip) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o;
  o.frames = Frames(3, 20);
  o.audio = true;
  o.audioSizes = {8, 8, 8};
  o.openDml = true;
  AviLayout L = BuildAvi(o);
  std::string p = dir.File("t.avi");
  auto check = [&](const std::string& bytes, const std::string& what) {
    WriteFileBytes(p, bytes);
    host.answers = {IDYES};
    OpenAviFile a;
    if (OpenRecord(&a, p, 1)) {
      for (const auto* idx : {&a.sets[0].pFrameIndex, &a.sets[0].pWaveIndex})
        for (FrameIndexEntry e : *idx) ASSERT_LE(IndexOffset(e) + IndexSize(e), bytes.size()) << what;
    } else {
      EXPECT_FALSE(a.IsOpen()) << what;
    }
    host.answers.clear();
  };
  for (size_t n = 0; n < L.bytes.size(); n += 3) check(L.bytes.substr(0, n), "cut at " + std::to_string(n));
  for (size_t i = 0; i < L.moviType + 64 && i < L.bytes.size(); ++i) {
    for (uint8_t x : {0xFF, 0x80, 0x01}) {
      std::string b = L.bytes;
      b[i] = static_cast<char>(b[i] ^ x);
      check(b, "byte " + std::to_string(i));
    }
  }
}

TEST(BadInput, SharedHostileSamples) {
  ScratchDir dir;
  RecordingHost host;
  for (const char* name : {"fuzz_hdrl_size_overflow_10k.avi", "fuzz_nested_riff_truncated_102b.avi"}) {
    host.boxes.clear();
    OpenAviFile a;
    std::string p = SamplePath(name);
    EXPECT_FALSE(OpenRecord(&a, p, 1)) << name;
    ASSERT_EQ(host.boxes.size(), 1u) << name << BoxTexts(host);
    EXPECT_EQ(host.boxes[0].text.rfind(p, 0), 0u) << host.boxes[0].text;
  }
}

// Found by fuzzing: a second video stream list after the one whose OpenDML
// index was read set the frame count from its own header (1.9 billion frames
// over an empty index), and every reader walked off the index.
TEST(BadInput, CountsAlwaysDescribeTheIndexThatWasRead) {
  RecordingHost host;
  OpenAviFile a;
  std::string p = std::string(MX_AVI_TEST_DATA) + "/second-video-list-after-opendml-index.avi";
  ASSERT_TRUE(OpenRecord(&a, p, 3)) << BoxTexts(host);
  EXPECT_EQ(a.nIndexKind, kIndexOpenDml);
  EXPECT_EQ(a.sets[0].strhVideo.dwLength, 1936946035u);
  EXPECT_EQ(a.sets[0].FrameMax, a.sets[0].pFrameIndex.size());
  EXPECT_EQ(a.sets[0].WaveIndexEntries, a.sets[0].pWaveIndex.size());
  EXPECT_EQ(a.pFieldShift.size(), a.sets[0].FrameMax);
}
