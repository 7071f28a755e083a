// Marks and deletion ranges: merging, their stored form in profile files and
// mark files, and the headless forms cut by a mark file.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "AviBuilder.h"
#include "EditTestUtil.h"
#include "avi/DeletionView.h"
#include "avi/Report.h"
#include "frame/FrameMd5.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "settings/Settings.h"

namespace {

TEST(Marks, RangesMergeWithJoinedCommentsAndMarksKeepOnePerFrame) {
  RecordingHost host;
  OpenAviTable t;
  MemoryTable(t, {100, 50});
  OpenAviFile& avi = t.pOpenAviList[0];
  const std::string a = "a|1", b = "b", none, c = "c", d = "d", more = "new";
  for (auto [first, last, text] :
       {std::tuple{70, 79, &d}, {10, 19, &a}, {30, 39, &b}, {45, 46, &none}, {50, 59, &c}})
    ASSERT_TRUE(AddDeleteRange(t, 0, first, last, text, true));
  // Overlapping four ranges: one range, the comments joined in order.
  ASSERT_TRUE(AddDeleteRange(t, 0, 15, 55, &more, true));
  EXPECT_EQ(FormatDeleteRanges(avi), "10,59,a||1,b,c,new|70,79,d");
  // No comment given: the dialog asks with the file's name; a cancel adds nothing.
  host.comments = {"tail"};
  ASSERT_TRUE(AddDeleteRange(t, 0, 90, -1, nullptr, true));
  EXPECT_EQ(host.prompts.back(), "/nowhere/file0.avi の\r削除範囲のコメント");
  EXPECT_FALSE(AddDeleteRange(t, 0, 0, 3, nullptr, true));
  EXPECT_FALSE(AddDeleteRange(t, 0, 5, 12, nullptr, true));
  // Numbers of the cut view: view frames 9 and 10 are frames 9 and 60.
  t.deleteRangesOn = true;
  ASSERT_TRUE(ChangeOpenAviParam(&avi, true, 0));
  ASSERT_TRUE(AddDeleteRange(t, 0, 9, 10, &none, false));
  EXPECT_EQ(FormatDeleteRanges(avi), "9,60,a||1,b,c,new|70,79,d|90,99,tail");

  // Re-marking replaces the comment; view and global numbers find their frame.
  ASSERT_TRUE(SetMark(t, 0, 5, "one", kMarkLocalUnedited));
  ASSERT_TRUE(SetMark(t, 0, 5, std::string(100, 'x'), kMarkLocalUnedited));
  ASSERT_TRUE(SetMark(t, 0, 11, "view", kMarkLocalCurrent));  // kept: 0..8, 61..
  ASSERT_TRUE(SetMark(t, -1, 120, "g", kMarkGlobalUnedited));
  EXPECT_FALSE(SetMark(t, -1, 150, "past", kMarkGlobalUnedited));
  EXPECT_EQ(FormatFrameMarks(avi), "5," + std::string(71, 'x') + "|63,view");
  EXPECT_EQ(avi.marks[1].lShown, 11);
  EXPECT_EQ(FormatFrameMarks(t.pOpenAviList[1]), "20,g");
  EXPECT_TRUE(SetMark(t, 0, 5, "", kMarkLocalUnedited | kMarkRemove));
  EXPECT_FALSE(SetMark(t, 0, 5, "", kMarkLocalUnedited | kMarkRemove));
  EXPECT_EQ(FormatFrameMarks(avi), "63,view");
}

// Marks and ranges as the profile file keeps them: thousands of entries
// (a value far beyond 32,767 characters), "|" and "||" in comments.
TEST(MarkFile, RoundTripsThroughTheSettingsFileItsTidyAndAMarkFile) {
  ScratchDir dir;
  RecordingHost host;
  ResetPathCache();
  ForgetProfileCache();
  const std::string avi = dir.File("take.avi"), mrk = dir.File("cut.mrk");
  ASSERT_TRUE(WriteFileBytes(avi, "x"));  // the tidy keeps sections of existing files
  OpenAviTable t, back, other, shortFile;
  MemoryTable(t, {40000}, avi);
  for (int i = 0; i < 4000; ++i) {
    std::string text = i % 3 == 0 ? "" : i % 3 == 1 ? "a|b" : "||x|" + std::to_string(i) + "|";
    ASSERT_TRUE(SetMark(t, 0, i * 9 + 1, text, kMarkLocalUnedited));
    ASSERT_TRUE(AddDeleteRange(t, 0, i * 9 + 3, i * 9 + 3 + i % 5, &text, true));
  }
  const std::string marks = FormatFrameMarks(t.pOpenAviList[0]),
                    ranges = FormatDeleteRanges(t.pOpenAviList[0]);
  ASSERT_GT(std::min(marks.size(), ranges.size()), 32767u);
  ASSERT_TRUE(SerializeMarks(t, 0, "", true));
  ASSERT_TRUE(TidySettings({}));
  ASSERT_TRUE(SerializeMarks(t, 0, mrk, true));
  MemoryTable(back, {40000}, avi);
  ASSERT_TRUE(SerializeMarks(back, 0, "", false));
  EXPECT_EQ(FormatFrameMarks(back.pOpenAviList[0]), marks);
  EXPECT_EQ(FormatDeleteRanges(back.pOpenAviList[0]), ranges);

  // A mark file is matched by the resolved path, however the file was named.
  ASSERT_TRUE(MakeDirectories(dir.File("sub")));
  MemoryTable(other, {40000}, dir.File("sub/../take.avi"));
  ASSERT_TRUE(LoadMarkFileByResolvedPaths(other, mrk));
  EXPECT_EQ(FormatDeleteRanges(other.pOpenAviList[0]), ranges);
  EXPECT_FALSE(LoadMarkFileByResolvedPaths(other, dir.path()));
  EXPECT_EQ(host.boxes.size(), 1u);

  // Entries past a shorter file are dropped; reversed numbers are swapped.
  ASSERT_TRUE(WriteProfileText(avi, "FrameMark", "5,a|39999,far|7,", mrk));
  ASSERT_TRUE(WriteProfileText(avi, "DeleteRange", "3,1,x|8,12,over|20,9,y", mrk));
  MemoryTable(shortFile, {10}, avi);
  ASSERT_TRUE(SerializeMarks(shortFile, 0, mrk, false));
  EXPECT_EQ(FormatFrameMarks(shortFile.pOpenAviList[0]), "5,a|7,");
  EXPECT_EQ(FormatDeleteRanges(shortFile.pOpenAviList[0]), "1,3,x");
}

std::vector<std::string> Lines(FILE* f) {
  std::rewind(f);
  std::vector<std::string> lines;
  for (char line[128]; std::fgets(line, sizeof line, f);) lines.emplace_back(line);
  std::fclose(f);
  return lines;
}

// The headless report and frame digests of a file cut by a mark file.
TEST(MarkFile, CutsTheReportAndTheFrameDigests) {
  ScratchDir dir;
  AviBuildOptions o;
  o.frames = Frames(12, 16 * 16 * 3);
  o.audio = true;
  o.audioSizes = std::vector<uint32_t>(12, 1280);  // 320 samples = 1/25 s each
  std::string path = dir.File("cut.avi"), mrk = dir.File("cut.mrk");
  ASSERT_TRUE(WriteFileBytes(path, BuildAvi(o).bytes));
  ASSERT_TRUE(WriteProfileText(dir.path() + "./cut.avi", "DeleteRange", "3,5,|10,11,", mrk));
  auto prepare = [&mrk](OpenAviTable& table) { return ViewThroughMarkFile(table, mrk); };

  FILE* out = std::tmpfile();
  char json[] = "--json";
  char* argv[] = {json, path.data()};
  int status = RunReport(2, argv, out, prepare);
  std::string text;
  for (auto& line : Lines(out)) text += line;
  EXPECT_EQ(status, 0) << text;  // the audio is cut with the video
  auto j = nlohmann::json::parse(text)[0];
  EXPECT_EQ(j["frames"], 7);
  EXPECT_EQ(j["deleted_frames"], 5);
  EXPECT_EQ(j["audio_samples"], 7 * 320);

  FILE *all = std::tmpfile(), *kept = std::tmpfile();
  EXPECT_EQ(FrameMd5(path, all, stderr), 0);
  EXPECT_EQ(FrameMd5(path, kept, stderr, prepare), 0);
  std::vector<std::string> a = Lines(all), k = Lines(kept);
  ASSERT_EQ(a.size(), 12u);
  ASSERT_EQ(k.size(), 7u);
  const int keptFrames[] = {0, 1, 2, 6, 7, 8, 9};
  for (int i = 0; i < 7; ++i)
    EXPECT_EQ(k[i], std::to_string(i) + a[keptFrames[i]].substr(a[keptFrames[i]].find(',')));
}

}  // namespace
