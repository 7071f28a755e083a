// The audio engine's measurements: the largest usable volume factor, the DC
// offset of each channel and the audio excess or shortage of DV files.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

#include "audio/ReadWave.h"
#include "platform/Host.h"
#include "platform/Messages.h"

namespace {

// Sample i of a piece as a signed value (8-bit audio is centred on 128).
inline int32_t SampleAt(const uint8_t* p, size_t i, int bits) {
  if (bits == 8) return int32_t{p[i]} - 128;
  return static_cast<int16_t>(p[2 * i] | (p[2 * i + 1] << 8));
}

const char* ChannelPrefix(int channel, uint16_t channels) {
  if (channels != 2) return "";
  return channel == kChannelLeft ? "左" : channel == kChannelRight ? "右" : "";
}

}  // namespace

int ReadWave::RunMeasure(unsigned mode, ReadWaveSettings& settings, ReadWaveRequest& request) {
  if (mode & kWaveFactorCheck) return MeasureFactor(settings);
  if (mode & kWaveOffsetCheck) return MeasureOffsets(settings);
  return CheckDvAudio(request);
}

int ReadWave::MeasureFactor(ReadWaveSettings& settings) {
  const WaveFormatEx wf = Format();
  const int bits = wf.wBitsPerSample;
  const uint16_t channels = wf.nChannels;
  const char* prefix = ChannelPrefix(settings.channel, channels);
  const std::string name = std::string(prefix) + "音声変更倍率調査";
  Begin(settings.scope, name);
  if (bits != 8 && bits != 16) {
    error_ = Fmt("%sのオーディオが8,16bit以外です!", AviName().c_str());
    return End(false);
  }
  // Only the chosen channel of stereo audio counts.
  const int only = *prefix ? (settings.channel == kChannelLeft ? 0 : 1) : -1;
  const int32_t offsets[2] = {settings.levelCorrection ? settings.offsetLeft : 0,
                              settings.levelCorrection ? settings.offsetRight : 0};
  int64_t mostNegative = 0, mostPositive = 0;
  const bool walked = Walk(ScopeRange(settings), true, [&](const Piece& p) {
    const size_t n = p.bytes / (bits / 8);
    for (size_t i = 0; i < n; ++i) {
      const size_t ch = i % channels;
      if (only >= 0 && static_cast<int>(ch) != only) continue;
      const int64_t s = int64_t{SampleAt(p.data, i, bits)} - (ch < 2 ? offsets[ch] : 0);
      mostNegative = std::min(mostNegative, s);
      mostPositive = std::max(mostPositive, s);
    }
    return true;
  });
  if (!walked) return End(false);

  const long percent = static_cast<long>(settings.targetPercent);
  const int64_t lower = (bits == 8 ? -128 : -32768) * int64_t{percent} / 100;
  const int64_t upper = (bits == 8 ? 127 : 32767) * int64_t{percent} / 100;
  double factor = 999.9999;
  if (mostNegative) factor = std::min(factor, static_cast<double>(lower) / static_cast<double>(mostNegative));
  if (mostPositive) factor = std::min(factor, static_cast<double>(upper) / static_cast<double>(mostPositive));

  long first, last;
  ScopeFrames(settings, &first, &last);
  if (settings.scope == kScopeCurrentFrame)
    Log("[%s%s(%s)] %s %s(%ld)\r\n", prefix, "音声変更倍率調査", scopeName_.c_str(), TimeStamp().c_str(),
        AviName().c_str(), first);
  else
    Log("[%s%s(%s)] %s %s(%ld-%ld)\r\n", prefix, "音声変更倍率調査", scopeName_.c_str(), TimeStamp().c_str(),
        AviName().c_str(), first, last);

  if (Message(MB_OKCANCEL | MB_ICONQUESTION, nullptr,
              "音量を%ld%%にするには現在の倍率%6.3lfを%6.3lfに変更します。\n変更しますか?", percent,
              settings.factor, factor) != IDOK)
    return End(false);
  settings.factor = factor;
  return End(true);
}

