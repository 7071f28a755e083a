// The record model: index entries, frame rate, the table and its numbering,
// the append checks, the title, the open dialog and the I/O wrappers.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "AviTestUtil.h"
#include "platform/AppState.h"

TEST(FrameIndexEntry, PacksTheDocumentedBits) {
  const uint64_t offset = (uint64_t{1} << 37) + 12345;  // needs all 38 bits
  FrameIndexEntry e = MakeIndexEntry(offset, 0xABCDEF, true, true);
  EXPECT_EQ(e & ((uint64_t{1} << 38) - 1), offset);
  EXPECT_EQ((e >> 38) & 0xFFFFFF, 0xABCDEFu);
  EXPECT_EQ(e >> 62, 3u);
  EXPECT_EQ(IndexOffset(e), offset);
  EXPECT_EQ(IndexSize(e), 0xABCDEFu);
  EXPECT_TRUE(IndexIsCompressed(e));
  EXPECT_FALSE(IndexIsKey(e));
  // Fields never bleed into each other.
  FrameIndexEntry plain = MakeIndexEntry((uint64_t{1} << 38) - 1, 0, false, false);
  EXPECT_EQ(plain, (uint64_t{1} << 38) - 1);
  EXPECT_TRUE(IndexIsNull(plain));
  EXPECT_TRUE(IndexIsKey(plain));
  EXPECT_EQ(MakeIndexEntry(0, 0xFFFFFF, false, false), uint64_t{0xFFFFFF} << 38);
}

TEST(FrameRate, ParsesRationalAndDecimalTexts) {
  uint32_t r = 0, s = 0;
  ASSERT_TRUE(ParseFrameRateText("30000/1001", &r, &s));
  EXPECT_EQ(r, 30000u);
  EXPECT_EQ(s, 1001u);
  // Multiplied by ten together until both are whole.
  ASSERT_TRUE(ParseFrameRateText("29.97/1", &r, &s));
  EXPECT_EQ(r, 2997u);
  EXPECT_EQ(s, 100u);
  ASSERT_TRUE(ParseFrameRateText("2997/100.5", &r, &s));
  EXPECT_EQ(r, 29970u);
  EXPECT_EQ(s, 1005u);
  // Divided by ten together while either reaches 268435455.
  ASSERT_TRUE(ParseFrameRateText("300000000/10010000", &r, &s));
  EXPECT_EQ(r, 30000000u);
  EXPECT_EQ(s, 1001000u);
  // Without a slash the scale is 10^8.
  ASSERT_TRUE(ParseFrameRateText("29.97", &r, &s));
  EXPECT_EQ(r, 2997000000u);
  EXPECT_EQ(s, 100000000u);
  ASSERT_TRUE(ParseFrameRateText("25", &r, &s));
  EXPECT_EQ(r, 2500000000u);
  EXPECT_EQ(s, 100000000u);
  // 60 x 10^8 does not fit a 32-bit field: both shrink, the ratio stays.
  ASSERT_TRUE(ParseFrameRateText("60", &r, &s));
  EXPECT_DOUBLE_EQ(static_cast<double>(r) / s, 60.0);
  EXPECT_FALSE(ParseFrameRateText("", &r, &s));
  EXPECT_FALSE(ParseFrameRateText("abc", &r, &s));
  EXPECT_FALSE(ParseFrameRateText("0/1", &r, &s));
  EXPECT_FALSE(ParseFrameRateText("30/0", &r, &s));
}

TEST(FrameRate, FirstSampleOfFrameRoundsHalfUp) {
  // 48000 / 29.97 = 1601.6 samples per frame.
  EXPECT_EQ(FirstSampleOfFrame(0, 48000, 30000.0 / 1001), 0u);
  EXPECT_EQ(FirstSampleOfFrame(1, 48000, 30000.0 / 1001), 1602u);
  EXPECT_EQ(FirstSampleOfFrame(5, 48000, 30000.0 / 1001), 8008u);
  EXPECT_EQ(FirstSampleOfFrame(3, 44100, 25), 5292u);
}

