// The engine's in-place modes: volume and fades on the samples themselves,
// and the audio replaced from a WAVE file or from another AVI. Every piece the
// walk reads is changed and written back at its place through a second handle.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "audio/ReadWave.h"
#include "audio/WaveFile.h"
#include "platform/Host.h"
#include "platform/Messages.h"

namespace {

// The 18 bytes an import compares: PCM (the extensible form too) as tag 1
// with cbSize 0, as the WAVE side is normalised.
WaveFormatEx ComparableFormat(const OpenAviFile& avi) {
  if (avi.nAudioKind == -1) return avi.wfPCM;
  const WaveFormatInfo info = ParseWaveFormatInfo(avi.pwfAudio.data(), avi.pwfAudio.size());
  WaveFormatEx wf = info.wf;
  if (info.effectiveTag == kWaveFormatPcm) {
    wf.wFormatTag = kWaveFormatPcm;
    wf.cbSize = 0;
  }
  return wf;
}

// Volume (a fixed factor) or a fade (a factor moving by one step per sample
// frame) on 8-bit (unsigned, centre 128) or 16-bit samples, in per mille.
class SampleScaler {
 public:
  SampleScaler(const WaveFormatEx& wf, const ReadWaveSettings& s, int onlyChannel, double start, double step)
      : bits_(wf.wBitsPerSample),
        channels_(std::max<int>(wf.nChannels, 1)),
        blockAlign_(wf.nBlockAlign),
        only_(onlyChannel),
        running_(start),
        step_(step) {
    if (s.levelCorrection) {
      offsets_[0] = s.offsetLeft;
      offsets_[1] = s.offsetRight;
    }
  }

  void Apply(uint8_t* p, uint32_t bytes) {
    const int width = bits_ / 8;
    for (uint32_t at = 0; at + blockAlign_ <= bytes; at += blockAlign_) {
      const int64_t f = static_cast<int64_t>(running_);
      for (int c = 0; c < channels_; ++c) {
        if (only_ >= 0 && c != only_) continue;
        uint8_t* q = p + at + static_cast<uint32_t>(c * width);
        if (q + width > p + at + blockAlign_) break;
        const int64_t off = c < 2 ? offsets_[c] : 0;
        if (bits_ == 8) {
          *q = static_cast<uint8_t>(Scale(int64_t{*q} - 128 - off, f, -128, 127) + 128);
        } else {
          const int16_t s = static_cast<int16_t>(q[0] | (q[1] << 8));
          const uint16_t v = static_cast<uint16_t>(Scale(s - off, f, -32768, 32767));
          q[0] = static_cast<uint8_t>(v & 0xFF);
          q[1] = static_cast<uint8_t>(v >> 8);
        }
      }
      running_ += step_;
    }
  }

 private:
  static int64_t Scale(int64_t s, int64_t perMille, int64_t lo, int64_t hi) {
    int64_t v = s * perMille;
    v = (v < 0 ? v - 500 : v + 500) / 1000;
    return std::clamp(v, lo, hi);
  }

  int bits_, channels_;
  uint32_t blockAlign_;
  int only_;
  int64_t offsets_[2] = {0, 0};
  double running_, step_;
};

// Sequential reads of one record's audio by block position through its
// current set; blocks it does not have read as silence.
class RecordAudio {
 public:
  RecordAudio(OpenAviFile* avi, const FrameIndexEntry* entries, uint32_t count, uint16_t blockAlign,
              uint8_t silence)
      : avi_(avi), e_(entries), n_(count), ba_(blockAlign), silence_(silence) {}

  bool Read(uint64_t first, uint8_t* out, uint64_t count) {
    if (first < pos_) k_ = 0, pos_ = 0;
    while (count) {
      while (k_ < n_ && pos_ + IndexSize(e_[k_]) / ba_ <= first) pos_ += IndexSize(e_[k_++]) / ba_;
      if (k_ >= n_) {
        std::memset(out, silence_, count * ba_);
        return true;
      }
      const uint64_t take = std::min(count, pos_ + IndexSize(e_[k_]) / ba_ - first);
      const uint32_t bytes = static_cast<uint32_t>(take * ba_);
      if (MyAviSeek(avi_, nullptr, IndexOffset(e_[k_]) + (first - pos_) * ba_, 0, true) < 0 ||
          MyAviRead(avi_, nullptr, out, bytes, true) < 0)
        return false;
      out += bytes;
      first += take;
      count -= take;
    }
    return true;
  }

