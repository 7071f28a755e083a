#include "avi/Report.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>

#include "avi/AviReader.h"
#include "avi/OpenAvi.h"
#include "platform/AppState.h"
#include "platform/Format.h"
#include "platform/Host.h"

namespace {

// Takes every box as a problem of the file being read; questions get "no".
class ReportHost : public Host {
 public:
  int MessageBox(const std::string& text, const std::string&, unsigned style) override {
    boxes.push_back(text);
    unsigned type = style & MB_TYPEMASK;
    return type == MB_YESNO || type == MB_YESNOCANCEL ? IDNO : type == MB_OKCANCEL ? IDCANCEL : IDOK;
  }
  void SetStatusText(int, const std::string&) override {}
  void SetTitle(const std::string&) override {}
  void Pump() override {}
  std::vector<std::string> boxes;
};

const char* IndexKindText(int kind) {
  switch (kind) {
    case kIndexIdx1:
      return "idx1";
    case kIndexScanned:
      return "no idx1, indexed by scanning movi";
    case kIndexRebuilt:
      return "rebuilt, not written back";
    case kIndexDataAfterIdx1:
      return "idx1, data follows it";
    case kIndexOpenDml:
      return "OpenDML indexes";
    default:
      return "unknown";
  }
}

std::string OneLine(std::string s) {
  std::replace(s.begin(), s.end(), '\n', ' ');
  std::replace(s.begin(), s.end(), '\r', ' ');
  return s;
}

// Counts the top-level RIFF chunks ("AVI " and "AVIX" parts).
int CountRiffParts(const char* path) {
  RiffFile f;
  if (!f.Open(path, RiffFile::ModeRead, 4096)) return 0;
  uint64_t size = f.Size(), pos = 0;
  int parts = 0;
  while (pos + 12 <= size) {
    uint8_t h[12];
    if (f.Seek(static_cast<int64_t>(pos)) < 0 || !f.ReadExact(h, 12)) break;
    if (GetLE32(h) != FourCC("RIFF")) break;
    uint32_t type = GetLE32(h + 8);
    if (type == FourCC("AVI ") || type == FourCC("AVIX")) ++parts;
    uint32_t sz = GetLE32(h + 4);
    pos += 8 + static_cast<uint64_t>(sz) + (sz & 1);
  }
  return parts;
}

nlohmann::json ReportFile(const std::string& path, const ReportPrepare& prepare, int* worst) {
  nlohmann::json j;
  j["path"] = path;
  ReportHost host;
  Host* previous = &CurrentHost();
  SetHost(&host);
  OpenAviTable table;
  table.openOptions.scanMissingIndexSilently = true;
  bool ok = table.OpenOne(path, 1) && (!prepare || prepare(table));
  SetHost(previous);
  std::vector<std::string> problems;
  for (auto& b : host.boxes) problems.push_back(OneLine(b));
  if (!ok) {
    j["readable"] = false;
    j["problems"] = problems;
    *worst = 2;
    return j;
  }
  j["readable"] = true;
  OpenAviFile& avi = table.pOpenAviList[0];
  const AviReadNotes& notes = avi.readNotes;
  // The headers are checked as the file has them; the counts are those of
  // the frames shown (what an edit keeps when a mark file cuts ranges out).
  const AviStreamSet& file = avi.sets[0];
  const AviStreamSet& set = avi.Set();
  int parts = CountRiffParts(avi.szFileName.c_str());
  bool odml = avi.nIndexKind == kIndexOpenDml || notes.openDmlTried || parts > 1;
  j["container"] = odml ? "OpenDML" : "AVI";
  j["riff_parts"] = parts;
  j["index_kind"] = avi.nIndexKind;
  j["index"] = IndexKindText(avi.nIndexKind);
  if (avi.nIndexKind == kIndexScanned) problems.push_back("no idx1: the index was built by scanning movi");
  if (avi.nIndexKind == kIndexDataAfterIdx1) problems.push_back("data follows idx1");
  if (!notes.openDmlAudioFallback.empty())
    problems.push_back("the audio's OpenDML index was not used: " + OneLine(notes.openDmlAudioFallback));
  if (notes.idx1Clamped) problems.push_back("idx1 runs past the end of the file");
  if (notes.scanStoppedAtCutChunk)
    problems.push_back(Fmt("chunk at %llu is cut by the end of the file",
                           static_cast<unsigned long long>(notes.cutChunkPos)));
  BitmapInfoHeader bi = avi.VideoFormat();
  j["video_handler"] = FourCCText(avi.fccVideoHandler);
  j["video_description"] = avi.szCodecName;
  if (avi.fCodecFailed)
    problems.push_back("no decoder for the video handler " + FourCCText(avi.fccVideoHandler));
  j["width"] = bi.biWidth;
  j["height"] = bi.biHeight;
  j["bit_count"] = bi.biBitCount;
  j["rate"] = set.strhVideo.dwRate;
  j["scale"] = set.strhVideo.dwScale;
  double fps = set.strhVideo.dwScale ? static_cast<double>(set.strhVideo.dwRate) / set.strhVideo.dwScale : 0;
  if (!(fps > 0)) problems.push_back("video frame rate is zero");
  j["frames"] = set.FrameMax;
  if (&set != &file) j["deleted_frames"] = file.FrameMax - set.FrameMax;
  j["header_frames"] = file.avih.dwTotalFrames;
  j["stream_frames"] = file.strhVideo.dwLength;
  if (file.FrameMax != file.avih.dwTotalFrames && avi.nIndexKind != kIndexOpenDml)
    problems.push_back(Fmt("%u frames in the index, %u in avih", file.FrameMax, file.avih.dwTotalFrames));
  if (file.FrameMax != file.strhVideo.dwLength)
    problems.push_back(
        Fmt("%u frames in the index, %u in the video strh", file.FrameMax, file.strhVideo.dwLength));
  uint32_t keys = 0, deltas = 0;
  std::vector<uint32_t> nulls;
  uint32_t largest = 0;
  std::string largestWhat = "none";
  for (uint32_t i = 0; i < set.FrameMax; ++i) {
    FrameIndexEntry e = set.pFrameIndex[i];
    if (IndexIsNull(e)) {
      nulls.push_back(i);
      continue;
    }
    if (IndexIsKey(e))
      ++keys;
    else
      ++deltas;
    if (IndexSize(e) > largest) {
      largest = IndexSize(e);
      largestWhat = Fmt("video frame %u at %llu", i, static_cast<unsigned long long>(IndexOffset(e)));
    }
  }
  for (uint32_t i = 0; i < set.WaveIndexEntries; ++i) {
    FrameIndexEntry e = set.pWaveIndex[i];
    if (IndexSize(e) > largest) {
      largest = IndexSize(e);
      largestWhat = Fmt("audio chunk %u at %llu", i, static_cast<unsigned long long>(IndexOffset(e)));
    }
  }
  j["key_frames"] = keys;
  j["delta_frames"] = deltas;
  j["null_frames"] = nulls;
  j["largest_chunk"] = largest;
  j["largest_chunk_at"] = largestWhat;
  double videoSeconds = fps > 0 ? set.FrameMax / fps : 0;
  j["video_seconds"] = videoSeconds;
  if (avi.nAudioKind == 1) {
    j["audio_format_tag"] = nullptr;
    j["audio_samples"] = nullptr;
  } else {
    WaveFormatEx wf = avi.AudioFormat();
    // Compressed audio is cut only once decoded, which the report never does:
    // it is described as the file has it.
    const AviStreamSet& a = avi.nAudioKind == 0 ? set : file;
    j["audio_format_tag"] = wf.wFormatTag;
    j["audio_channels"] = wf.nChannels;
    j["audio_rate"] = wf.nSamplesPerSec;
    j["audio_chunks"] = a.WaveIndexEntries;
    double seconds = 0;
    if (avi.nAudioKind == 0) {
      j["audio_samples"] = a.dwWaveSampleCounts;
      seconds = wf.nSamplesPerSec ? static_cast<double>(a.dwWaveSampleCounts) / wf.nSamplesPerSec : 0;
    } else {
      j["audio_samples"] = nullptr;
      j["audio_bytes"] = a.dwWaveSampleCounts;
      // Variable-rate streams (sample size 0) hold dwScale samples per chunk.
      const AVIStreamHeader& sh = a.strhAudio;
      if (sh.dwSampleSize == 0 && sh.dwRate && sh.dwScale)
        seconds = static_cast<double>(a.WaveIndexEntries) * sh.dwScale / sh.dwRate;
      else if (wf.nAvgBytesPerSec)
        seconds = static_cast<double>(a.dwWaveSampleCounts) / wf.nAvgBytesPerSec;
      else if (sh.dwRate && sh.dwSampleSize)
        seconds = static_cast<double>(a.dwWaveSampleCounts) / sh.dwSampleSize * sh.dwScale / sh.dwRate;
    }
    j["audio_seconds"] = seconds;
    if (a.WaveIndexEntries == 0)
      problems.push_back("the audio stream has no chunks");
    else if (&a == &set && fps > 0 && std::fabs(seconds - videoSeconds) > std::max(1.0, 2.0 / fps))
      problems.push_back(Fmt("audio lasts %.3f s, video %.3f s", seconds, videoSeconds));
  }
  j["problems"] = problems;
  if (!problems.empty()) *worst = std::max(*worst, 1);
  return j;
}

void PrintText(std::FILE* out, const nlohmann::json& j) {
  std::fprintf(out, "%s\n", j["path"].get<std::string>().c_str());
  if (!j["readable"].get<bool>()) {
    std::fprintf(out, "  unreadable\n");
  } else {
    int parts = j["riff_parts"].get<int>();
    if (j["container"] == "OpenDML")
      std::fprintf(out, "  container: OpenDML, %d RIFF part%s\n", parts, parts == 1 ? "" : "s");
    else
      std::fprintf(out, "  container: AVI 1.0\n");
    std::fprintf(out, "  index: %s (kind %d)\n", j["index"].get<std::string>().c_str(),
                 j["index_kind"].get<int>());
    std::fprintf(out, "  video: %s \"%s\" %dx%d, %u/%u fps (%.3f)\n",
                 j["video_handler"].get<std::string>().c_str(),
                 j["video_description"].get<std::string>().c_str(), j["width"].get<int>(),
                 j["height"].get<int>(), j["rate"].get<unsigned>(), j["scale"].get<unsigned>(),
                 j["scale"].get<unsigned>() ? j["rate"].get<double>() / j["scale"].get<double>() : 0.0);
    if (j.contains("deleted_frames"))
      std::fprintf(
          out, "  frames: %u kept (%u cut out by the mark file), %u in avih, %u in the video strh (%.3f s)\n",
          j["frames"].get<unsigned>(), j["deleted_frames"].get<unsigned>(),
          j["header_frames"].get<unsigned>(), j["stream_frames"].get<unsigned>(),
          j["video_seconds"].get<double>());
    else
      std::fprintf(out, "  frames: %u in the index, %u in avih, %u in the video strh (%.3f s)\n",
                   j["frames"].get<unsigned>(), j["header_frames"].get<unsigned>(),
                   j["stream_frames"].get<unsigned>(), j["video_seconds"].get<double>());
    std::fprintf(out, "  key frames: %u, delta frames: %u\n", j["key_frames"].get<unsigned>(),
                 j["delta_frames"].get<unsigned>());
    const auto& nulls = j["null_frames"];
    std::fprintf(out, "  null frames: %zu", nulls.size());
    for (size_t i = 0; i < nulls.size() && i < 10; ++i)
      std::fprintf(out, "%s%u", i ? ", " : " (first: ", nulls[i].get<unsigned>());
    std::fprintf(out, "%s\n", nulls.empty() ? "" : nulls.size() > 10 ? ", ...)" : ")");
    std::fprintf(out, "  largest chunk: %u bytes (%s)\n", j["largest_chunk"].get<unsigned>(),
                 j["largest_chunk_at"].get<std::string>().c_str());
    if (j["audio_format_tag"].is_null()) {
      std::fprintf(out, "  audio: none\n");
    } else if (!j["audio_samples"].is_null()) {
      std::fprintf(out,
                   "  audio: PCM, %u ch, %u Hz, %u samples in %u chunks (%.3f s against %.3f s of video)\n",
                   j["audio_channels"].get<unsigned>(), j["audio_rate"].get<unsigned>(),
                   j["audio_samples"].get<unsigned>(), j["audio_chunks"].get<unsigned>(),
                   j["audio_seconds"].get<double>(), j["video_seconds"].get<double>());
    } else {
      std::fprintf(
          out,
          "  audio: format 0x%04X, %u ch, %u Hz, %u bytes in %u chunks (%.3f s against %.3f s of video)\n",
          j["audio_format_tag"].get<unsigned>(), j["audio_channels"].get<unsigned>(),
          j["audio_rate"].get<unsigned>(), j["audio_bytes"].get<unsigned>(),
          j["audio_chunks"].get<unsigned>(), j["audio_seconds"].get<double>(),
          j["video_seconds"].get<double>());
    }
  }
  const auto& problems = j["problems"];
  if (problems.empty())
    std::fprintf(out, "  problems: none\n");
  else {
    std::fprintf(out, "  problems:\n");
    for (const auto& p : problems) std::fprintf(out, "    - %s\n", p.get<std::string>().c_str());
  }
}

}  // namespace

int RunReport(int argc, char** argv, std::FILE* out, const ReportPrepare& prepare) {
  bool json = false;
  std::vector<std::string> files;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0)
      json = true;
    else
      files.emplace_back(argv[i]);
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: mirdex --report [--json] FILE...\n");
    return 2;
  }
  int worst = 0;
  nlohmann::json all = nlohmann::json::array();
  for (const std::string& path : files) {
    ME.fAbort = 0;
    nlohmann::json j = ReportFile(path, prepare, &worst);
    if (json)
      all.push_back(j);
    else
      PrintText(out, j);
  }
  if (json) std::fprintf(out, "%s\n", all.dump(2).c_str());
  return worst;
}
