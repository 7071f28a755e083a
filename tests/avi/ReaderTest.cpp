// Reading synthetic files: idx1 in both offset forms, OpenDML, scanning,
// stream formats, the codec name and the index kinds.
#include <gtest/gtest.h>

#include "AviTestUtil.h"
#include "platform/AppState.h"

namespace {

AviBuildOptions MixedFile() {
  AviBuildOptions o;
  o.frames = Frames(12, 300);
  o.frames[3].size = 0;  // null frame, no key flag
  o.frames[3].key = false;
  o.frames[5].key = false;
  o.frames[6].dc = false;
  o.frames[6].size = 301;  // odd: padded
  o.audio = true;
  o.audioSizes = std::vector<uint32_t>(12, 1280);
  o.audioSizes[4] = 1282;
  return o;
}

void ExpectIndexMatches(const OpenAviFile& avi, const AviBuildOptions& o, const AviLayout& L) {
  const AviStreamSet& s = avi.sets[0];
  ASSERT_EQ(s.FrameMax, o.frames.size());
  for (size_t i = 0; i < o.frames.size(); ++i) {
    FrameIndexEntry e = s.pFrameIndex[i];
    EXPECT_EQ(IndexOffset(e), L.videoData[i]) << i;
    EXPECT_EQ(IndexSize(e), o.frames[i].size) << i;
    EXPECT_EQ(IndexIsCompressed(e), o.frames[i].dc) << i;
    EXPECT_EQ(IndexIsKey(e), o.frames[i].key || o.frames[i].size == 0) << i;
  }
  ASSERT_EQ(s.WaveIndexEntries, L.audioData.size());
  for (size_t i = 0; i < L.audioData.size(); ++i) {
    EXPECT_EQ(IndexOffset(s.pWaveIndex[i]), L.audioData[i]) << i;
    EXPECT_EQ(IndexSize(s.pWaveIndex[i]), o.audioSizes[i]) << i;
  }
}

}  // namespace

TEST(AviReader, RelativeAndAbsoluteIdx1GiveTheSameIndex) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o = MixedFile();
  AviLayout rel = BuildAvi(o);
  o.idx1 = AviBuildOptions::kAbsolute;
  AviLayout abs = BuildAvi(o);
  ASSERT_EQ(rel.bytes.size(), abs.bytes.size());
  ASSERT_NE(rel.bytes, abs.bytes);
  OpenAviFile a, b;
  ASSERT_TRUE(OpenRecord(&a, WriteAvi(dir, "rel.avi", rel), 1)) << BoxTexts(host);
  ASSERT_TRUE(OpenRecord(&b, WriteAvi(dir, "abs.avi", abs), 1)) << BoxTexts(host);
  EXPECT_TRUE(host.boxes.empty()) << BoxTexts(host);
  ExpectIndexMatches(a, o, rel);
  EXPECT_EQ(a.sets[0].pFrameIndex, b.sets[0].pFrameIndex);
  EXPECT_EQ(a.sets[0].pWaveIndex, b.sets[0].pWaveIndex);
  EXPECT_EQ(a.nIndexKind, kIndexIdx1);
  EXPECT_EQ(a.nAudioKind, 0);
  EXPECT_EQ(a.cVideoStream, '0');
  EXPECT_EQ(a.cAudioStream, '1');
  // 11 x 1280 + 1282 bytes in 4-byte blocks.
  EXPECT_EQ(a.sets[0].dwWaveSampleCounts, (11 * 1280 + 1282) / 4u);
  EXPECT_EQ(a.fAllKeyFrames, 0);  // frame 5
  EXPECT_EQ(a.dwRiffDataPos, 12u);
  EXPECT_EQ(a.dwAvihPos, rel.avihData);
  EXPECT_EQ(a.pFieldShift.size(), 12u);
  EXPECT_EQ(a.pCurrentSet, &a.sets[0]);
  // Opening again starts from a closed record: nothing of the file before stays.
  a.marks.resize(2);
  a.deleteRanges.resize(1);
  a.pCurrentSet = &a.sets[1];
  ASSERT_TRUE(OpenRecord(&a, dir.File("abs.avi"), 1));
  EXPECT_TRUE(a.marks.empty());
  EXPECT_TRUE(a.deleteRanges.empty());
  EXPECT_EQ(a.pCurrentSet, &a.sets[0]);
}