TEST(FrameRate, EffectiveRateComesFromTheFirstFileUnlessFixed) {
  ScratchDir dir;
  RecordingHost host;
  OpenAviTable t;
  AviBuildOptions o;
  o.frames = Frames(3);
  o.rate = 30000;
  o.scale = 1001;
  std::string a = WriteAvi(dir, "a.avi", BuildAvi(o));
  ASSERT_TRUE(t.OpenNamedFile(a)) << BoxTexts(host);
  EXPECT_DOUBLE_EQ(t.EffectiveFrameRate(), 30000.0 / 1001);
  t.SetFixedFrameRate(true, "25/1");
  EXPECT_DOUBLE_EQ(t.EffectiveFrameRate(), 25.0);
  t.SetFixedFrameRate(false, "25/1");
  EXPECT_DOUBLE_EQ(t.EffectiveFrameRate(), 30000.0 / 1001);
}

namespace {
// Opens files of `frames` frames each into the table as appended files.
void OpenTable(OpenAviTable& t, const ScratchDir& dir, const std::vector<size_t>& frames) {
  std::vector<std::string> paths;
  for (size_t i = 0; i < frames.size(); ++i) {
    AviBuildOptions o;
    o.frames = Frames(frames[i]);
    paths.push_back(WriteAvi(dir, "t" + std::to_string(i) + ".avi", BuildAvi(o)));
  }
  ASSERT_TRUE(t.OpenChosenFiles(40001, nullptr, paths));
  ASSERT_EQ(t.nOpenAvi, static_cast<int>(frames.size()));
}
}  // namespace

TEST(OpenAviTable, GlobalNumbersRunAcrossFilesAndClampAtTheEnd) {
  ScratchDir dir;
  RecordingHost host;
  OpenAviTable t;
  OpenTable(t, dir, {3, 5, 2});
  EXPECT_EQ(t.TotalFrames(), 10u);
  FramePlace p = t.GlobalToLocal(0);
  EXPECT_EQ(p.file, 0);
  EXPECT_EQ(p.frame, 0u);
  p = t.GlobalToLocal(3);
  EXPECT_EQ(p.file, 1);
  EXPECT_EQ(p.frame, 0u);
  p = t.GlobalToLocal(7);
  EXPECT_EQ(p.file, 1);
  EXPECT_EQ(p.frame, 4u);
  p = t.GlobalToLocal(8);
  EXPECT_EQ(p.file, 2);
  EXPECT_EQ(p.frame, 0u);
  p = t.GlobalToLocal(1000);
  EXPECT_EQ(p.file, 2);
  EXPECT_EQ(p.frame, 1u);
  EXPECT_EQ(t.LocalToGlobal(2, 1), 9u);
  t.SelectOpenAvi(2);
  EXPECT_EQ(t.dwFrameBase, 8u);
  EXPECT_EQ(t.pCurrentOpenAvi, &t.pOpenAviList[2]);
  EXPECT_EQ(t.nOpenAviIndex, 2);
}

TEST(OpenAviTable, BothNumberingsThroughDeletionRanges) {
  ScratchDir dir;
  RecordingHost host;
  OpenAviTable t;
  OpenTable(t, dir, {10, 4});
  // File 0 loses frames 2..4 and 8; set 1 would be built by the index
  // editing code, here only its frame count matters.
  auto& f0 = t.pOpenAviList[0];
  f0.deleteRanges = {{2, 4, {}}, {8, 8, {}}};
  f0.sets[1].FrameMax = 6;
  t.pOpenAviList[1].sets[1].FrameMax = 4;
  t.deleteRangesOn = true;
  ASSERT_TRUE(t.AllocOpenAviTable(2));
  EXPECT_EQ(f0.pCurrentSet, &f0.sets[1]);
  EXPECT_EQ(t.TotalFrames(), 10u);
  EXPECT_EQ(t.TotalFrames(true), 14u);
  // Kept frames of file 0: 0 1 5 6 7 9.
  const uint32_t kept[] = {0, 1, 5, 6, 7, 9};
  for (uint32_t k = 0; k < 6; ++k) EXPECT_EQ(t.CurrentToSet0Global(k), kept[k]) << k;
  EXPECT_EQ(t.CurrentToSet0Global(6), 10u);  // first frame of file 1
  EXPECT_EQ(t.Set0ToCurrentGlobal(5), 2u);
  EXPECT_EQ(t.Set0ToCurrentGlobal(3), 1u);  // deleted: the kept frame before its range
  EXPECT_EQ(t.Set0ToCurrentGlobal(11), 7u);
  t.deleteRangesOn = false;
}

