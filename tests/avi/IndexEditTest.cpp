// Editing idx1 in place: the frames a player and our reader see afterwards,
// refusals, a write stopped at any step, and the program's headless forms.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "AviTestUtil.h"
#include "avi/IndexEdit.h"

namespace {

// The digests `mirdex --framemd5` prints, one per frame.
std::vector<std::string> Digests(const std::string& path) {
  std::string out;
  EXPECT_EQ(RunCommand(std::string(MX_MIRDEX) + " --framemd5 '" + path + "' 2>/dev/null", &out), 0);
  std::vector<std::string> d;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) d.push_back(line.substr(line.find(',') + 1));
  return d;
}

// ffprobe's frame count (headers) and packets read; with sorted timestamps it
// reads the packets through idx1, as a player seeking by it would.
std::pair<long, long> Probe(const std::string& path) {
  std::string out;
  EXPECT_EQ(RunCommand("ffprobe -v quiet -fflags +sortdts -count_packets -select_streams v "
                       "-show_entries stream=nb_frames,nb_read_packets -of json '" +
                           path + "'",
                       &out),
            0);
  auto s = nlohmann::json::parse(out)["streams"][0];
  return {std::stol(s["nb_frames"].get<std::string>()), std::stol(s["nb_read_packets"].get<std::string>())};
}

std::vector<FrameIndexEntry> FrameIndex(const std::string& path, RecordingHost& host) {
  OpenAviFile a;
  size_t before = host.boxes.size();
  EXPECT_TRUE(OpenRecord(&a, path, 1, false)) << BoxTexts(host);
  // No box: the header counts match the index.
  EXPECT_EQ(host.boxes.size(), before) << BoxTexts(host);
  return a.sets[0].pFrameIndex;
}

struct Edit {
  IndexEditKind kind;
  uint32_t frame;
};

// A synthetic file with audio and two null frames, idx1 last.
AviLayout NullsFile(std::string afterRiff = "") {
  AviBuildOptions o;
  o.frames = Frames(12, 64);
  o.frames[3].size = o.frames[8].size = 0;
  o.audio = true;
  o.audioSizes.assign(12, 32);
  o.afterRiff = std::move(afterRiff);
  return BuildAvi(o);
}

AviLayout Bytes(std::string bytes) {
  AviLayout L;
  L.bytes = std::move(bytes);
  return L;
}

}  // namespace

TEST(IndexEdit, EditsOfFilesMadeByFfmpegMatchFfprobeAndTheFrameDigests) {
  ScratchDir dir;
  RecordingHost host;
  // Audio first: the video is stream 1 ("01dc").
  const std::string src = "-f lavfi -i sine=sample_rate=22050 -f lavfi -i testsrc=rate=25:size=";
  const struct {
    const char* name;
    std::string args;
    int pixels;
  } made[] = {
      {"raw.avi", src + "32x24 -c:v rawvideo -pix_fmt bgr24", 32 * 24},
      {"dv.avi", src + "720x576 -c:v dvvideo -pix_fmt yuv420p", 720 * 576},
      {"mjpeg.avi", src + "64x48 -c:v mjpeg", 64 * 48},
      {"huffyuv.avi", src + "64x48 -c:v huffyuv -pix_fmt yuv422p", 64 * 48},
  };
  // Frame 0 goes too (nulled, then removed with the other nulls): the index
  // then no longer starts with the first chunk of movi.
  const Edit edits[] = {{IndexEditKind::kMakeNull, 3},    {IndexEditKind::kDeleteFrame, 5},
                        {IndexEditKind::kInsertNull, 1},  {IndexEditKind::kMakeNull, 0},
                        {IndexEditKind::kRemoveNulls, 0}, {IndexEditKind::kDeleteFrame, 6}};
  for (const auto& m : made) {
    SCOPED_TRACE(m.name);
    std::string p = dir.File(m.name);
    ASSERT_EQ(RunCommand("ffmpeg -v error -y " + m.args + " -t 0.4 -c:a pcm_s16le '" + p + "'"), 0);
    std::string black;
    ASSERT_EQ(RunCommand("head -c " + std::to_string(3 * m.pixels) + " /dev/zero | md5sum", &black), 0);
    black = black.substr(0, 32);
    std::vector<std::string> model = Digests(p);
    ASSERT_EQ(model.size(), 10u);
    for (const Edit& e : edits) {
      SCOPED_TRACE(static_cast<int>(e.kind) * 100 + e.frame);
      size_t blacks = std::count(model.begin(), model.end(), black);
      if (e.kind == IndexEditKind::kMakeNull) model[e.frame] = black;
      if (e.kind == IndexEditKind::kDeleteFrame) model.erase(model.begin() + e.frame);
      if (e.kind == IndexEditKind::kInsertNull) model.insert(model.begin() + e.frame, black);
      if (e.kind == IndexEditKind::kRemoveNulls) std::erase(model, black);
      int changed = -1;
      ASSERT_EQ(EditIndex(p, e.kind, e.frame, &changed), IndexEditResult::kDone) << BoxTexts(host);
      EXPECT_EQ(changed, e.kind == IndexEditKind::kRemoveNulls ? static_cast<int>(blacks) : 1);
      std::vector<FrameIndexEntry> index = FrameIndex(p, host);
      long nonNull = std::count_if(index.begin(), index.end(), [](auto x) { return !IndexIsNull(x); });
      EXPECT_EQ(Probe(p), std::make_pair(static_cast<long>(index.size()), nonNull));
      EXPECT_EQ(Digests(p), model);
    }
  }
}