TEST(AviReader, NullFramesDoNotCountAsDeltaFrames) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o;
  o.frames = Frames(5);
  o.frames[2].size = 0;
  o.frames[2].key = false;
  OpenAviFile a;
  ASSERT_TRUE(OpenRecord(&a, WriteAvi(dir, "n.avi", BuildAvi(o)), 1));
  EXPECT_EQ(a.fAllKeyFrames, 1);
  EXPECT_TRUE(IndexIsNull(a.sets[0].pFrameIndex[2]));
}

TEST(AviReader, DecodedFormatAndCodecNames) {
  ScratchDir dir;
  RecordingHost host;
  struct Case {
    uint16_t bits;
    uint32_t compression;
    const char* handler;
    const char* name;
  } cases[] = {{24, 0, "DIB ", "無圧縮24bit"},
               {8, 1, "DIB ", "無圧縮8bit-RLE8"},
               {4, 2, nullptr, "無圧縮4bit-RLE4"},
               {16, 3, "DIB\0", "無圧縮16bit-BitField"}};
  for (const Case& c : cases) {
    AviBuildOptions o;
    o.frames = Frames(1);
    o.width = 13;
    o.height = -7;
    o.bitCount = c.bits;
    o.compression = c.compression;
    o.handler = c.handler;
    OpenAviFile a;
    ASSERT_TRUE(OpenRecord(&a, WriteAvi(dir, "c.avi", BuildAvi(o)), 1)) << BoxTexts(host);
    EXPECT_STREQ(a.szCodecName, c.name);
    EXPECT_EQ(a.hicDecompress, nullptr);
    EXPECT_EQ(a.biDecoded.biSize, 40u);
    EXPECT_EQ(a.biDecoded.biBitCount, 24);
    EXPECT_EQ(a.biDecoded.biHeight, -7);
    EXPECT_EQ(a.biDecoded.biSizeImage, 40u * 7);  // (13*3+3) & ~3 = 40
  }
  // Handler 0 with a FOURCC in biCompression takes the FOURCC.
  AviBuildOptions o;
  o.frames = Frames(1);
  o.handler = nullptr;
  o.compression = FourCC("MJPG");
  OpenAviFile a;
  ASSERT_TRUE(OpenRecord(&a, WriteAvi(dir, "m.avi", BuildAvi(o)), 1));
  EXPECT_EQ(a.fccVideoHandler, FourCC("MJPG"));
  EXPECT_EQ(a.sets[0].strhVideo.fccHandler, FourCC("MJPG"));
  ASSERT_NE(a.hicDecompress, nullptr);
  EXPECT_NE(std::string(a.szCodecName).find("JPEG"), std::string::npos) << a.szCodecName;
}

TEST(AviReader, UnknownCodecIsReportedUnlessMode3) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o;
  o.frames = Frames(2);
  o.handler = "zzzz";
  std::string p = WriteAvi(dir, "z.avi", BuildAvi(o));
  OpenAviFile a;
  ASSERT_TRUE(OpenRecord(&a, p, 1));
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, p + "のビデオコーデックzzzzが開けません!");
  EXPECT_EQ(host.boxes[0].style & MB_ICONMASK, static_cast<unsigned>(MB_ICONINFORMATION));
  EXPECT_TRUE(a.fCodecFailed);
  host.boxes.clear();
  ASSERT_TRUE(OpenRecord(&a, p, 3));
  EXPECT_TRUE(host.boxes.empty());
}