TEST(OpenAviTable, GrowingKeepsEveryCurrentSetInsideItsRecord) {
  OpenAviTable t;
  ASSERT_TRUE(t.AllocOpenAviTable(1));
  for (int n = 2; n < 40; n += 7) {
    ASSERT_TRUE(t.AllocOpenAviTable(n));
    for (auto& r : t.pOpenAviList) EXPECT_EQ(r.pCurrentSet, &r.sets[0]);
  }
  t.deleteRangesOn = true;
  ASSERT_TRUE(t.AllocOpenAviTable(50));
  for (auto& r : t.pOpenAviList) EXPECT_EQ(r.pCurrentSet, &r.sets[1]);
  t.deleteRangesOn = false;
}

TEST(OpenAviTable, AppendChecksSizeAudioAndNames) {
  ScratchDir dir;
  RecordingHost host;
  OpenAviTable t;
  AviBuildOptions base;
  base.frames = Frames(2);
  std::string first = WriteAvi(dir, "first.avi", BuildAvi(base));
  AviBuildOptions flipped = base;
  flipped.height = -16;  // top-down: the same size
  std::string top = WriteAvi(dir, "top.avi", BuildAvi(flipped));
  AviBuildOptions wide = base;
  wide.width = 32;
  std::string widePath = WriteAvi(dir, "wide.avi", BuildAvi(wide));
  AviBuildOptions withAudio = base;
  withAudio.audio = true;
  withAudio.audioSizes = {400, 400};
  std::string audio1 = WriteAvi(dir, "audio1.avi", BuildAvi(withAudio));
  AviBuildOptions otherAudio = withAudio;
  otherAudio.wf.rate = 11025;
  otherAudio.wf.avgBytes = 44100;
  std::string audio2 = WriteAvi(dir, "audio2.avi", BuildAvi(otherAudio));
  AviBuildOptions bothDiffer = otherAudio;
  bothDiffer.width = 32;
  std::string both = WriteAvi(dir, "both.avi", BuildAvi(bothDiffer));

  ASSERT_TRUE(t.OpenChosenFiles(40001, nullptr, {first, top}));
  EXPECT_EQ(t.nOpenAvi, 2) << BoxTexts(host);
  // A file without audio is followed by one with audio, which then sets the
  // audio format the later files are compared with.
  ASSERT_TRUE(t.OpenChosenFiles(40001, nullptr, {audio1}));
  EXPECT_EQ(t.nOpenAvi, 3);
  host.boxes.clear();
  EXPECT_FALSE(t.OpenChosenFiles(40001, nullptr, {widePath, audio2, both, first}));
  EXPECT_EQ(t.nOpenAvi, 3);
  ASSERT_EQ(host.boxes.size(), 4u);
  EXPECT_EQ(host.boxes[0].text, widePath + "はビデオのサイズが異なります!");
  EXPECT_EQ(host.boxes[1].text, audio2 + "はオーディオの形式が異なります!");
  EXPECT_EQ(host.boxes[2].text, both + "はビデオのサイズとオーディオの形式が異なります!");
  EXPECT_EQ(host.boxes[3].text, first + "は既に開かれています!");
  for (auto& b : host.boxes) EXPECT_EQ(b.caption, "Mirdex");
  // Names are compared without regard to case.
  std::string upper = dir.File("FIRST.avi");
  ASSERT_EQ(0, std::rename(first.c_str(), upper.c_str()));
  host.boxes.clear();
  OpenAviFile probe;
  probe.szFileName = upper;
  ASSERT_TRUE(CloseOpenAvi(&probe, 2));
  EXPECT_EQ(t.CompareWithTable(&probe) & 4, 4);
  CloseOpenAvi(&probe, 0);
}