int ReadWave::MeasureOffsets(ReadWaveSettings& settings) {
  const WaveFormatEx wf = Format();
  const int bits = wf.wBitsPerSample;
  const uint16_t channels = wf.nChannels;
  Begin(settings.scope, "音声オフセット調査");
  if (bits != 8 && bits != 16) {
    error_ = Fmt("%sのオーディオが8,16bit以外です!", AviName().c_str());
    return End(false);
  }
  if (channels != 1 && channels != 2) {
    error_ = Fmt("%sのチャネル数が1,2以外です!", AviName().c_str());
    return End(false);
  }
  // The raw samples: the result replaces the offsets, so the old ones must
  // not be taken off first.
  int64_t sum[2] = {0, 0};
  uint64_t frames = 0;
  double degreeSum = 0;
  const bool walked = Walk(ScopeRange(settings), true, [&](const Piece& p) {
    const size_t n = p.bytes / wf.nBlockAlign;
    for (size_t f = 0; f < n; ++f) {
      const int32_t l = SampleAt(p.data, f * channels, bits);
      sum[0] += l;
      if (channels == 2) {
        const int32_t r = SampleAt(p.data, f * 2 + 1, bits);
        sum[1] += r;
        if (l || r) degreeSum += static_cast<double>(std::abs(l - r)) / std::max(std::abs(l), std::abs(r));
      }
    }
    frames += n;
    return true;
  });
  if (!walked) return End(false);

  const int64_t count = static_cast<int64_t>(std::max<uint64_t>(frames, 1));
  const long left = static_cast<long>(sum[0] / count), right = static_cast<long>(sum[1] / count);
  const double degree = 100.0 * degreeSum / static_cast<double>(count);

  long first, last;
  ScopeFrames(settings, &first, &last);
  if (settings.scope == kScopeCurrentFrame)
    Log("[%s%s(%s)] %s %s(%ld)\r\n", "", opName_.c_str(), scopeName_.c_str(), TimeStamp().c_str(),
        AviName().c_str(), first);
  else
    Log("[%s%s(%s)] %s %s(%ld-%ld)\r\n", "", opName_.c_str(), scopeName_.c_str(), TimeStamp().c_str(),
        AviName().c_str(), first, last);

  const int answer =
      channels == 2
          ? Message(MB_OKCANCEL | MB_ICONQUESTION, nullptr,
                    "Lchのオフセットは%ld,Rchのオフセットは%ld,\nステレオ度は%5.1lf%%です。\n設定しますか?",
                    left, right, degree)
          : Message(MB_OKCANCEL | MB_ICONQUESTION, nullptr, "オフセットは%ldです。\n設定しますか?", left);
  if (answer != IDOK) return End(false);
  settings.offsetLeft = static_cast<int32_t>(left);
  settings.offsetRight = channels == 2 ? static_cast<int32_t>(right) : 0;
  settings.levelCorrection = true;
  return End(true);
}

int ReadWave::CheckDvAudio(ReadWaveRequest& request) {
  dvTally_.clear();
  Begin(kScopeWhole, "CDVCコーデックの音声過不足チェック");
  OpenAviFile* avi = request.record ? request.record : AudioFile();
  if (!avi || !avi->IsOpen() || avi->nAudioKind == 1) return End(false);
  // Chunk sizes tell sample counts only for PCM; decoded audio has lost its
  // chunks.
  const WaveFormatEx wf = avi->AudioFormat();
  if (avi->nAudioKind != 0 || wf.nBlockAlign == 0 || wf.nSamplesPerSec == 0) {
    error_ = Fmt("%sのオーディオが読み出せません!", avi->szFileName.c_str());
    return End(false);
  }
  // The file as recorded (set 0), at its own frame rate.
  const AviStreamSet& set = avi->sets[0];
  const double rate = set.strhVideo.dwRate && set.strhVideo.dwScale
                          ? static_cast<double>(set.strhVideo.dwRate) / set.strhVideo.dwScale
                          : table_.EffectiveFrameRate();
  const double perFrame = wf.nSamplesPerSec / rate;
  const int64_t expected = static_cast<int64_t>(std::floor(perFrame + 0.5));
  std::map<int64_t, uint32_t> tally;
  uint64_t samples = 0;
  const uint32_t chunks =
      std::min<uint32_t>(set.WaveIndexEntries, static_cast<uint32_t>(set.pWaveIndex.size()));
  for (uint32_t k = 0; k < chunks; ++k) {
    const uint32_t n = IndexSize(set.pWaveIndex[k]) / wf.nBlockAlign;
    samples += n;
    ++tally[int64_t{n} - expected];
  }
  for (const auto& [difference, count] : tally) dvTally_.push_back({difference, count});
  std::stable_sort(dvTally_.begin(), dvTally_.end(),
                   [](const DvTallyEntry& a, const DvTallyEntry& b) { return a.chunks > b.chunks; });
  if (dvTally_.size() > 10) dvTally_.resize(10);

  const uint32_t frames = set.FrameMax;
  const int64_t excess =
      static_cast<int64_t>(samples) - static_cast<int64_t>(std::floor(frames * perFrame + 0.5));
  // Frames over which one sample of difference builds up.
  const double ratio = excess ? frames / static_cast<double>(std::llabs(excess)) : 0.0;

  Log("[%s%s(%s)] %s %s(%ld-%ld)\r\n", "", opName_.c_str(), scopeName_.c_str(), TimeStamp().c_str(),
      avi->szFileName.c_str(), 0L, static_cast<long>(frames) - 1);
  Message(
      MB_OK | MB_ICONINFORMATION, nullptr,
      "%sの音声過不足\n\nフレーム数  : %9lu    フレーム\nサンプル数  : %9lu    サンプル\n音声%s数  : %9ld    "
      "サンプル\n過不足割合  : %11.1lf  フレーム/サンプル",
      avi->szFileName.c_str(), static_cast<unsigned long>(frames), static_cast<unsigned long>(samples),
      excess < 0 ? "不足" : "超過", static_cast<long>(std::llabs(excess)), ratio);
  return End(true);
}
