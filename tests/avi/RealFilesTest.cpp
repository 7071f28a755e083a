// Files nobody here wrote: the shared samples and files the ffmpeg tool makes
// at test time. The expected facts come from the files themselves (a plain
// walk of their chunk tree and their idx1) and from ffprobe.
#include <sys/statvfs.h>

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>

#include "AviTestUtil.h"
#include "platform/Paths.h"

namespace {

struct FileChunk {
  uint32_t id;
  uint64_t header;
  uint32_t size;
  bool inMovi;
  bool cut;  // runs past the end of the file
};

// Walks every RIFF and LIST of the file and lists the data chunks.
void Walk(const std::string& b, uint64_t pos, uint64_t end, bool inMovi, std::vector<FileChunk>& out) {
  while (pos + 8 <= end && pos + 8 <= b.size()) {
    uint32_t id = Le32(b, pos), size = Le32(b, pos + 4);
    bool list = b.compare(pos, 4, "RIFF") == 0 || b.compare(pos, 4, "LIST") == 0;
    if (list && size >= 4 && pos + 12 <= b.size()) {
      bool movi = inMovi || b.compare(pos + 8, 4, "movi") == 0;
      Walk(b, pos + 12, std::min<uint64_t>(pos + 8 + size, end), movi, out);
    } else {
      out.push_back({id, pos, size, inMovi, pos + 8 + size > b.size()});
    }
    pos += 8 + static_cast<uint64_t>(size) + (size & 1);
  }
}

char C(uint32_t id, int i) {
  return static_cast<char>(id >> (8 * i));
}
bool Video(uint32_t id, char s) {
  return C(id, 0) == '0' && C(id, 1) == s && C(id, 2) == 'd' && (C(id, 3) == 'c' || C(id, 3) == 'b');
}
bool Audio(uint32_t id, char s) {
  return s && C(id, 0) == '0' && C(id, 1) == s && C(id, 2) == 'w' && C(id, 3) == 'b';
}

// ffprobe's count of video packets read and the audio stream's sample count.
struct Probe {
  long videoPackets = -1;
  long audioFrames = -1;
};
Probe RunProbe(const std::string& path) {
  Probe p;
  std::string out;
  if (RunCommand("ffprobe -v error -count_packets -show_entries stream=codec_type,nb_read_packets,nb_frames "
                 "-of json '" +
                     path + "'",
                 &out) != 0)
    return p;
  auto j = nlohmann::json::parse(out, nullptr, false);
  if (j.is_discarded()) return p;
  for (auto& s : j["streams"]) {
    auto num = [&](const char* k) {
      return s.contains(k) && s[k].is_string() ? std::atol(s[k].get<std::string>().c_str()) : -1;
    };
    if (s["codec_type"] == "video" && p.videoPackets < 0) p.videoPackets = num("nb_read_packets");
    if (s["codec_type"] == "audio" && p.audioFrames < 0) p.audioFrames = num("nb_frames");
  }
  return p;
}

// Checks an opened record against the file's own chunks and index.
void CheckAgainstFile(const OpenAviFile& a, const std::string& path, bool probe) {
  SCOPED_TRACE(path);
  std::string b = ReadFileBytes(path);
  std::vector<FileChunk> chunks;
  Walk(b, 0, b.size(), false, chunks);
  std::map<uint64_t, FileChunk> byData;
  for (auto& c : chunks) byData[c.header + 8] = c;
  const AviStreamSet& s = a.sets[0];
  WaveFormatEx wf = a.AudioFormat();

  // Every entry names a chunk of its stream with the same size.
  for (uint32_t i = 0; i < s.FrameMax; ++i) {
    auto it = byData.find(IndexOffset(s.pFrameIndex[i]));
    ASSERT_NE(it, byData.end()) << "frame " << i;
    EXPECT_TRUE(Video(it->second.id, a.cVideoStream)) << "frame " << i;
    EXPECT_EQ(it->second.size, IndexSize(s.pFrameIndex[i])) << "frame " << i;
    EXPECT_FALSE(it->second.cut);
  }
  uint64_t audioBytes = 0;
  for (uint32_t i = 0; i < s.WaveIndexEntries; ++i) {
    auto it = byData.find(IndexOffset(s.pWaveIndex[i]));
    ASSERT_NE(it, byData.end()) << "audio " << i;
    EXPECT_TRUE(Audio(it->second.id, a.cAudioStream));
    EXPECT_EQ(it->second.size, IndexSize(s.pWaveIndex[i]));
    audioBytes += IndexSize(s.pWaveIndex[i]);
  }
  if (a.nAudioKind == 0) {
    EXPECT_EQ(s.dwWaveSampleCounts, audioBytes / wf.nBlockAlign);
  } else if (a.nAudioKind == -1) {
    EXPECT_EQ(s.dwWaveSampleCounts, audioBytes);
  }

  std::vector<FileChunk> videoChunks, audioChunks;
  for (auto& c : chunks) {
    if (c.inMovi && !c.cut && Video(c.id, a.cVideoStream)) videoChunks.push_back(c);
    if (c.inMovi && !c.cut && Audio(c.id, a.cAudioStream)) audioChunks.push_back(c);
  }
  if (a.nIndexKind == kIndexIdx1 || a.nIndexKind == kIndexDataAfterIdx1) {
    // The idx1 itself: count, order, flags.
    std::vector<std::pair<uint32_t, uint32_t>> entries;  // flags, size of video entries
    for (auto& c : chunks)
      if (c.id == FourCC("idx1") && !c.inMovi)
        for (uint64_t e = c.header + 8; e + 16 <= c.header + 8 + c.size && e + 16 <= b.size(); e += 16)
          if (Video(Le32(b, e), a.cVideoStream)) entries.push_back({Le32(b, e + 4), Le32(b, e + 12)});
    ASSERT_EQ(s.FrameMax, entries.size());
    for (uint32_t i = 0; i < s.FrameMax; ++i) {
      EXPECT_EQ(IndexSize(s.pFrameIndex[i]), entries[i].second) << i;
      bool key = (entries[i].first & 0x10) || entries[i].second == 0;
      EXPECT_EQ(IndexIsKey(s.pFrameIndex[i]), key) << i;
    }
  } else {
    // OpenDML or scanned: every whole chunk of the stream, in file order.
    ASSERT_EQ(s.FrameMax, videoChunks.size());
    for (uint32_t i = 0; i < s.FrameMax; ++i)
      EXPECT_EQ(IndexOffset(s.pFrameIndex[i]), videoChunks[i].header + 8);
    ASSERT_EQ(s.WaveIndexEntries, audioChunks.size());
  }
  if (probe &&
      (a.nIndexKind == kIndexIdx1 || a.nIndexKind == kIndexDataAfterIdx1 || a.nIndexKind == kIndexOpenDml)) {
    // ffprobe skips null frames.
    Probe p = RunProbe(path);
    long nonNull = 0;
    for (uint32_t i = 0; i < s.FrameMax; ++i) nonNull += !IndexIsNull(s.pFrameIndex[i]);
    EXPECT_EQ(nonNull, p.videoPackets);
    if (a.nAudioKind == 0 && s.strhAudio.dwLength == s.dwWaveSampleCounts) {
      EXPECT_EQ(p.audioFrames, s.dwWaveSampleCounts);
    }
  }
}

}  // namespace