// PCMWAVEFORMAT (16 bytes) and plain WAVEFORMAT (14, no bit depth).
TEST(AviReader, ShortPcmFormatGetsItsBitsRecomputed) {
  ScratchDir dir;
  RecordingHost host;
  for (uint32_t size : {14u, 16u}) {
    SCOPED_TRACE(size);
    AviBuildOptions o;
    o.frames = Frames(2);
    o.audio = true;
    o.wf.bits = 0;  // wrong on purpose: recomputed from nBlockAlign
    o.wf.strfSize = size;
    o.audioSizes = {8, 8};
    OpenAviFile a;
    ASSERT_TRUE(OpenRecord(&a, WriteAvi(dir, "p.avi", BuildAvi(o)), 1)) << BoxTexts(host);
    EXPECT_EQ(a.cbAudioFormat, 18u);
    ASSERT_EQ(a.pwfAudio.size(), 18u);
    WaveFormatEx wf = a.AudioFormat();
    EXPECT_EQ(wf.wBitsPerSample, 16);
    EXPECT_EQ(wf.cbSize, 0);
    EXPECT_EQ(a.sets[0].dwWaveSampleCounts, 4u);
  }
}

TEST(AviReader, CompressedAudioCountsBytesAndFillsThePcmFormat) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o;
  o.frames = Frames(3);
  o.audio = true;
  o.wf.tag = 0x55;
  o.wf.channels = 1;
  o.wf.rate = 22050;
  o.wf.blockAlign = 1;
  o.wf.bits = 0;
  o.wf.strfSize = 30;
  o.audioSizes = {417, 418, 417};
  OpenAviFile a;
  ASSERT_TRUE(OpenRecord(&a, WriteAvi(dir, "mp3.avi", BuildAvi(o)), 1)) << BoxTexts(host);
  EXPECT_EQ(a.nAudioKind, -1);
  EXPECT_EQ(a.cbAudioFormat, 30u);
  EXPECT_EQ(a.sets[0].dwWaveSampleCounts, 1252u);
  EXPECT_EQ(a.wfPCM.wFormatTag, 1);
  EXPECT_EQ(a.wfPCM.nChannels, 1);
  EXPECT_EQ(a.wfPCM.nSamplesPerSec, 22050u);
  EXPECT_EQ(a.wfPCM.wBitsPerSample, 16);
  EXPECT_EQ(a.wfPCM.nBlockAlign, 2);
  EXPECT_EQ(a.wfPCM.nAvgBytesPerSec, 44100u);
}

TEST(AviReader, FrameCountMismatchIsReportedAndTheOpenGoesOn) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o;
  o.frames = Frames(4);
  o.avihFrames = 9;
  std::string p = WriteAvi(dir, "h.avi", BuildAvi(o));
  OpenAviFile a;
  ASSERT_TRUE(OpenRecord(&a, p, 1));
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text,
            p + "の\nフレームのインデックス数(4)が\nヘッダのフレーム数(9/4)と異なります!");
  EXPECT_EQ(a.sets[0].FrameMax, 4u);
}

TEST(AviReader, WhatFollowsTheRiffDecidesIndexKind3) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o;
  o.frames = Frames(3);
  struct Case {
    std::string after;
    int kind;
  } cases[] = {
      {"", kIndexIdx1},
      {Chunk("JUNK", std::string(10, 'j')) + Chunk("junk", "x"), kIndexIdx1},
      {Chunk("JUNK", "a") + ListChunk("RIFF", "AVIX", ListChunk("LIST", "movi", "")), kIndexDataAfterIdx1},
      {"garbage!", kIndexDataAfterIdx1},
      {"abc", kIndexIdx1}};  // less than a header
  for (const Case& c : cases) {
    o.afterRiff = c.after;
    OpenAviFile a;
    ASSERT_TRUE(OpenRecord(&a, WriteAvi(dir, "k.avi", BuildAvi(o)), 1));
    EXPECT_EQ(a.nIndexKind, c.kind) << c.after;
  }
  o.afterRiff = "garbage!";
  OpenAviFile a;
  a.options.ignoreDataAfterIdx1 = true;
  ASSERT_TRUE(OpenRecord(&a, WriteAvi(dir, "k.avi", BuildAvi(o)), 1));
  EXPECT_EQ(a.nIndexKind, kIndexIdx1);
}

