#include "audio/ReadWave.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <strings.h>

#include "audio/AudioEncode.h"
#include "audio/ChunkReader.h"
#include "audio/WaveFile.h"
#include "platform/AppState.h"
#include "platform/Host.h"
#include "platform/Messages.h"

namespace {

// Largest read at a time: a work-file piece can be 16 MiB.
constexpr uint32_t kReadPiece = 1 << 20;
constexpr size_t kSilencePiece = 32768;

const char* ScopeName(int scope) {
  return scope == kScopeSelection ? "選択範囲" : scope == kScopeCurrentFrame ? "現在のフレーム" : "全体";
}

// The factor in per mille, rounded half away from zero and clamped, on 8-bit
// (unsigned, centre 128) or 16-bit (signed little-endian) samples.
void ApplyFactor(uint8_t* p, size_t n, int bits, int64_t perMille) {
  auto scale = [perMille](int64_t s, int64_t lo, int64_t hi) {
    int64_t v = s * perMille;
    v = (v < 0 ? v - 500 : v + 500) / 1000;
    return std::clamp(v, lo, hi);
  };
  if (bits == 8) {
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(scale(int64_t{p[i]} - 128, -128, 127) + 128);
    return;
  }
  for (size_t i = 0; i + 1 < n; i += 2) {
    int16_t s = static_cast<int16_t>(p[i] | (p[i + 1] << 8));
    uint16_t v = static_cast<uint16_t>(scale(s, -32768, 32767));
    p[i] = static_cast<uint8_t>(v & 0xFF);
    p[i + 1] = static_cast<uint8_t>(v >> 8);
  }
}

}  // namespace

OpenAviFile* ReadWave::AudioFile() const {
  for (int i = 0; i < table_.nOpenAvi && i < static_cast<int>(table_.pOpenAviList.size()); ++i) {
    OpenAviFile& avi = table_.pOpenAviList[static_cast<size_t>(i)];
    if (avi.IsOpen() && avi.nAudioKind != 1 && avi.pwfAudio.size() >= 16) return &avi;
  }
  return nullptr;
}

TableAudio ReadWave::State() const {
  const OpenAviFile* avi = AudioFile();
  if (!avi) return TableAudio::kNone;
  if (avi->nAudioKind == 0) return TableAudio::kPcm;
  return avi->hmmioPCM && !avi->pIndexPCM.empty() ? TableAudio::kDecoded : TableAudio::kNotDecoded;
}

WaveFormatEx ReadWave::Format() const {
  const OpenAviFile* avi = AudioFile();
  if (!avi) return WaveFormatEx{};
  return avi->nAudioKind == -1 ? avi->wfPCM : avi->AudioFormat();
}

double ReadWave::SamplesPerFrame() const {
  double rate = table_.EffectiveFrameRate();
  return rate > 0 ? Format().nSamplesPerSec / rate : 0.0;
}

uint64_t ReadWave::FrameToSample(double frame) const {
  double s = std::floor(frame * SamplesPerFrame() + 0.5);
  return s > 0 ? static_cast<uint64_t>(s) : 0;
}

ReadWave::Chunks ReadWave::ChunksOf(const OpenAviFile& avi) const {
  Chunks c;
  if (!avi.IsOpen() || avi.nAudioKind == 1) return c;
  const bool view = avi.pCurrentSet == &avi.sets[1];
  if (avi.nAudioKind == -1 && (avi.pIndexPCM.empty() || !avi.hmmioPCM)) {
    c.ok = false;
    return c;
  }
  // Set 0 of decoded audio is the work file's own index; the view (set 1)
  // already points into the work file.
  if (avi.nAudioKind == -1 && !view) {
    c.entries = avi.pIndexPCM.data();
    c.count = std::min<uint32_t>(avi.dwIndexPCM, static_cast<uint32_t>(avi.pIndexPCM.size()));
    return c;
  }
  const AviStreamSet& s = avi.Set();
  c.entries = s.pWaveIndex.data();
  c.count = std::min<uint32_t>(s.WaveIndexEntries, static_cast<uint32_t>(s.pWaveIndex.size()));
  return c;
}