 private:
  OpenAviFile* avi_;
  const FrameIndexEntry* e_;
  uint32_t n_;
  uint16_t ba_;
  uint8_t silence_;
  uint32_t k_ = 0;
  uint64_t pos_ = 0;  // first block of chunk k_
};

// Reads after an in-place write must not be served from a buffer filled
// before it.
void DropReadBuffers(OpenAviFile* avi) {
  for (RiffFile* f : {avi->hmmioAvi.get(), avi->hAvi2.get(), avi->hmmioPCM.get()})
    if (f) f->Flush();
}

}  // namespace

int ReadWave::RunRewrite(unsigned mode, ReadWaveSettings& settings, ReadWaveRequest& request) {
  const unsigned op = mode & ~static_cast<unsigned>(kWaveRewrite);
  const bool volume = op == kWaveVolume, fadeIn = op == kWaveFadeIn, fadeOut = op == kWaveFadeOut;
  const bool fromWave = op == kWaveFromWave, fromAvi = op == kWaveFromAvi;
  const bool scaling = volume || fadeIn || fadeOut;
  if (!scaling && !fromWave && !fromAvi) return 0;
  const WaveFormatEx wf = Format();
  const uint16_t ba = wf.nBlockAlign;
  const uint8_t silence = wf.wBitsPerSample == 8 ? 0x80 : 0;

  // The record's samples in the table's numbering; the table's when none.
  SampleRange span{0, TotalSamples()};
  if (request.record) {
    bool found = false;
    uint64_t pos = 0;
    for (int i = 0; i < table_.nOpenAvi && !found; ++i) {
      const OpenAviFile& f = table_.pOpenAviList[static_cast<size_t>(i)];
      const Chunks c = ChunksOf(f);
      uint64_t n = 0;
      for (uint32_t k = 0; k < c.count; ++k) n += IndexSize(c.entries[k]) / ba;
      if (&f == request.record) {
        span = {pos, pos + n};
        found = true;
      }
      pos += n;
    }
    if (!found) return 0;
  }
  OpenAviFile* named = request.record ? request.record : AudioFile();
  const char* aviName = named->szFileName.c_str();

  int only = -1;
  std::string opName = volume     ? "音声倍率変更書換"
                       : fadeIn   ? "音声フェードイン"
                       : fadeOut  ? "音声フェードアウト"
                       : fromWave ? "WAVEファイル読込"
                                  : "AVIファイル音声読込";
  std::string prefix;
  if (scaling && wf.nChannels == 2 && settings.channel != kChannelBoth) {
    only = settings.channel == kChannelLeft ? 0 : 1;
    prefix = only == 0 ? "左" : "右";
  }
  if (volume && settings.audioModified &&
      Message(MB_OKCANCEL | MB_ICONQUESTION, "WAVEデータは既に変更されていますが続けますか?") != IDOK)
    return 0;
  Begin(settings.scope, prefix + opName);

  SampleRange r = ScopeRange(settings);
  r.first = std::clamp(r.first, span.first, span.end);
  r.end = std::clamp(r.end, r.first, span.end);
  const uint64_t count = r.end - r.first;
  const int64_t shift = settings.shiftSamples;
  const uint64_t lead = shift > 0 ? static_cast<uint64_t>(shift) : 0;

  // The sources; each check names the file it refuses.
  WaveReader wave;
  uint64_t waveSkip = 0;  // bytes of the WAVE data skipped by an earlier shift
  std::unique_ptr<RecordAudio> other;
  if (scaling && wf.wBitsPerSample != 8 && wf.wBitsPerSample != 16) {
    error_ = Fmt("%sのオーディオが8,16bit以外です!", aviName);
    return End(false);
  }
  if (fromWave) {
    std::string note;
    if (!wave.Open(request.wavePath, 0, &error_, &note) ||
        !MatchWaveFormat(wave.Info(), ComparableFormat(*AudioFile()), request.wavePath, aviName, &error_))
      return End(false);
    if (!note.empty()) Message(MB_OK | MB_ICONINFORMATION, note.c_str());
    if (shift < 0) waveSkip = std::min<uint64_t>(static_cast<uint64_t>(-shift) * ba, wave.Info().dataBytes);
  }
  if (fromAvi) {
    OpenAviFile* o = request.otherAvi;
    if (!o || !o->IsOpen() || o->nAudioKind == 1 || o->pwfAudio.size() < 16) {
      error_ = Fmt("%sには音声がありません!", o ? o->szFileName.c_str() : "");
      return End(false);
    }
    uint8_t a[kWaveFormatExBytes], b[kWaveFormatExBytes];
    StoreWaveFormat(ComparableFormat(*o), a);
    StoreWaveFormat(ComparableFormat(*AudioFile()), b);
    const Chunks c = ChunksOf(*o);
    if (std::memcmp(a, b, sizeof a) != 0) {
      error_ = Fmt("%sのオーディオフォーマットは%sと一致しません!", o->szFileName.c_str(), aviName);
      return End(false);
    }
    if (!c.ok) {
      error_ = Fmt("%sのオーディオが読み出せません!", o->szFileName.c_str());
      return End(false);
    }
    other = std::make_unique<RecordAudio>(o, c.entries, c.count, ba, silence);
  }

  std::unique_ptr<SampleScaler> scaler;
  if (scaling) {
    const double step = count ? 1000.0 / static_cast<double>(count) : 0.0;
    const double perMille = static_cast<double>(std::llround(settings.factor * 1000.0));
    scaler = std::make_unique<SampleScaler>(wf, settings, only,
                                            volume   ? perMille
                                            : fadeIn ? 0.0
                                                     : 1000.0,
                                            volume   ? 0.0
                                            : fadeIn ? step
                                                     : -step);
  }

  // Fills the piece at table sample `at` from the chosen source.
  auto fill = [&](uint8_t* p, uint64_t at, uint64_t blocks) -> bool {
    if (scaler) {
      scaler->Apply(p, static_cast<uint32_t>(blocks * ba));
      return true;
    }
    if (fromWave) {
      const uint64_t rel = at - r.first;
      const uint64_t quiet = rel < lead ? std::min(blocks, lead - rel) : 0;
      std::memset(p, silence, quiet * ba);
      const uint64_t want = (blocks - quiet) * ba;
      if (!want) return true;
      const int64_t got = wave.ReadData(waveSkip + (rel + quiet - lead) * ba, p + quiet * ba, want);
      if (got < 0) {
        error_ = Fmt("%sが読み出せません!", request.wavePath.c_str());
        return false;
      }
      std::memset(p + quiet * ba + got, silence, want - static_cast<uint64_t>(got));
      return true;
    }
    // Another AVI: its sample at `at - shift` lands at `at`.
    const int64_t src = static_cast<int64_t>(at) - shift;
    const uint64_t quiet = src < 0 ? std::min<uint64_t>(blocks, static_cast<uint64_t>(-src)) : 0;
    std::memset(p, silence, quiet * ba);
    if (quiet < blocks && !other->Read(static_cast<uint64_t>(src + static_cast<int64_t>(quiet)),
                                       p + quiet * ba, blocks - quiet)) {
      error_ = Fmt("%sのオーディオが読み出せません!", request.otherAvi->szFileName.c_str());
      return false;
    }
    return true;
  };

  // The write handle follows the walk from file to file.
  std::unique_ptr<RiffFile> out;
  OpenAviFile* outAvi = nullptr;
  std::vector<OpenAviFile*> touched;
  auto closeOut = [&]() -> bool {
    if (!outAvi) return true;
    OpenAviFile* was = outAvi;
    outAvi = nullptr;
    if (MyAviClose(was, &out, true)) return true;
    error_ = Fmt("%sを閉じるときにエラーが発生しました!", was->szFileName.c_str());
    return false;
  };
  uint64_t written = r.first;  // end of what reached the file
  const bool walked = Walk(r, true, [&](const Piece& piece) {
    const uint64_t blocks = piece.bytes / ba;
    if (!fill(piece.data, written, blocks)) return false;
    if (piece.avi != outAvi) {
      if (!closeOut()) return false;
      if (!MyAviOpen(piece.avi, &out, true)) {
        error_ = Fmt("%sが開けません!", piece.avi->szFileName.c_str());
        return false;
      }
      outAvi = piece.avi;
      touched.push_back(piece.avi);
    }
    // Flushed piece by piece so that what is reported written is on disk.
    if (MyAviSeek(piece.avi, out.get(), piece.offset, 0, true) < 0 ||
        MyAviWrite(piece.avi, out.get(), piece.data, piece.bytes, true) < 0 || !out->Flush()) {
      error_ = Fmt("%sのオーディオ書き込みでエラーが発生しました!", piece.avi->szFileName.c_str());
      return false;
    }
    written += blocks;
    return true;
  });
  const std::string failure = error_;
  const bool closed = closeOut();
  if (!failure.empty()) error_ = failure;  // the first failure is the one reported
  for (OpenAviFile* avi : touched) DropReadBuffers(avi);

  if (written > r.first) {
    // The offsets were measured on audio that is no longer there.
    settings.levelCorrection = false;
    if (volume) settings.audioModified = true;
  }
  if (!walked || !closed) {
    const std::string howFar =
        written > r.first
            ? Fmt("%sのオーディオはサンプル%llu～%lluまで書き換えました.", aviName,
                  static_cast<unsigned long long>(r.first), static_cast<unsigned long long>(written - 1))
            : Fmt("%sのオーディオは書き換えていません.", aviName);
    if (abort_) {
      End(false);
      Status(0, "%s%s中止 %s", scopeName_.c_str(), opName_.c_str(), howFar.c_str());
      return 0;
    }
    error_ += "\r" + howFar;
    return End(false);
  }

  if (LogIsOpen()) {
    const uint32_t total = table_.TotalFrames();
    long first = 0, last = total ? static_cast<long>(total) - 1 : 0;
    if (settings.scope == kScopeSelection) {
      first = static_cast<long>(std::max<int64_t>(settings.selectionFirst, 0));
      if (settings.selectionLast >= 0) last = static_cast<long>(settings.selectionLast);
    } else if (settings.scope == kScopeCurrentFrame) {
      first = last = static_cast<long>(settings.currentFrame);
    }
    const bool current = settings.scope == kScopeCurrentFrame;
    const std::string stamp = TimeStamp();
    const char *scope = scopeName_.c_str(), *name = opName.c_str(), *pre = prefix.c_str();
    if (scaling) {
      const int64_t perMille = std::llround(settings.factor * 1000.0);
      if (!volume)
        current ? Log("[%s%s(%s)] %s %s(%ld)\r\n", pre, name, scope, stamp.c_str(), aviName, first)
                : Log("[%s%s(%s)] %s %s(%ld-%ld)\r\n", pre, name, scope, stamp.c_str(), aviName, first, last);
      else if (current)
        Log("[%s%s(%s)] %s %s(%ld) %ld.%03lu倍\r\n", pre, name, scope, stamp.c_str(), aviName, first,
            static_cast<long>(perMille / 1000), static_cast<unsigned long>(std::llabs(perMille % 1000)));
      else
        Log("[%s%s(%s)] %s %s(%ld-%ld) %ld.%03lu倍\r\n", pre, name, scope, stamp.c_str(), aviName, first,
            last, static_cast<long>(perMille / 1000),
            static_cast<unsigned long>(std::llabs(perMille % 1000)));
    } else {
      const long by = static_cast<long>(shift < 0 ? -shift : shift);
      const char* how = shift > 0 ? "遅らせて" : "早めて";
      std::string what;
      if (fromWave)
        what = shift ? Fmt("に%sを%ldサンプル%s読込", request.wavePath.c_str(), by, how)
                     : Fmt("に%sを読込", request.wavePath.c_str());
      else
        what = shift ? Fmt("に%sの音声(%ld)を%ldサンプル%s読込", request.otherAvi->szFileName.c_str(), first,
                           by, how)
                     : Fmt("に%sの音声(%ld)を読込", request.otherAvi->szFileName.c_str(), first);
      current ? Log("[%s(%s)] %s %s%s\r\n", name, scope, stamp.c_str(), aviName, what.c_str())
              : Log("[%s(%s)] %s %s(%ld-%ld)%s\r\n", name, scope, stamp.c_str(), aviName, first, last,
                    what.c_str());
    }
  }

  if (fromWave) {
    // WAVE blocks left after the skip against the blocks they had to fill.
    const int64_t have = static_cast<int64_t>((wave.Info().dataBytes - waveSkip) / ba);
    const int64_t need = static_cast<int64_t>(count > lead ? count - lead : 0);
    if (have != need)
      Message(MB_OK | MB_ICONINFORMATION, nullptr, "%sのWAVEデータは%ld件%s.", request.wavePath.c_str(),
              static_cast<long>(have > need ? have - need : need - have),
              have > need ? "余りました" : "足りませんでした");
  }
  return End(true);
}