TEST(AviReader, MissingIdx1AsksWithATimedQuestion) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o = MixedFile();
  o.idx1 = AviBuildOptions::kNone;
  AviLayout L = BuildAvi(o);
  std::string p = WriteAvi(dir, "noidx.avi", L);
  OpenAviFile a;
  // Declined: no message, closed record.
  host.answers = {IDNO};
  EXPECT_FALSE(OpenRecord(&a, p, 1));
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, p + "にidx1チャンクがありません! インデックスを作成します.");
  EXPECT_EQ(host.boxes[0].style, static_cast<unsigned>(MB_YESNO | MB_ICONQUESTION));
  ASSERT_EQ(host.timeouts.size(), 1u);
  EXPECT_EQ(host.timeouts[0], 10000u);
  EXPECT_FALSE(a.IsOpen());
  EXPECT_TRUE(a.sets[0].pFrameIndex.empty());
  // Accepted: scanned. Every frame counts as a key frame.
  host.boxes.clear();
  host.answers = {IDYES};
  ASSERT_TRUE(OpenRecord(&a, p, 3)) << BoxTexts(host);
  EXPECT_EQ(a.nIndexKind, kIndexScanned);
  AviBuildOptions allKey = o;
  for (auto& f : allKey.frames) f.key = true;
  ExpectIndexMatches(a, allKey, L);
  EXPECT_EQ(a.fAllKeyFrames, 1);
  EXPECT_EQ(a.sets[0].dwWaveSampleCounts, (11 * 1280 + 1282) / 4u);
  EXPECT_EQ(host.status[0].back(), p + "のインデックスを作成しました.");
  // Progress in the status line, and the title back to normal at the end.
  ASSERT_GE(host.status[0].size(), 2u);
  const std::string& progress = host.status[0][host.status[0].size() - 2];
  EXPECT_EQ(progress.rfind(p + "インデックス作成中(", 0), 0u) << progress;
  EXPECT_EQ(progress.substr(progress.size() - std::string("%) ESC:中止").size()), "%) ESC:中止");
  ASSERT_GE(host.titleSuffixes.size(), 2u);
  EXPECT_NE(host.titleSuffixes.front().find("インデックス作成中"), std::string::npos);
  EXPECT_EQ(host.titleSuffixes.back(), "");
  EXPECT_GT(host.pumps, 12);
  // Mode 2 refuses.
  host.boxes.clear();
  EXPECT_FALSE(OpenRecord(&a, p, 2));
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, p + "にidx1チャンクがありません!");
}

TEST(AviReader, EscStopsTheScanSilently) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o;
  o.frames = Frames(50);
  o.idx1 = AviBuildOptions::kNone;
  std::string p = WriteAvi(dir, "esc.avi", BuildAvi(o));
  host.answers = {IDYES};
  host.onPump = [](int n) {
    if (n == 20) ME.fAbort = 1;
  };
  OpenAviFile a;
  EXPECT_FALSE(OpenRecord(&a, p, 1));
  EXPECT_EQ(host.boxes.size(), 1u);  // only the question
  EXPECT_FALSE(a.IsOpen());
  EXPECT_EQ(host.status[0].back(), "");
  ME.fAbort = 0;
}

TEST(AviReader, ScanEntersRecListsAndStopsBeforeACutChunk) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o = MixedFile();
  o.recLists = true;
  AviLayout L = BuildAvi(o);
  OpenAviFile a;
  ASSERT_TRUE(OpenRecord(&a, WriteAvi(dir, "rec.avi", L), 1)) << BoxTexts(host);
  ExpectIndexMatches(a, o, L);
  // Without idx1 and cut in the middle of the last frame.
  o.idx1 = AviBuildOptions::kNone;
  L = BuildAvi(o);
  L.bytes.resize(L.videoData.back() + 10);
  host.answers = {IDYES};
  ASSERT_TRUE(OpenRecord(&a, WriteAvi(dir, "cut.avi", L), 1)) << BoxTexts(host);
  EXPECT_EQ(a.sets[0].FrameMax, 11u);
  EXPECT_EQ(IndexOffset(a.sets[0].pFrameIndex[10]), L.videoData[10]);
  EXPECT_EQ(a.sets[0].WaveIndexEntries, 11u);
  EXPECT_TRUE(a.readNotes.scanStoppedAtCutChunk);
}