const ReadWave::ChunkStarts& ReadWave::StartsOf(int i) const {
  const OpenAviFile& avi = table_.pOpenAviList[static_cast<size_t>(i)];
  const Chunks c = ChunksOf(avi);
  const uint16_t ba = Format().nBlockAlign;
  // Set 0 of decoded audio is the work file's index; else the set in use.
  const bool pcm = avi.nAudioKind == -1 && c.entries == avi.pIndexPCM.data();
  const unsigned long long stamp = pcm ? avi.pcmStamp : avi.Set().waveStamp;
  if (starts_.size() < static_cast<size_t>(i) + 1) starts_.resize(static_cast<size_t>(i) + 1);
  ChunkStarts& cs = starts_[static_cast<size_t>(i)];
  if (cs.avi == &avi && cs.entries == c.entries && cs.count == c.count && cs.stamp == stamp &&
      cs.blockAlign == ba)
    return cs;
  cs = ChunkStarts{&avi, c.entries, stamp, c.count, ba, {}};
  cs.start.resize(static_cast<size_t>(c.count) + 1, 0);
  for (uint32_t k = 0; k < c.count; ++k)
    cs.start[k + 1] = cs.start[k] + (ba ? IndexSize(c.entries[k]) / ba : 0);
  return cs;
}

uint64_t ReadWave::TotalSamples() const {
  if (!Format().nBlockAlign) return 0;
  uint64_t total = 0;
  for (int i = 0; i < table_.nOpenAvi; ++i) total += StartsOf(i).start.back();
  return total;
}

SampleRange ReadWave::ScopeRange(const ReadWaveSettings& s) const {
  const uint64_t total = TotalSamples();
  SampleRange r;
  switch (s.scope) {
    case kScopeSelection: {
      int64_t first = std::max<int64_t>(s.selectionFirst, 0);
      double end = s.selectionLast < 0 ? table_.TotalFrames() : static_cast<double>(s.selectionLast) + 1;
      r = {FrameToSample(static_cast<double>(first)), FrameToSample(end)};
      break;
    }
    case kScopeCurrentFrame:
      r = {FrameToSample(s.currentFrame), FrameToSample(s.currentFrame + 1.0)};
      break;
    default:
      r = {0, total};
  }
  r.end = std::min(r.end, total);
  r.first = std::min(r.first, r.end);
  return r;
}

SampleRange ReadWave::FrameRange(uint32_t firstFrame, uint32_t count) const {
  return {FrameToSample(firstFrame), FrameToSample(static_cast<double>(firstFrame) + count)};
}

std::string ReadWave::AviName() const {
  const OpenAviFile* avi = AudioFile();
  return avi ? avi->szFileName : std::string();
}

void ReadWave::ScopeFrames(const ReadWaveSettings& s, long* first, long* last) const {
  const long total = static_cast<long>(table_.TotalFrames());
  switch (s.scope) {
    case kScopeSelection:
      *first = static_cast<long>(std::max<int64_t>(s.selectionFirst, 0));
      *last = s.selectionLast < 0 ? total - 1 : static_cast<long>(s.selectionLast);
      break;
    case kScopeCurrentFrame:
      *first = *last = static_cast<long>(s.currentFrame);
      break;
    default:
      *first = 0;
      *last = total - 1;
  }
}

void ReadWave::Progress(uint64_t done, uint64_t total) {
  long pct = total ? static_cast<long>(std::min(done, total) * 100 / total) : 100;
  if (pct == lastPct_) return;
  lastPct_ = pct;
  Status(0, "%s%s中(%3ld%%) ESC:中止", scopeName_.c_str(), opName_.c_str(), pct);
  CurrentHost().SetTitleSuffix(Fmt(" (%s中 %3ld%%)", opName_.c_str(), pct));
}

void ReadWave::Begin(int scope, const std::string& opName) {
  scopeName_ = ScopeName(scope);
  opName_ = opName;
  lastPct_ = -1;
  ME.fAbort = 0;
}