TEST(OpenAviTable, AppendedFilesNeedAnIndexAndFailuresDoNotStopTheLoop) {
  ScratchDir dir;
  RecordingHost host;
  OpenAviTable t;
  AviBuildOptions o;
  o.frames = Frames(2);
  std::string good = WriteAvi(dir, "good.avi", BuildAvi(o));
  o.idx1 = AviBuildOptions::kNone;
  std::string noIndex = WriteAvi(dir, "noidx.avi", BuildAvi(o));
  EXPECT_TRUE(t.OpenChosenFiles(40001, nullptr, {noIndex, good}));
  EXPECT_EQ(t.nOpenAvi, 1);
  ASSERT_EQ(host.boxes.size(), 2u) << BoxTexts(host);
  EXPECT_EQ(host.boxes[0].text, noIndex + "にidx1チャンクがありません!");
  EXPECT_EQ(host.boxes[1].text, noIndex + "が開けません!");
  EXPECT_TRUE(host.timeouts.empty());  // no question in mode 2
}

TEST(OpenAviDialog, TitlesFiltersAndCancel) {
  ScratchDir dir;
  OpenAviTable t;
  struct DialogHost : RecordingHost {
    std::vector<FileDialogRequest> requests;
    std::vector<std::string> reply;
    bool ChooseFiles(const FileDialogRequest& r, std::vector<std::string>* paths) override {
      requests.push_back(r);
      *paths = reply;
      return !reply.empty();
    }
  } host;
  EXPECT_FALSE(t.CommandOpen(40000));  // cancelled
  ASSERT_EQ(host.requests.size(), 1u);
  const FileDialogRequest& r = host.requests[0];
  EXPECT_EQ(r.title, "Mirdex / 開くAVIファイル名入力");
  ASSERT_EQ(r.filters.size(), 2u);
  EXPECT_EQ(r.filters[0].first, "AVIファイル");
  EXPECT_EQ(r.filters[1].first, "すべてのファイル");
  EXPECT_EQ(r.defaultExt, "avi");
  EXPECT_FALSE(r.multiple);
  EXPECT_EQ(r.checkBoxText, "非PCMオーディオをテンポラリファイルにデコード(&P)");
  EXPECT_EQ(r.checkBox, &t.openOptions.decodeAudioAtOpen);
  EXPECT_EQ(t.nOpenAvi, 0);

  AviBuildOptions o;
  o.frames = Frames(4);
  std::string a = WriteAvi(dir, "a.avi", BuildAvi(o));
  std::string b = WriteAvi(dir, "b.avi", BuildAvi(o));
  host.reply = {a};
  ASSERT_TRUE(t.CommandOpen(40000)) << BoxTexts(host);
  EXPECT_EQ(t.nOpenAvi, 1);
  EXPECT_EQ(host.title, "Mirdex / " + a + " [1/1] / 無圧縮24bit");
  host.reply = {b};
  ASSERT_TRUE(t.CommandOpen(40001));
  EXPECT_TRUE(host.requests.back().multiple);
  EXPECT_EQ(host.requests.back().title, "Mirdex / 追加で開くAVIファイル名入力");
  EXPECT_EQ(t.nOpenAvi, 2);
  EXPECT_EQ(host.title, "Mirdex / " + a + " [1/2] / 無圧縮24bit");
  // The folder chosen last (the top of the folder history, kept without
  // its final slash) is where the next dialog starts.
  host.reply.clear();
  OpenAviFile other;
  EXPECT_FALSE(t.OpenAviDialog(40009, &other));
  EXPECT_EQ(host.requests.back().title, "Mirdex / ビデオ比較AVIファイル名入力");
  EXPECT_EQ(host.requests.back().initialDir + "/", dir.path());
  EXPECT_FALSE(t.OpenAviDialog(40003, &other));  // not a purpose
  ASSERT_TRUE(t.CommandOpen(40002));
  EXPECT_EQ(t.nOpenAvi, 0);
  EXPECT_EQ(host.title, "Mirdex ");
  EXPECT_EQ(t.MainTitleText(" (x)"), "Mirdex  (x)");
}