TEST(AviReader, AudioTrackWithoutChunksDoesNotRefuseTheVideo) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o;
  o.frames = Frames(3);
  o.audio = true;  // no audio sizes: no 01wb chunks
  OpenAviFile a;
  ASSERT_TRUE(OpenRecord(&a, WriteAvi(dir, "na.avi", BuildAvi(o)), 1)) << BoxTexts(host);
  EXPECT_EQ(a.sets[0].FrameMax, 3u);
  EXPECT_EQ(a.sets[0].WaveIndexEntries, 0u);
  EXPECT_EQ(a.nAudioKind, 0);
}

TEST(AviReader, OpenDmlWithSeveralRiffParts) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o = MixedFile();
  o.frames.resize(30, AviFrame{});
  o.frames[20].key = false;
  o.frames[25].size = 0;
  // The standard index carries no chunk ids: "dc" comes from its dwChunkId.
  o.frames[6].dc = true;
  o.audioSizes.resize(30, 640);
  o.openDml = true;
  o.framesPerPart = 8;
  AviLayout L = BuildAvi(o);
  ASSERT_EQ(L.stdIndex.size(), 8u);  // 4 parts x (video, audio)
  OpenAviFile a;
  ASSERT_TRUE(OpenRecord(&a, WriteAvi(dir, "odml.avi", L), 1)) << BoxTexts(host);
  EXPECT_TRUE(host.boxes.empty()) << BoxTexts(host);
  EXPECT_EQ(a.nIndexKind, kIndexOpenDml);
  ExpectIndexMatches(a, o, L);
  EXPECT_NE(a.hAvi2, nullptr);
  // Data reads go through the OpenDML handle.
  char c = 0;
  ASSERT_EQ(MyAviSeek(&a, nullptr, L.videoData[29], 0, false), static_cast<int64_t>(L.videoData[29]));
  ASSERT_EQ(MyAviRead(&a, nullptr, &c, 1, false), 1);
  EXPECT_EQ(c, static_cast<char>(29));
}

TEST(AviReader, BadStandardIndexFallsBackToIdx1WithAMessage) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o;
  o.frames = Frames(6);
  o.openDml = true;
  AviLayout L = BuildAvi(o);
  // The standard index names another stream.
  SetLe32(L.bytes, L.stdIndex[0] + 16, FourCC("01dc"));
  std::string p = WriteAvi(dir, "fb.avi", L);
  OpenAviFile a;
  ASSERT_TRUE(OpenRecord(&a, p, 1)) << BoxTexts(host);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text,
            p + "のAVI2形式での読み出し中にエラーが発生しました!\n通常のAVIとして開きます.");
  EXPECT_EQ(a.nIndexKind, kIndexIdx1);
  ExpectIndexMatches(a, o, L);
  // An unsupported super-index type names itself.
  L = BuildAvi(o);
  L.bytes[L.superIndex[0] + 3] = 0x80;
  host.boxes.clear();
  ASSERT_TRUE(OpenRecord(&a, WriteAvi(dir, "fb2.avi", L), 1));
  ASSERT_GE(host.boxes.size(), 1u);
  EXPECT_NE(
      host.boxes[0].text.find("のビデオのAVI2インデックスタイプ80は未対応です!\n通常のAVIとして開きます."),
      std::string::npos)
      << host.boxes[0].text;
}