TEST(IndexEdit, RefusalsAndEditsWithNothingToDoLeaveTheFileAlone) {
  ScratchDir dir;
  RecordingHost host;
  AviBuildOptions plain;
  plain.frames = Frames(5);
  AviBuildOptions odml = plain;
  odml.openDml = true;
  odml.framesPerPart = 3;
  const struct {
    const char* name;
    AviLayout layout;
    Edit edit;
    IndexEditResult result;
    std::string box;
  } cases[] = {
      {"nonulls.avi", BuildAvi(plain), {IndexEditKind::kRemoveNulls, 0}, IndexEditResult::kDone, ""},
      {"past.avi",
       BuildAvi(plain),
       {IndexEditKind::kInsertNull, 5},
       IndexEditResult::kRefused,
       "のidx1にはフレーム5がありません(ビデオのエントリは5個です)!"},
      {"after.avi",
       NullsFile(Chunk("JUNK", "xx") + Chunk("LIST", "data")),
       {IndexEditKind::kRemoveNulls, 0},
       IndexEditResult::kRefused,
       "にはidx1チャンクの後にデータがあるため、インデックスを編集できません!"},
      {"odml.avi",
       BuildAvi(odml),
       {IndexEditKind::kDeleteFrame, 0},
       IndexEditResult::kRefused,
       "はOpenDML(AVI2)形式のため、インデックスを編集できません!"},
      {"wave.avi",
       Bytes(std::string("RIFF\4\0\0\0WAVE", 12)),
       {IndexEditKind::kDeleteFrame, 0},
       IndexEditResult::kUnreadable,
       "にAVIチャンクがありません!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string p = WriteAvi(dir, c.name, c.layout);
    struct stat before, after;
    ASSERT_EQ(stat(p.c_str(), &before), 0);
    host.boxes.clear();
    int changed = -1;
    EXPECT_EQ(EditIndex(p, c.edit.kind, c.edit.frame, &changed), c.result);
    EXPECT_EQ(changed, 0);
    EXPECT_EQ(ReadFileBytes(p), c.layout.bytes);
    ASSERT_EQ(stat(p.c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    if (c.box.empty()) {
      EXPECT_TRUE(host.boxes.empty()) << BoxTexts(host);
    } else {
      ASSERT_EQ(host.boxes.size(), 1u) << BoxTexts(host);
      EXPECT_EQ(host.boxes[0].text, p + c.box);
      EXPECT_EQ(host.boxes[0].style, static_cast<unsigned>(MB_OK | MB_ICONSTOP));
    }
  }
}

// Each edit from a file whose idx1 is last (the new one goes behind it) and
// from one edited before (JUNK before idx1 takes the new one; JUNK behind it).
TEST(IndexEdit, AnEditStoppedAtAnyStepLeavesExactlyTheOldOrTheNewIndex) {
  ScratchDir dir;
  RecordingHost host;
  const std::string fresh = NullsFile().bytes;
  // Room for any of the new indexes in two JUNK chunks before idx1.
  AviLayout J = NullsFile();
  J.bytes.insert(J.idx1Data - 8, Chunk("JUNK", std::string(300, 'a')) + Chunk("JUNK", std::string(200, 'b')));
  SetLe32(J.bytes, 4, static_cast<uint32_t>(J.bytes.size() - 8));
  std::string p = WriteAvi(dir, "e.avi", NullsFile(Chunk("junk", std::string(30, 'j'))));
  int changed;
  ASSERT_TRUE(EditIndexInPlace(p, IndexEditKind::kMakeNull, 2, &changed));
  const std::string edited = ReadFileBytes(p);
  const Edit edits[] = {{IndexEditKind::kDeleteFrame, 4},
                        {IndexEditKind::kMakeNull, 0},
                        {IndexEditKind::kInsertNull, 11},
                        {IndexEditKind::kRemoveNulls, 0}};
  for (const std::string& start : {fresh, J.bytes, edited}) {
    for (const Edit& e : edits) {
      WriteFileBytes(p, start);
      const std::vector<FrameIndexEntry> old = FrameIndex(p, host);
      ASSERT_TRUE(EditIndexInPlace(p, e.kind, e.frame, &changed));
      const std::vector<FrameIndexEntry> edit = FrameIndex(p, host);
      ASSERT_NE(old, edit);
      bool done = false;
      for (int step = 0; !done && step < 30; ++step) {
        SCOPED_TRACE(std::to_string(static_cast<int>(e.kind)) + " start " + std::to_string(start.size()) +
                     " step " + std::to_string(step));
        WriteFileBytes(p, start);
        host.boxes.clear();
        bool refused = true;
        done = EditIndexInPlace(p, e.kind, e.frame, &changed, &refused, step);
        if (!done) {
          EXPECT_FALSE(refused);
          ASSERT_EQ(host.boxes.size(), 1u);
          EXPECT_TRUE(host.boxes[0].text.ends_with("\r念のため開いているAVIを別のファイルに保存して下さい."));
        }
        OpenAviFile a;
        host.boxes.clear();
        ASSERT_TRUE(OpenRecord(&a, p, 1, false)) << BoxTexts(host);
        for (auto& b : host.boxes) EXPECT_NE(b.style & MB_ICONMASK, MB_ICONSTOP) << b.text;
        EXPECT_TRUE(a.sets[0].pFrameIndex == old || a.sets[0].pFrameIndex == edit);
        if (done) {
          EXPECT_EQ(a.sets[0].pFrameIndex, edit);
        }
        CloseOpenAvi(&a, 0);
        // What a stop leaves is no reason to refuse the next edit.
        EXPECT_TRUE(EditIndexInPlace(p, IndexEditKind::kMakeNull, 1, &changed)) << BoxTexts(host);
      }
      EXPECT_TRUE(done);
    }
  }
}

TEST(IndexEdit, RepeatedEditsDoNotGrowTheFile) {
  ScratchDir dir;
  RecordingHost host;
  AviLayout L = NullsFile();
  std::string p = WriteAvi(dir, "r.avi", L);
  const uint64_t idx1 = L.bytes.size() - L.idx1Data;
  int changed;
  const IndexEditKind cycle[] = {IndexEditKind::kInsertNull, IndexEditKind::kMakeNull,
                                 IndexEditKind::kDeleteFrame, IndexEditKind::kInsertNull,
                                 IndexEditKind::kRemoveNulls};
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(EditIndexInPlace(p, cycle[i % 5], 5, &changed)) << i << BoxTexts(host);
    EXPECT_LE(ReadFileBytes(p).size(), L.bytes.size() + 2 * (idx1 + 32)) << i;
  }
  EXPECT_EQ(FrameIndex(p, host).size(), 10u);
}

// The program itself, as a script would run it.
TEST(IndexEdit, HeadlessForms) {
  ScratchDir dir;
  RecordingHost host;
  const std::string mirdex = std::string(MX_MIRDEX) + " ";
  std::string a = WriteAvi(dir, "a.avi", NullsFile()), b = WriteAvi(dir, "b.avi", NullsFile());
  auto run = [&](const std::string& args, std::string* out = nullptr) {
    return RunCommand(mirdex + args + " 2>/dev/null", out);
  };
  EXPECT_EQ(run("--delete-frame 0 " + a), 0);
  EXPECT_EQ(run("--null-frame 10 " + a), 0);
  EXPECT_EQ(run("--insert-null 10 " + a), 0);
  EXPECT_EQ(run("--insert-null 12 " + a), 1);
  std::string out;
  EXPECT_EQ(run("--remove-null-frames " + a + " " + b, &out), 0);
  EXPECT_EQ(out, a + ": 4 null frames removed\n" + b + ": 2 null frames removed\n");
  EXPECT_EQ(FrameIndex(a, host).size(), 8u);
  EXPECT_EQ(run("--delete-frame x " + a), 2);
  EXPECT_EQ(run("--null-frame 0 " + dir.File("missing.avi")), 2);

  // The rebuild writes the index back without asking: idx1 listed 6 of 10 frames.
  AviBuildOptions o;
  o.frames = Frames(10);
  AviLayout S = BuildAvi(o);
  SetLe32(S.bytes, S.idx1Data - 4, 6 * 16);
  S.bytes.erase(S.idx1Data + 6 * 16, 4 * 16);
  SetLe32(S.bytes, 4, Le32(S.bytes, 4) - 4 * 16);
  std::string s = WriteAvi(dir, "s.avi", S);
  EXPECT_EQ(run("--rebuild-index " + s, &out), 0);
  EXPECT_EQ(out, s + ": index rebuilt, 10 frames\n");
  EXPECT_EQ(FrameIndex(s, host).size(), 10u);
  o.openDml = true;
  s = WriteAvi(dir, "o.avi", BuildAvi(o));
  EXPECT_EQ(run("--rebuild-index " + s), 1);
  EXPECT_EQ(run("--remove-null-frames " + s), 1);
}