TEST(RealFiles, EverySharedSampleOpensOrIsRefusedWithAMessage) {
  ScratchDir dir;
  RecordingHost host;
  std::string folder = SamplePath("");
  std::string list;
  ASSERT_EQ(RunCommand("ls '" + folder + "' | grep -i '\\.avi$'", &list), 0);
  int opened = 0;
  size_t start = 0;
  while (start < list.size()) {
    size_t nl = list.find('\n', start);
    std::string name = list.substr(start, nl - start);
    start = nl == std::string::npos ? list.size() : nl + 1;
    if (name.empty()) continue;
    std::string path = SamplePath(name);
    host.boxes.clear();
    host.answers = {IDYES, IDYES, IDYES};
    OpenAviFile a;
    if (OpenRecord(&a, path, 1)) {
      ++opened;
      CheckAgainstFile(a, path, true);
    } else {
      EXPECT_FALSE(a.IsOpen()) << name;
      // Refused with a message that names the file.
      ASSERT_FALSE(host.boxes.empty()) << name;
      EXPECT_EQ(host.boxes.back().text.rfind(path, 0), 0u) << name << ": " << host.boxes.back().text;
    }
  }
  EXPECT_GE(opened, 15);
}

TEST(RealFiles, SampleFactsFromTheirDescriptions) {
  ScratchDir dir;
  RecordingHost host;
  OpenAviFile a;
  // 'rec ' lists: 30 frames, each inside its own list.
  ASSERT_TRUE(OpenRecord(&a, SamplePath("msvideo1_16bit_rec_lists_junk_clock.avi"), 3));
  EXPECT_EQ(a.sets[0].FrameMax, 30u);
  // Six null chunks listed in idx1 with size 0, an audio track without chunks.
  ASSERT_TRUE(OpenRecord(&a, SamplePath("mjpeg_2fields_ac3_nullchunks_field_order.avi"), 3));
  int nulls = 0;
  for (auto e : a.sets[0].pFrameIndex) nulls += IndexIsNull(e);
  EXPECT_EQ(nulls, 6);
  EXPECT_EQ(a.nAudioKind, -1);
  EXPECT_EQ(a.fAllKeyFrames, 1);
  // Bytes after the RIFF: index kind 3.
  ASSERT_TRUE(OpenRecord(&a, SamplePath("tscc_mulaw_trailing_garbage_oneminute.avi"), 3));
  EXPECT_EQ(a.nIndexKind, kIndexDataAfterIdx1);
  // OpenDML without idx1.
  ASSERT_TRUE(OpenRecord(&a, SamplePath("vmnc_opendml_indx_ix00_no_idx1_test.avi"), 3));
  EXPECT_EQ(a.nIndexKind, kIndexOpenDml);
  EXPECT_EQ(a.sets[0].FrameMax, 192u);
}