TEST(AviReader, SuperIndexEntriesOutsideOrOverlappingFallBack) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o;
  o.frames = Frames(9);
  o.openDml = true;
  o.framesPerPart = 3;
  AviLayout L = BuildAvi(o);
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    const char* reason;
  } cases[] = {
      {"outside", [&](std::string& s) { SetLe32(s, L.superIndex[0] + 24 + 16, 0x7FFFFFF0); },
       "のビデオのAVI2インデックス(1番目)がファイルの外を指しています!"},
      {"twice", [&](std::string& s) { SetLe32(s, L.superIndex[0] + 24 + 16, Le32(s, L.superIndex[0] + 24)); },
       "のビデオのAVI2インデックスが重なっています!"},
      {"entry outside", [&](std::string& s) { SetLe32(s, L.stdIndex[1] + 32, 0x70000000); },
       "のビデオのAVI2インデックスのエントリ(3番目)がファイルの外を指しています!"},
      {"huge count", [&](std::string& s) { SetLe32(s, L.stdIndex[2] + 12, 0xFFFFFFF0); }, nullptr},
  };
  for (const Case& c : cases) {
    std::string bytes = L.bytes;
    c.damage(bytes);
    host.boxes.clear();
    OpenAviFile a;
    std::string p = dir.File("bad.avi");
    WriteFileBytes(p, bytes);
    bool ok = OpenRecord(&a, p, 1);
    if (!c.reason) {
      // The count is limited by the chunk: the index stays usable.
      EXPECT_TRUE(ok) << c.what << BoxTexts(host);
      EXPECT_EQ(a.nIndexKind, kIndexOpenDml) << c.what;
      EXPECT_EQ(a.sets[0].FrameMax, 9u) << c.what;
      continue;
    }
    // Falls back to idx1, which holds the first part only.
    EXPECT_TRUE(ok) << c.what << BoxTexts(host);
    ASSERT_GE(host.boxes.size(), 1u) << c.what;
    EXPECT_EQ(host.boxes[0].text, p + c.reason + "\n通常のAVIとして開きます.") << c.what;
    EXPECT_EQ(a.nIndexKind, kIndexDataAfterIdx1) << c.what;
    EXPECT_EQ(a.sets[0].FrameMax, 3u) << c.what;
  }
}

TEST(AviReader, CaptureWhoseSizesWereNeverWritten) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o = MixedFile();
  o.idx1 = AviBuildOptions::kNone;
  AviLayout L = BuildAvi(o);
  SetLe32(L.bytes, 4, 0);
  SetLe32(L.bytes, L.moviType - 4, 0);
  host.answers = {IDYES};
  OpenAviFile a;
  ASSERT_TRUE(OpenRecord(&a, WriteAvi(dir, "unsized.avi", L), 1)) << BoxTexts(host);
  AviBuildOptions allKey = o;
  for (auto& f : allKey.frames) f.key = true;
  ExpectIndexMatches(a, allKey, L);
}

// Files of several RIFF parts are scanned part by part on threads; whatever
// the parts hold, the result must be what one walk over the file finds.
TEST(AviReader, ScanOverPartsOnThreadsEqualsOneWalk) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o = MixedFile();
  o.frames.resize(40, AviFrame{});
  o.frames[25].size = 0;
  o.audioSizes.resize(40, 640);
  o.openDml = true;
  o.framesPerPart = 9;
  const AviLayout clean = BuildAvi(o);
  struct Case {
    const char* what;
    std::string bytes;
  };
  std::vector<Case> cases = {{"clean", clean.bytes}};
  // The last frame of the first part says it runs on to frame 11's header:
  // one walk skips the next part's header and frames 9 and 10.
  std::string over = clean.bytes;
  PutLE32(&over[clean.videoData[8] - 4], static_cast<uint32_t>(clean.videoData[11] - 8 - clean.videoData[8]));
  cases.push_back({"size past the next part", over});
  // A frame of the second part says it runs on to the fourth part's header.
  std::string skip = clean.bytes;
  uint64_t fourth = skip.find("RIFF", clean.videoData[20]);
  ASSERT_NE(fourth, std::string::npos);
  ASSERT_LT(fourth, clean.videoData[27]);
  PutLE32(&skip[clean.videoData[10] - 4], static_cast<uint32_t>(fourth - clean.videoData[10]));
  cases.push_back({"size onto a later part", skip});
  // A chunk of 16 MiB in part 2 while part 3 is sound.
  std::string big = clean.bytes;
  PutLE32(&big[clean.videoData[22] - 4], 16u << 20);
  cases.push_back({"16 MiB chunk", big});
  // The file cut in part 3.
  cases.push_back({"cut", clean.bytes.substr(0, clean.videoData[33] + 50)});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string p = dir.File("parts.avi");
    WriteFileBytes(p, c.bytes);
    struct Result {
      bool ok;
      std::vector<FrameIndexEntry> video, audio;
      uint32_t samples;
      std::vector<std::string> boxes;
      bool cut;
      uint64_t cutPos;
    } results[2];
    for (unsigned threads : {1u, 2u}) {
      OpenAviFile a;
      ASSERT_TRUE(OpenRecord(&a, p, 3)) << BoxTexts(host);
      host.boxes.clear();
      a.options.scanThreads = threads;
      Result& r = results[threads - 1];
      r.ok = RebuildAviIndex(&a, false);
      r.video = a.sets[0].pFrameIndex;
      r.audio = a.sets[0].pWaveIndex;
      r.samples = a.sets[0].dwWaveSampleCounts;
      for (const auto& b : host.boxes) r.boxes.push_back(b.text);
      r.cut = a.readNotes.scanStoppedAtCutChunk;
      r.cutPos = a.readNotes.cutChunkPos;
    }
    EXPECT_EQ(results[0].ok, results[1].ok);
    EXPECT_EQ(results[0].video, results[1].video);
    EXPECT_EQ(results[0].audio, results[1].audio);
    EXPECT_EQ(results[0].samples, results[1].samples);
    EXPECT_EQ(results[0].boxes, results[1].boxes);
    EXPECT_EQ(results[0].cut, results[1].cut);
    if (results[0].cut) {
      EXPECT_EQ(results[0].cutPos, results[1].cutPos);
    }
    if (std::string(c.what) == "clean") {
      EXPECT_TRUE(results[1].ok);
      ASSERT_EQ(results[1].video.size(), 40u);
      for (size_t i = 0; i < 40; ++i) EXPECT_EQ(IndexOffset(results[1].video[i]), clean.videoData[i]);
    }
    if (std::string(c.what) == "size past the next part") {
      ASSERT_EQ(results[1].video.size(), 38u);
      EXPECT_EQ(IndexOffset(results[1].video[9]), clean.videoData[11]);
    }
    if (std::string(c.what) == "size onto a later part") {
      ASSERT_EQ(results[1].video.size(), 40u - 16u);
      EXPECT_EQ(IndexOffset(results[1].video[11]), clean.videoData[27]);
    }
    if (std::string(c.what) == "16 MiB chunk") {
      EXPECT_FALSE(results[1].ok);
      ASSERT_EQ(results[1].boxes.size(), 1u);
    }
  }
}