int ReadWave::End(bool ok, bool quiet) {
  CurrentHost().SetTitleSuffix("");
  if (ok) {
    Status(0, "%s%s終了", scopeName_.c_str(), opName_.c_str());
    CurrentHost().Beep();
    return 1;
  }
  if (abort_ || error_.empty()) {
    Status(0, "%s%s中止", scopeName_.c_str(), opName_.c_str());
    return 0;
  }
  Status(0, "%s%sエラー:%s", scopeName_.c_str(), opName_.c_str(), error_.c_str());
  if (!quiet) Message(MB_OK | MB_ICONSTOP, error_.c_str());
  return 0;
}

bool ReadWave::Walk(SampleRange range, bool progress, const Sink& sink) {
  const uint16_t ba = Format().nBlockAlign;
  if (!ba || range.first >= range.end) return true;
  uint64_t pos = 0, done = 0;
  const uint64_t want = range.end - range.first;
  for (int i = 0; i < table_.nOpenAvi && pos < range.end; ++i) {
    OpenAviFile* avi = &table_.pOpenAviList[static_cast<size_t>(i)];
    Chunks c = ChunksOf(*avi);
    if (!c.ok) {
      error_ = Fmt("%sのオーディオが読み出せません!", avi->szFileName.c_str());
      return false;
    }
    const ChunkStarts& cs = StartsOf(i);
    const uint64_t fileSamples = cs.start.back();
    if (pos + fileSamples <= range.first) {
      pos += fileSamples;
      continue;
    }
    // The chunk that holds the range's first sample.
    uint32_t k0 = 0;
    if (range.first > pos && c.count > 0)
      k0 = static_cast<uint32_t>(
          std::upper_bound(cs.start.begin(), cs.start.begin() + c.count, range.first - pos) -
          cs.start.begin() - 1);
    const uint64_t fileEnd = pos + fileSamples;
    pos += cs.start[k0];
    ChunkReader reader(avi, c.entries, c.count);
    for (uint32_t k = k0; k < c.count && pos < range.end; ++k) {
      const FrameIndexEntry e = c.entries[k];
      const uint64_t n = IndexSize(e) / ba;
      const uint64_t from = std::max(pos, range.first), to = std::min(pos + n, range.end);
      for (uint64_t at = from; at < to;) {
        const uint64_t blocks = std::min<uint64_t>(to - at, std::max<uint32_t>(kReadPiece / ba, 1));
        const uint32_t bytes = static_cast<uint32_t>(blocks * ba);
        const uint64_t offset = IndexOffset(e) + (at - pos) * ba;
        uint8_t* data = reader.Read(k, static_cast<uint32_t>((at - pos) * ba), bytes, (range.end - at) * ba);
        if (!data) {
          error_ = Fmt("%sのオーディオが読み出せません!", avi->szFileName.c_str());
          return false;
        }
        if (!sink(Piece{avi, offset, data, bytes})) return false;
        at += blocks;
        done += blocks;
        if (progress) {
          if (PumpAndTestAbort()) {
            abort_ = true;
            return false;
          }
          Progress(done, want);
        }
      }
      pos += n;
    }
    pos = fileEnd;
  }
  return true;
}

int ReadWave::Run(unsigned mode, ReadWaveSettings& settings, const std::string& wavePath, uint32_t firstFrame,
                  uint32_t frameCount, std::vector<uint8_t>* buffer) {
  ReadWaveRequest request;
  request.wavePath = wavePath;
  request.firstFrame = firstFrame;
  request.frameCount = frameCount;
  request.buffer = buffer;
  return Run(mode, settings, request);
}

