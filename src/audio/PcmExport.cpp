#include "audio/PcmExport.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "audio/ChunkReader.h"
#include "audio/WaveFile.h"
#include "command/CommandIds.h"
#include "platform/Host.h"

namespace {

// Every box is left unshown: a failure is reported by the full export.
class QuietHost : public Host {
 public:
  int MessageBox(const std::string&, const std::string&, unsigned style) override {
    unsigned type = style & MB_TYPEMASK;
    return type == MB_YESNO || type == MB_YESNOCANCEL ? IDNO : type == MB_OKCANCEL ? IDCANCEL : IDOK;
  }
  void SetStatusText(int, const std::string&) override {}
  void SetTitle(const std::string&) override {}
  void Pump() override {}
};

// The status line of the engine's export, redrawn in place on a terminal.
class Progress {
 public:
  Progress(FILE* err, bool selection)
      : err_(err), tty_(isatty(fileno(err)) != 0), scope_(selection ? "選択範囲" : "全体") {}
  void Show(uint64_t done, uint64_t total) {
    long pct = total ? static_cast<long>(std::min(done, total) * 100 / total) : 100;
    if (!tty_ || pct == last_) return;
    last_ = pct;
    std::fprintf(err_, "\r\033[K%sWAVEファイル保存中(%3ld%%) ESC:中止", scope_, pct);
    std::fflush(err_);
  }
  void Done() {
    if (tty_) std::fprintf(err_, "\r\033[K%sWAVEファイル保存終了\n", scope_);
  }
  void Clear() {
    if (tty_ && last_ >= 0) std::fprintf(err_, "\r\033[K");
  }

 private:
  FILE* err_;
  bool tty_;
  const char* scope_;
  long last_ = -1;
};

int Export(const ExportWavRequest& request, FILE* err, const std::function<bool(OpenAviTable&)>& prepare) {
  OpenAviTable table;
  table.openOptions.scanMissingIndexSilently = true;
  if (!table.OpenChosenFiles(kCmdOpenAdd, nullptr, request.inputs) ||
      table.nOpenAvi != static_cast<int>(request.inputs.size()))
    return -1;
  if (prepare && !prepare(table)) return -1;

  // The audio file is the engine's: the first with an audio stream. Every
  // file with audio must be PCM to be copied as it is stored.
  const OpenAviFile* audio = nullptr;
  uint64_t total = 0;
  for (int i = 0; i < table.nOpenAvi; ++i) {
    const OpenAviFile& avi = table.pOpenAviList[static_cast<size_t>(i)];
    if (!avi.IsOpen() || avi.nAudioKind == 1) continue;
    if (avi.nAudioKind != 0) return -1;
    if (!audio && avi.pwfAudio.size() >= 16) audio = &avi;
  }
  if (!audio) return -1;
  const WaveFormatEx wf = audio->AudioFormat();
  const uint16_t ba = wf.nBlockAlign;
  const double rate = table.EffectiveFrameRate();
  if (!ba || !wf.nSamplesPerSec || !(rate > 0)) return -1;
  for (int i = 0; i < table.nOpenAvi; ++i) {
    const OpenAviFile& avi = table.pOpenAviList[static_cast<size_t>(i)];
    if (!avi.IsOpen() || avi.nAudioKind == 1) continue;
    const AviStreamSet& s = avi.Set();
    const uint32_t n = std::min<uint32_t>(s.WaveIndexEntries, static_cast<uint32_t>(s.pWaveIndex.size()));
    for (uint32_t k = 0; k < n; ++k) total += IndexSize(s.pWaveIndex[k]) / ba;
  }

  uint64_t first = 0, end = total;
  if (request.first >= 0) {
    if (request.last < request.first || request.last >= table.TotalFrames()) return -1;
    // As the engine rounds a frame to its first sample.
    auto sampleOf = [&](double frame) {
      double v = std::floor(frame * (wf.nSamplesPerSec / rate) + 0.5);
      return v > 0 ? static_cast<uint64_t>(v) : uint64_t{0};
    };
    end = std::min(sampleOf(static_cast<double>(request.last) + 1), total);
    first = std::min(sampleOf(static_cast<double>(request.first)), end);
  }

  WaveWriter out;
  if (!out.Create(request.out, wf)) return -1;
  Progress progress(err, request.first >= 0);
  uint64_t pos = 0;
  for (int i = 0; i < table.nOpenAvi && pos < end; ++i) {
    OpenAviFile* avi = &table.pOpenAviList[static_cast<size_t>(i)];
    if (!avi->IsOpen() || avi->nAudioKind == 1) continue;
    const AviStreamSet& s = avi->Set();
    const uint32_t count = std::min<uint32_t>(s.WaveIndexEntries, static_cast<uint32_t>(s.pWaveIndex.size()));
    ChunkReader reader(avi, s.pWaveIndex.data(), count);
    for (uint32_t k = 0; k < count && pos < end; ++k) {
      const uint64_t n = IndexSize(s.pWaveIndex[k]) / ba;
      const uint64_t from = std::max(pos, first), to = std::min(pos + n, end);
      if (from < to) {
        const auto skip = static_cast<uint32_t>((from - pos) * ba),
                   bytes = static_cast<uint32_t>((to - from) * ba);
        const uint8_t* data = reader.Read(k, skip, bytes);
        if (!data || !out.Append(data, bytes)) {
          progress.Clear();
          return -1;
        }
        progress.Show(to - first, end - first);
      }
      pos += n;
    }
  }
  if (!out.Finish()) {
    progress.Clear();
    return -1;
  }
  progress.Done();
  return 0;
}

}  // namespace

int ExportPcmWav(const ExportWavRequest& request, FILE* err,
                 const std::function<bool(OpenAviTable&)>& prepare) {
  QuietHost quiet;
  HostScope scope(&quiet);
  return Export(request, err, prepare);
}