TEST(AviReader, EscStopsTheScanOverPartsOnThreads) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o;
  o.frames = Frames(400, 4000);
  o.openDml = true;
  o.framesPerPart = 100;
  std::string p = WriteAvi(dir, "parts.avi", BuildAvi(o));
  OpenAviFile a;
  ASSERT_TRUE(OpenRecord(&a, p, 3));
  uint32_t before = a.sets[0].FrameMax;
  host.onPump = [](int) { ME.fAbort = 1; };
  a.options.scanThreads = 2;
  EXPECT_FALSE(RebuildAviIndex(&a, false));
  host.onPump = nullptr;
  EXPECT_TRUE(host.boxes.empty()) << BoxTexts(host);
  EXPECT_EQ(host.status[0].back(), "");
  EXPECT_EQ(a.sets[0].FrameMax, before);
  ME.fAbort = 0;
}

namespace {

// The children of the hdrl list of `bytes`, each whole (header and data).
std::vector<std::string> HdrlChildren(const std::string& bytes, size_t* begin, size_t* end) {
  size_t hdrl = bytes.find("hdrl") + 4;
  *begin = hdrl;
  *end = hdrl - 4 + Le32(bytes, hdrl - 8);
  std::vector<std::string> out;
  for (size_t at = hdrl; at < *end;) {
    size_t size = 8 + Le32(bytes, at + 4);
    out.push_back(bytes.substr(at, size + (size & 1)));
    at += out.back().size();
  }
  return out;
}

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
}

}  // namespace