int ReadWave::Run(unsigned mode, ReadWaveSettings& settings, ReadWaveRequest& request) {
  error_.clear();
  abort_ = false;
  lastPct_ = -1;
  const TableAudio state = State();
  if (state != TableAudio::kPcm && state != TableAudio::kDecoded) return 0;
  const WaveFormatEx wf = Format();
  const uint16_t ba = wf.nBlockAlign;
  if (!ba || !wf.nSamplesPerSec) return 0;

  if (mode == kWaveFrameRangeToBuffer || mode == kWaveFrameRangeToProgramBuffer) {
    std::vector<uint8_t>* buffer = mode == kWaveFrameRangeToBuffer ? request.buffer : &audioBuffer_;
    if (!buffer) return 0;
    SampleRange r = FrameRange(request.firstFrame, request.frameCount);
    buffer->assign((r.end - r.first) * ba, 0);
    size_t at = 0;
    r.end = std::min(r.end, TotalSamples());
    return Walk(r, false,
                [&](const Piece& p) {
                  std::memcpy(buffer->data() + at, p.data, p.bytes);
                  at += p.bytes;
                  return true;
                })
               ? 1
               : 0;
  }
  if (mode & kWaveRewrite) return RunRewrite(mode, settings, request);
  if (mode & (kWaveDvCheck | kWaveOffsetCheck | kWaveFactorCheck)) return RunMeasure(mode, settings, request);
  if (mode & kWaveExport) return RunExport(mode, settings, request);
  return 0;
}

