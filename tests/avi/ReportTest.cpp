// The headless report: its facts, its JSON form and its exit status.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "AviTestUtil.h"
#include "avi/Report.h"

namespace {

struct ReportRun {
  int status = -1;
  std::string out;
};

ReportRun RunReportOn(std::vector<std::string> args) {
  ReportRun r;
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  char* buf = nullptr;
  size_t len = 0;
  std::FILE* out = open_memstream(&buf, &len);
  r.status = RunReport(static_cast<int>(argv.size()), argv.data(), out);
  std::fclose(out);
  r.out.assign(buf, len);
  free(buf);
  return r;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

TEST(Report, CleanFileInTextForm) {
  ScratchDir dir;
  AviBuildOptions o;
  o.frames = Frames(50, 120);
  o.frames[7].key = false;
  o.frames[9].size = 500;
  o.audio = true;
  o.audioSizes = std::vector<uint32_t>(50, 1280);  // 320 samples = 1/25 s each
  std::string p = WriteAvi(dir, "clean.avi", BuildAvi(o));
  ReportRun r = RunReportOn({p});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "container: AVI 1.0")) << r.out;
  EXPECT_TRUE(Contains(r.out, "frames: 50 in the index, 50 in avih")) << r.out;
  EXPECT_TRUE(Contains(r.out, "key frames: 49, delta frames: 1")) << r.out;
  EXPECT_TRUE(Contains(r.out, "largest chunk: 1280 bytes")) << r.out;
  EXPECT_TRUE(Contains(r.out, "16000 samples")) << r.out;
  EXPECT_TRUE(Contains(r.out, "problems: none")) << r.out;
}

TEST(Report, JsonFactsOverSeveralFiles) {
  ScratchDir dir;
  AviBuildOptions odml;
  odml.frames = Frames(40, 64);
  odml.frames[3].size = 0;
  odml.frames[33].size = 0;
  odml.frames[20].key = false;
  odml.openDml = true;
  odml.framesPerPart = 10;
  odml.rate = 30000;
  odml.scale = 1001;
  std::string a = WriteAvi(dir, "odml.avi", BuildAvi(odml));

  AviBuildOptions noIdx;
  noIdx.frames = Frames(25);
  noIdx.idx1 = AviBuildOptions::kNone;
  noIdx.audio = true;
  noIdx.wf.tag = 0x55;
  noIdx.wf.blockAlign = 1;
  noIdx.wf.strfSize = 30;
  noIdx.audioSizes = std::vector<uint32_t>(25, 1280);
  AviLayout L = BuildAvi(noIdx);
  std::string b = WriteAvi(dir, "noidx.avi", L);

  std::string c = dir.File("missing.avi");
  ReportRun r = RunReportOn({"--json", a, b, c});
  EXPECT_EQ(r.status, 2);
  auto j = nlohmann::json::parse(r.out, nullptr, false);
  ASSERT_FALSE(j.is_discarded()) << r.out;
  ASSERT_TRUE(j.is_array());
  ASSERT_EQ(j.size(), 3u);

  const auto& x = j[0];
  EXPECT_EQ(x["path"], a);
  EXPECT_EQ(x["container"], "OpenDML");
  EXPECT_EQ(x["riff_parts"], 4);
  EXPECT_EQ(x["index_kind"], 4);
  EXPECT_EQ(x["video_handler"], "DIB ");
  EXPECT_EQ(x["width"], 16);
  EXPECT_EQ(x["height"], 16);
  EXPECT_EQ(x["rate"], 30000);
  EXPECT_EQ(x["scale"], 1001);
  EXPECT_EQ(x["frames"], 40);
  EXPECT_EQ(x["header_frames"], 10);  // avih of the first part
  EXPECT_EQ(x["key_frames"], 37);
  EXPECT_EQ(x["null_frames"], nlohmann::json::array({3, 33}));
  EXPECT_TRUE(x["audio_format_tag"].is_null());
  EXPECT_TRUE(x["problems"].empty()) << x["problems"].dump();

  const auto& y = j[1];
  EXPECT_EQ(y["container"], "AVI");
  EXPECT_EQ(y["riff_parts"], 1);
  EXPECT_EQ(y["index_kind"], 1);
  EXPECT_EQ(y["frames"], 25);
  EXPECT_EQ(y["audio_format_tag"], 0x55);
  EXPECT_TRUE(y["audio_samples"].is_null());
  EXPECT_EQ(y["audio_bytes"], 25 * 1280);
  ASSERT_FALSE(y["problems"].empty());
  EXPECT_TRUE(Contains(y["problems"][0].get<std::string>(), "no idx1"));
  // Indexed by scanning: nothing was asked and nothing written.
  EXPECT_EQ(ReadFileBytes(b), L.bytes);

  const auto& z = j[2];
  EXPECT_EQ(z["readable"], false);
  ASSERT_EQ(z["problems"].size(), 1u);
  EXPECT_EQ(z["problems"][0], c + "が開けません!");
}

TEST(Report, ProblemsGiveStatusOneAndNoFileGivesTwo) {
  ScratchDir dir;
  AviBuildOptions o;
  o.frames = Frames(10);
  o.avihFrames = 12;
  std::string p = WriteAvi(dir, "h.avi", BuildAvi(o));
  ReportRun r = RunReportOn({p});
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_TRUE(Contains(r.out, "10 frames in the index, 12 in avih")) << r.out;
  // The reader's own box about the count is among the problems, on one line.
  EXPECT_TRUE(Contains(r.out, "フレームのインデックス数(10)が ヘッダのフレーム数(12/10)と異なります!"))
      << r.out;
  EXPECT_EQ(RunReportOn({}).status, 2);
  EXPECT_EQ(RunReportOn({"--json"}).status, 2);
}

TEST(Report, SharedSamplesAgreeWithTheirIndexes) {
  // A file with idx1 and one that must be scanned.
  ReportRun r = RunReportOn({"--json", SamplePath("cinepak_gray_pcm8_idx1_pcitva15.avi"),
                             SamplePath("cinepak_pcm8_truncated_noidx1_laracroft.avi")});
  auto j = nlohmann::json::parse(r.out, nullptr, false);
  ASSERT_FALSE(j.is_discarded()) << r.out;
  ASSERT_EQ(j.size(), 2u);
  // 152 frames, 333690 8-bit samples (the stream headers and ffprobe agree).
  EXPECT_EQ(j[0]["frames"], 152);
  EXPECT_EQ(j[0]["header_frames"], 152);
  EXPECT_EQ(j[0]["audio_samples"], 333690);
  EXPECT_TRUE(j[0]["problems"].empty());
  EXPECT_EQ(j[1]["index_kind"], 1);
  EXPECT_EQ(j[1]["header_frames"], 326);
  EXPECT_EQ(r.status, 1);
}