namespace {

struct Made {
  const char* name;
  std::string args;
  uint32_t handler;
  int audioKind;
};

bool EnoughSpace(const std::string& dir, uint64_t bytes) {
  struct statvfs v;
  return statvfs(dir.c_str(), &v) == 0 && static_cast<uint64_t>(v.f_bavail) * v.f_frsize > bytes * 2;
}

}  // namespace

TEST(RealFiles, FilesMadeByFfmpeg) {
  ScratchDir dir;
  RecordingHost host;
  const std::string src =
      "-f lavfi -i testsrc=size=64x48:rate=25 -f lavfi -i sine=frequency=440:sample_rate=22050 -t 1.2 ";
  const Made made[] = {
      {"dv.avi",
       "-f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=sample_rate=48000 -t 0.4 -c:v dvvideo "
       "-pix_fmt yuv420p -c:a pcm_s16le",
       FourCC("dvsd"), 0},
      {"mjpeg.avi", src + "-c:v mjpeg -c:a pcm_s16le", FourCC("MJPG"), 0},
      {"huffyuv.avi", src + "-c:v huffyuv -pix_fmt yuv422p -c:a pcm_u8", FourCC("HFYU"), 0},
      {"mpeg4_mp2.avi", src + "-c:v mpeg4 -g 6 -bf 2 -c:a mp2", FourCC("FMP4"), -1},
      {"mpeg4_adpcm.avi", src + "-c:v mpeg4 -g 4 -c:a adpcm_ms", FourCC("FMP4"), -1},
  };
  for (const Made& m : made) {
    SCOPED_TRACE(m.name);
    std::string path = dir.File(m.name);
    ASSERT_EQ(RunCommand("ffmpeg -v error -y " + m.args + " '" + path + "'"), 0);
    OpenAviFile a;
    host.boxes.clear();
    ASSERT_TRUE(OpenRecord(&a, path, 1)) << BoxTexts(host);
    EXPECT_TRUE(host.boxes.empty()) << BoxTexts(host);
    EXPECT_EQ(a.fccVideoHandler, m.handler) << FourCCText(a.fccVideoHandler);
    EXPECT_EQ(a.nAudioKind, m.audioKind);
    EXPECT_NE(a.hicDecompress, nullptr);
    CheckAgainstFile(a, path, true);
    {
      // Without decoders in the program (the report) the codec is named the same.
      OpenAviFile named;
      ASSERT_TRUE(OpenRecord(&named, path, 1, false));
      EXPECT_STREQ(named.szCodecName, a.szCodecName);
      EXPECT_EQ(named.hicDecompress, nullptr);
      EXPECT_FALSE(named.fCodecFailed);
    }
    // With the index removed, the scan finds the same chunks.
    std::string bytes = ReadFileBytes(path);
    size_t idx1 = bytes.rfind("idx1");
    if (idx1 != std::string::npos && a.nIndexKind != kIndexOpenDml) {
      bytes.replace(idx1, 4, "JUNK");
      std::string scanned = dir.File("scan.avi");
      WriteFileBytes(scanned, bytes);
      OpenAviFile b;
      host.answers = {IDYES};
      ASSERT_TRUE(OpenRecord(&b, scanned, 1));
      EXPECT_EQ(b.nIndexKind, kIndexScanned);
      ASSERT_EQ(b.sets[0].FrameMax, a.sets[0].FrameMax);
      for (uint32_t i = 0; i < a.sets[0].FrameMax; ++i)
        EXPECT_EQ(IndexOffset(b.sets[0].pFrameIndex[i]), IndexOffset(a.sets[0].pFrameIndex[i]));
      EXPECT_EQ(b.sets[0].pWaveIndex, a.sets[0].pWaveIndex);
      EXPECT_EQ(b.sets[0].dwWaveSampleCounts, a.sets[0].dwWaveSampleCounts);
    }
  }
}