TEST(OpenAviFormats, DvCodecsAndSameVideoFormat) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o;
  o.frames = Frames(2);
  o.handler = "dvsd";
  std::string dv = WriteAvi(dir, "dv.avi", BuildAvi(o));
  o.handler = "DVSD";
  std::string dvUpper = WriteAvi(dir, "dv2.avi", BuildAvi(o));
  o.handler = "MJPG";
  std::string mjpg = WriteAvi(dir, "mjpg.avi", BuildAvi(o));
  OpenAviFile a, b, c;
  ASSERT_TRUE(OpenRecord(&a, dv, 3)) << BoxTexts(host);
  ASSERT_TRUE(OpenRecord(&b, dvUpper, 3));
  ASSERT_TRUE(OpenRecord(&c, mjpg, 3));
  EXPECT_TRUE(IsDvCodec(&a));
  EXPECT_TRUE(IsDvCodec(&b));
  EXPECT_FALSE(IsDvCodec(&c));
  EXPECT_TRUE(IsSameVideoFormat(&a, &b));
  EXPECT_FALSE(IsSameVideoFormat(&a, &c));
  b.pbiVideo[39] ^= 1;
  EXPECT_FALSE(IsSameVideoFormat(&a, &b));
  EXPECT_NE(std::string(a.szCodecName), "");
  EXPECT_EQ(a.fCodecConfigurable, 0);
}

TEST(OpenAviIo, WrappersUse64BitPositionsAndFailOnShortTransfers) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions o;
  o.frames = Frames(2);
  std::string path = WriteAvi(dir, "big.avi", BuildAvi(o));
  // A sparse tail puts a marker beyond 4 GiB.
  const uint64_t far = (uint64_t{5} << 30) + 3;
  {
    int fd = open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, "MARK", 4, static_cast<off_t>(far)), 4);
    close(fd);
  }
  OpenAviFile avi;
  ASSERT_TRUE(OpenRecord(&avi, path, 3)) << BoxTexts(host);
  char buf[8] = {};
  ASSERT_EQ(MyAviSeek(&avi, nullptr, far, 0, false), static_cast<int64_t>(far));
  ASSERT_EQ(MyAviRead(&avi, nullptr, buf, 4, false), 4);
  EXPECT_EQ(std::string(buf, 4), "MARK");
  // Only part of the count is there: a failure.
  ASSERT_EQ(MyAviSeek(&avi, nullptr, far + 2, 0, false), static_cast<int64_t>(far + 2));
  EXPECT_EQ(MyAviRead(&avi, nullptr, buf, 4, false), -1);
  // Writing needs a handle of its own.
  EXPECT_EQ(MyAviWrite(&avi, nullptr, "x", 1, false), -1);
  std::unique_ptr<RiffFile> w;
  ASSERT_TRUE(MyAviOpen(&avi, &w, false));
  ASSERT_EQ(MyAviSeek(&avi, w.get(), far, 0, false), static_cast<int64_t>(far));
  ASSERT_EQ(MyAviWrite(&avi, w.get(), "mark", 4, false), 4);
  ASSERT_TRUE(MyAviClose(&avi, &w, false));
  EXPECT_EQ(w, nullptr);
  ASSERT_EQ(MyAviSeek(&avi, nullptr, far, 0, false), static_cast<int64_t>(far));
  ASSERT_EQ(MyAviRead(&avi, nullptr, buf, 4, false), 4);
  EXPECT_EQ(std::string(buf, 4), "mark");
  // Audio of compressed audio goes to the work file, which is not there.
  avi.nAudioKind = -1;
  EXPECT_EQ(MyAviRead(&avi, nullptr, buf, 1, true), -1);
  avi.nAudioKind = 1;
  CloseOpenAvi(&avi, 0);
  EXPECT_FALSE(avi.IsOpen());
}