TEST(AviReader, TheFirstAudioStreamGivesTheAudioKindAndChecks) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o;
  o.frames = Frames(8);
  o.audio = true;
  o.audioSizes = std::vector<uint32_t>(8, 400);
  AviLayout L = BuildAvi(o);
  // Streams: 0 PCM audio, 1 compressed audio with nBlockAlign 0, 2 video.
  size_t begin, end;
  std::vector<std::string> kids = HdrlChildren(L.bytes, &begin, &end);
  ASSERT_EQ(kids.size(), 3u);  // avih, video strl, audio strl
  std::string compressed = kids[2];
  size_t wf = compressed.find("strf") + 8;
  compressed[wf] = 0x55;
  compressed[wf + 12] = compressed[wf + 13] = 0;
  std::string body = kids[0] + kids[2] + compressed + kids[1];
  std::string bytes = L.bytes.substr(0, begin) + body + L.bytes.substr(end);
  SetLe32(bytes, begin - 8, static_cast<uint32_t>(body.size() + 4));
  SetLe32(bytes, 4, static_cast<uint32_t>(bytes.size() - 8));
  ReplaceAll(bytes, "00dc", "02dc");
  ReplaceAll(bytes, "01wb", "00wb");
  std::string p = dir.File("two-audio.avi");
  WriteFileBytes(p, bytes);

  OpenAviFile a;
  ASSERT_TRUE(OpenRecord(&a, p, 1)) << BoxTexts(host);
  EXPECT_EQ(a.nAudioKind, 0);
  EXPECT_EQ(a.AudioFormat().wFormatTag, 1);
  EXPECT_EQ(a.cAudioStream, '0');
  EXPECT_EQ(a.sets[0].WaveIndexEntries, 8u);
  EXPECT_EQ(a.sets[0].dwWaveSampleCounts, 8u * 100);
  EXPECT_EQ(a.sets[0].FrameMax, 8u);
  CloseOpenAvi(&a, 0);

  // The program itself, as the user runs it.
  std::string out;
  EXPECT_EQ(RunCommand(std::string(MX_MIRDEX) + " --report '" + p + "'", &out), 0) << out;
}

TEST(AviReader, AFailedAudioOpenDmlIndexKeepsTheVideoOne) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o = MixedFile();
  o.audioSizes.resize(12, 640);
  o.openDml = true;
  o.framesPerPart = 4;
  AviLayout L = BuildAvi(o);
  // The audio's first standard index names another stream.
  SetLe32(L.bytes, L.stdIndex[1] + 16, FourCC("02wb"));
  std::string p = WriteAvi(dir, "audio-fallback.avi", L);
  OpenAviFile a;
  ASSERT_TRUE(OpenRecord(&a, p, 1)) << BoxTexts(host);
  EXPECT_TRUE(host.boxes.empty()) << BoxTexts(host);
  EXPECT_EQ(a.nIndexKind, kIndexOpenDml);
  EXPECT_EQ(a.sets[0].FrameMax, 12u);
  EXPECT_EQ(IndexOffset(a.sets[0].pFrameIndex[11]), L.videoData[11]);
  EXPECT_EQ(a.sets[0].WaveIndexEntries, 0u);
  EXPECT_EQ(a.readNotes.openDmlAudioFallback, "AVI2形式での読み出し中にエラーが発生しました!");
  EXPECT_TRUE(a.readNotes.openDmlFallback.empty());
}

TEST(AviReader, LowercaseDibHandlerIsUncompressed) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o;
  o.frames = Frames(2, 16 * 16 * 3);
  o.handler = "dib ";
  OpenAviFile a;
  ASSERT_TRUE(OpenRecord(&a, WriteAvi(dir, "dib.avi", BuildAvi(o)), 1)) << BoxTexts(host);
  EXPECT_TRUE(host.boxes.empty()) << BoxTexts(host);
  EXPECT_STREQ(a.szCodecName, "無圧縮24bit");
  EXPECT_EQ(a.hicDecompress, nullptr);
  EXPECT_FALSE(a.fCodecFailed);
}

// An abort flag left behind by an earlier run does not stop the next open
// (the OpenDML index read polls it).
TEST(AviReader, AStaleAbortDoesNotStopTheNextOpen) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o;
  o.frames = Frames(6);
  o.openDml = true;
  o.framesPerPart = 3;
  std::string p = WriteAvi(dir, "odml.avi", BuildAvi(o));
  ME.fAbort = 1;
  OpenAviFile a;
  EXPECT_TRUE(OpenRecord(&a, p, 1)) << BoxTexts(host);
  EXPECT_EQ(a.nIndexKind, kIndexOpenDml);
  EXPECT_EQ(a.sets[0].FrameMax, 6u);
  ME.fAbort = 0;
}