// ffmpeg starts a new RIFF part after 1 GiB, so this file is big; it is made
// in the temporary folder and removed at once.
TEST(RealFiles, OpenDmlFileWithSeveralRiffPartsMadeByFfmpeg) {
  ScratchDir dir;
  RecordingHost host;
  if (!EnoughSpace(dir.path(), uint64_t{1200} << 20)) GTEST_SKIP() << "not enough disk space";
  std::string path = dir.File("odml.avi");
  ASSERT_EQ(
      RunCommand(
          "ffmpeg -v error -y -f lavfi -i color=c=blue:size=1920x1088:rate=25 -f lavfi -i "
          "sine=sample_rate=8000 -frames:v 180 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le -shortest '" +
          path + "'"),
      0);
  OpenAviFile a;
  ASSERT_TRUE(OpenRecord(&a, path, 1)) << BoxTexts(host);
  EXPECT_EQ(a.nIndexKind, kIndexOpenDml);
  EXPECT_EQ(a.sets[0].FrameMax, 180u);
  // The parts themselves.
  RiffFile f;
  ASSERT_TRUE(f.Open(path, RiffFile::ModeRead));
  int parts = 0;
  ChunkInfo ck;
  while (f.Descend(&ck, nullptr, 0)) {
    parts += ck.ckid == FourCC("RIFF");
    f.Ascend(&ck);
  }
  EXPECT_GE(parts, 2);
  // Frames of the later parts lie beyond the first RIFF: read one back.
  FrameIndexEntry last = a.sets[0].pFrameIndex.back();
  EXPECT_GT(IndexOffset(last), uint64_t{1} << 30);
  std::vector<uint8_t> pixel(3);
  ASSERT_EQ(MyAviSeek(&a, nullptr, IndexOffset(last), 0, false), static_cast<int64_t>(IndexOffset(last)));
  ASSERT_EQ(MyAviRead(&a, nullptr, pixel.data(), 3, false), 3);
  EXPECT_GT(pixel[0], 200);  // blue, stored BGR
  // The audio length ffmpeg wrote into the stream header.
  EXPECT_EQ(a.sets[0].dwWaveSampleCounts, a.sets[0].strhAudio.dwLength);
  EXPECT_GT(a.sets[0].dwWaveSampleCounts, 50000u);
  Probe p = RunProbe(path);
  EXPECT_EQ(p.videoPackets, 180);
  CloseOpenAvi(&a, 0);
  std::remove(path.c_str());
}