int ReadWave::RunExport(unsigned mode, ReadWaveSettings& settings, ReadWaveRequest& request) {
  const WaveFormatEx wf = Format();
  const uint16_t ba = wf.nBlockAlign;
  OpenAviFile* audioFile = AudioFile();
  const bool volume = (mode & kWaveVolume) != 0;
  const bool around = (mode & (kWaveAroundFrame | kWaveAroundFrameShifted)) != 0;
  Begin(around ? kScopeCurrentFrame : settings.scope,
        volume ? "WAVEファイル倍率変更保存" : "WAVEファイル保存");
  const int64_t perMille = static_cast<int64_t>(std::llround(settings.factor * 1000.0));

  SampleRange r = ScopeRange(settings);
  long firstFrame = 0, lastFrame = 0;
  ScopeFrames(settings, &firstFrame, &lastFrame);
  // Later (> 0) writes silence first, earlier (< 0) skips samples.
  int64_t shift = settings.shiftSamples;
  // The frames round the current one are saved without a dialog: PCM, no
  // user shift, a name of their own.
  const bool encode = settings.output.encodeAudio && !around;
  if (around) {
    const long n = settings.wideAroundFrame ? 20 : 10;
    const long current = static_cast<long>(settings.currentFrame);
    if (current < n || current + n >= static_cast<long>(table_.TotalFrames())) {
      error_ = "!オーディオを出力するフレーム範囲が不正です!";
      return End(false);
    }
    firstFrame = current - n;
    lastFrame = current + n;
    r = FrameRange(static_cast<uint32_t>(firstFrame), static_cast<uint32_t>(2 * n + 1));
    const bool half = (mode & kWaveAroundFrameShifted) != 0;
    // 0x800 takes the audio 801 samples later (half a frame of 48 kHz audio
    // at 29.97 fps, hence ".5" in the name): in the file it comes earlier.
    shift = half ? -801 : 0;
    std::string base = audioFile->szFileName;
    if (base.size() >= 4 && strcasecmp(base.c_str() + base.size() - 4, ".avi") == 0)
      base.resize(base.size() - 4);
    request.wavePath = base + Fmt(".%06lu.%d.wav", static_cast<unsigned long>(current), half ? 5 : 0);
  }
  const std::string& wavePath = request.wavePath;
  const uint64_t total = TotalSamples();
  if (shift < 0) {
    const uint64_t skip = static_cast<uint64_t>(-shift);
    // The frames round the current one keep their length; the whole scope
    // loses what it skips.
    r.end = around ? std::min(total, r.end + skip) : r.end;
    r.first = std::min(r.end, r.first + skip);
  }
  r.end = std::min(r.end, total);

  AudioEncoder encoder;
  const uint8_t* encoded = nullptr;
  uint32_t encodedBytes = 0;
  uint64_t pcmBytes = 0;
  // A failure the encoder has already shown in a box.
  bool encoderFailed = false;
  auto run = [&]() -> bool {
    if (volume && wf.wBitsPerSample != 8 && wf.wBitsPerSample != 16) {
      error_ = Fmt("%sのオーディオが8,16bit以外です!", audioFile->szFileName.c_str());
      return false;
    }
    if (encode) {
      encoder.source = wf;
      encoder.destination = settings.output.format;
      const uint32_t largest = std::max<uint32_t>(std::max<uint32_t>(kReadPiece / ba, 1) * ba, kSilencePiece);
      if (!encoder.EncodeAudioStream(0, nullptr, largest, nullptr, nullptr)) {
        encoderFailed = true;
        error_ = "オーディオのエンコード初期化に失敗しました!";
        return false;
      }
    }
    WaveWriter out;
    const bool created = encode ? out.Create(wavePath, encoder.destination.data(), encoder.destination.size())
                                : out.Create(wavePath, wf);
    if (!created) {
      error_ = out.Message();
      return false;
    }
    // PCM bytes to the file, or through the encoder (mode 2 the last).
    auto write = [&](const uint8_t* data, size_t n, bool last) {
      if (!encode) return out.Append(data, n);
      pcmBytes += n;
      if (!encoder.EncodeAudioStream(last ? 2 : 1, data, static_cast<uint32_t>(n), &encoded, &encodedBytes)) {
        encoderFailed = true;
        error_ = "オーディオのエンコードでエラーが発生しました!";
        return false;
      }
      return out.Append(encoded, encodedBytes);
    };
    if (shift > 0) {
      uint64_t silence = static_cast<uint64_t>(shift) * ba;
      const std::vector<uint8_t> quiet(kSilencePiece, wf.wBitsPerSample == 8 ? 0x80 : 0);
      bool ok = true;
      if (wf.wBitsPerSample == 8 || encode) {
        for (uint64_t left = silence; ok && left > 0;) {
          // Whole blocks, so the encoder never gets part of a sample.
          const size_t n = static_cast<size_t>(std::min<uint64_t>(left, kSilencePiece / ba * ba));
          ok = write(quiet.data(), n, false);
          left -= n;
        }
      } else {
        ok = out.AppendZeros(silence);
      }
      if (!ok) {
        if (!encoderFailed) error_ = Fmt("%sのdata書き込みでエラーが発生しました!", wavePath.c_str());
        out.Finish();
        return false;
      }
    }
    bool walked = Walk(r, true, [&](const Piece& p) {
      if (volume) ApplyFactor(p.data, p.bytes, wf.wBitsPerSample, perMille);
      if (write(p.data, p.bytes, false)) return true;
      if (!encoderFailed) error_ = Fmt("%sのオーディオ書き込みでエラーが発生しました!", wavePath.c_str());
      return false;
    });
    if (walked && encode && !write(nullptr, 0, true)) {
      if (!encoderFailed) error_ = Fmt("%sのオーディオ書き込みでエラーが発生しました!", wavePath.c_str());
      walked = false;
    }
    if (encode) out.SetSampleFrames(pcmBytes / ba);
    if (!walked) {
      // What was written stays a valid, shorter file.
      out.Finish();
      return false;
    }
    if (!out.Finish()) {
      error_ = out.Message();
      return false;
    }
    return true;
  };

  const bool ok = run();
  if (encode) encoder.EncodeAudioStream(3, nullptr, 0, nullptr, nullptr);
  if (ok) {
    std::string what;
    if (shift > 0)
      what = Fmt("から%sへ%ldサンプル遅らせて保存", wavePath.c_str(), static_cast<long>(shift));
    else if (shift < 0)
      what = Fmt("から %sへ%ldサンプル早めて保存", wavePath.c_str(), static_cast<long>(-shift));
    else
      what = Fmt("から%sへ保存", wavePath.c_str());
    if (!around && settings.scope == kScopeCurrentFrame)
      Log("[%s(%s)] %s %s%s\r\n", opName_.c_str(), scopeName_.c_str(), TimeStamp().c_str(), AviName().c_str(),
          what.c_str());
    else
      Log("[%s(%s)] %s %s(%ld-%ld)%s\r\n", opName_.c_str(), scopeName_.c_str(), TimeStamp().c_str(),
          AviName().c_str(), firstFrame, lastFrame, what.c_str());
  }
  return End(ok, encoderFailed);
}
