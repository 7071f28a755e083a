#include "audio/AudioCompare.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <set>

#include "audio/AudioPlay.h"
#include "platform/AppState.h"
#include "platform/Host.h"
#include "platform/Messages.h"

namespace {

constexpr int64_t kMargin = 10;
// Each excerpt spans this many frames centred on its frame.
constexpr int kExcerptFrames = 20;

struct Candidate {
  int64_t index1 = 0, offset = 0, index2 = 0;
};

int32_t PeakProminence(const AudioLandmark& l) {
  return std::min(l.value - l.previous, l.value - l.next);
}
int32_t ValleyDepth(const AudioLandmark& l) {
  return std::max(l.value - l.previous, l.value - l.next);
}

// Every pair of filled entries; zero offsets (also a removed candidate) last.
template <size_t N, typename Filled>
std::vector<Candidate> Pair(const AudioLandmark (&a)[N], const AudioLandmark (&b)[N], Filled filled) {
  std::vector<Candidate> c;
  for (const AudioLandmark& x : a) {
    if (!filled(x)) continue;
    for (const AudioLandmark& y : b)
      if (filled(y)) c.push_back({x.index, x.index - y.index, y.index});
  }
  std::stable_sort(c.begin(), c.end(), [](const Candidate& p, const Candidate& q) {
    if ((p.offset == 0) != (q.offset == 0)) return q.offset == 0;
    return p.offset < q.offset;
  });
  return c;
}

// Keeps in each list only the offsets the other list also has.
void CrossRemove(std::vector<Candidate>& a, std::vector<Candidate>& b) {
  auto removeAbsent = [](std::vector<Candidate>& from, const std::vector<Candidate>& other) {
    std::set<int64_t> keep;
    for (const Candidate& c : other)
      if (c.offset) keep.insert(c.offset);
    for (Candidate& c : from)
      if (!keep.count(c.offset)) c.offset = 0;
  };
  removeAbsent(a, b);
  removeAbsent(b, a);
}

AudioLandmarks SortedByIndex(AudioLandmarks l) {
  auto byIndex = [](const AudioLandmark& p, const AudioLandmark& q) { return p.index < q.index; };
  std::stable_sort(std::begin(l.peaks), std::end(l.peaks), byIndex);
  std::stable_sort(std::begin(l.valleys), std::end(l.valleys), byIndex);
  return l;
}

}  // namespace

std::vector<int32_t> FirstChannel(const std::vector<uint8_t>& bytes, const WaveFormatEx& wf, bool negate) {
  std::vector<int32_t> s;
  if (!wf.nBlockAlign || !wf.nSamplesPerSec || !wf.nChannels) return s;
  bool eightBit = wf.nAvgBytesPerSec / (static_cast<uint64_t>(wf.nSamplesPerSec) * wf.nChannels) < 2;
  size_t n = bytes.size() / wf.nBlockAlign;
  s.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* p = bytes.data() + i * wf.nBlockAlign;
    int32_t v = eightBit || wf.nBlockAlign < 2 ? int32_t{p[0]} - 128
                                               : int32_t{static_cast<int16_t>(p[0] | (p[1] << 8))};
    s.push_back(negate ? -v : v);
  }
  return s;
}

AudioLandmarks FindLandmarks(const std::vector<int32_t>& s) {
  AudioLandmarks l;
  for (size_t i = 0; i < s.size(); ++i) {
    const int32_t v = s[i];
    const int64_t at = static_cast<int64_t>(i);
    // Maxima ascending: the new value goes to the last place whose value is
    // not above it, and the smallest drops out.
    int p = -1;
    for (int k = 0; k < 10; ++k)
      if (l.maxima[k].value <= v) p = k;
    if (p >= 0) {
      for (int k = 0; k < p; ++k) l.maxima[k] = l.maxima[k + 1];
      l.maxima[p] = {at, 0, v, 0};
    }
    p = -1;
    for (int k = 0; k < 10; ++k)
      if (l.minima[k].value >= v) p = k;
    if (p >= 0) {
      for (int k = 0; k < p; ++k) l.minima[k] = l.minima[k + 1];
      l.minima[p] = {at, 0, v, 0};
    }
    if (i < 2) continue;
    const int32_t a = s[i - 2], b = s[i - 1], c = s[i];
    const AudioLandmark e{at - 1, a, b, c};
    if (b > a && b > c) {
      const int32_t prom = std::min(b - a, b - c);
      for (int k = 0; k < 15; ++k) {
        if (PeakProminence(l.peaks[k]) < prom) {
          for (int j = 14; j > k; --j) l.peaks[j] = l.peaks[j - 1];
          l.peaks[k] = e;
          break;
        }
      }
    } else if (b < a && b < c) {
      const int32_t depth = std::max(b - a, b - c);
      for (int k = 0; k < 15; ++k) {
        if (ValleyDepth(l.valleys[k]) > depth) {
          for (int j = 14; j > k; --j) l.valleys[j] = l.valleys[j - 1];
          l.valleys[k] = e;
          break;
        }
      }
    }
  }
  return l;
}

int64_t DecideOffset(const AudioLandmarks& first, const AudioLandmarks& second) {
  auto extreme = [](const AudioLandmark& x) { return x.value != 0; };
  std::vector<Candidate> minima = Pair(first.minima, second.minima, extreme);
  std::vector<Candidate> maxima = Pair(first.maxima, second.maxima, extreme);
  CrossRemove(minima, maxima);
  const AudioLandmarks a = SortedByIndex(first), b = SortedByIndex(second);
  std::vector<Candidate> valleys =
      Pair(a.valleys, b.valleys, [](const AudioLandmark& x) { return ValleyDepth(x) < 0; });
  std::vector<Candidate> peaks =
      Pair(a.peaks, b.peaks, [](const AudioLandmark& x) { return PeakProminence(x) > 0; });
  CrossRemove(valleys, peaks);

  std::set<int64_t> maximaOffsets;
  int taken = 0;
  for (const Candidate& c : maxima) {
    if (!c.offset) continue;
    if (++taken > 100) break;
    maximaOffsets.insert(c.offset);
  }
  std::set<int64_t> matches;
  for (const Candidate& c : peaks)
    if (c.offset && maximaOffsets.count(c.offset)) matches.insert(c.offset);
  return matches.size() == 1 ? *matches.begin() : 0;
}

namespace {

// One side of the comparison: its table, engine and the excerpt read.
struct Side {
  OpenAviTable& table;
  ReadWave engine;
  std::vector<uint8_t> excerpt;
  uint64_t excerptSamples = 0;
  bool halfLater = false;  // read mode 0x2000
  explicit Side(OpenAviTable& t) : table(t), engine(t) {}

  std::string Name() const {
    const OpenAviFile* a = engine.AudioFile();
    return a ? a->szFileName : std::string();
  }
  bool Read(int64_t frame) {
    const double spf = engine.SamplesPerFrame();
    double start = static_cast<double>(frame - kExcerptFrames / 2) + (halfLater ? 0.5 : 0.0);
    int64_t first = static_cast<int64_t>(std::floor(start * spf + 0.5));
    return ReadSamples(engine, first, excerptSamples, &excerpt);
  }
};

}  // namespace

AudioCompareResult CompareAudioPosition(OpenAviTable& firstTable, OpenAviTable& secondTable, int64_t f1,
                                        int64_t f2, const AudioCompareOptions& options) {
  AudioCompareResult result;
  Side one(firstTable), two(secondTable);
  const int64_t count1 = firstTable.TotalFrames(), count2 = secondTable.TotalFrames();
  if (options.mode == 4) ++f1;
  if (options.mode == 5) ++f2;
  int64_t step;
  if (!options.sameFramePairing) {
    while (f1 + kMargin >= count1 && f1 > 0 && f2 > 0) --f1, --f2;
    step = -5;
  } else {
    int64_t shift = kMargin - std::min(f1, f2);
    f1 += shift;
    f2 += shift;
    step = 5;
  }
  if (f1 < kMargin || f2 < kMargin || f1 + kMargin >= count1 || f2 + kMargin >= count2) {
    Message(MB_OK | MB_ICONINFORMATION, "音声位置の比較には前後10フレームの余裕が必要です.");
    result.kind = AudioCompareResult::kNoRoom;
    return result;
  }

  Status(0, "音声位置比較中 ESC:中止");
  ME.fBusy = 1;
  ME.fAbort = 0;
  CurrentHost().PushBusyState({});
  struct EndBusy {
    ~EndBusy() {
      ME.fBusy = 0;
      CurrentHost().PopBusyState();
    }
  } endBusy;

  const WaveFormatEx wf1 = one.engine.Format(), wf2 = two.engine.Format();
  const double rate = firstTable.EffectiveFrameRate();
  one.halfLater = options.mode == 2 || options.mode == 3;
  two.halfLater = options.mode == 1 || options.mode == 3;
  try {
    for (Side* s : {&one, &two}) {
      const WaveFormatEx wf = s->engine.Format();
      double r = s->table.EffectiveFrameRate();
      double bytes =
          r > 0 ? std::floor(static_cast<double>(wf.nBlockAlign) * wf.nSamplesPerSec * 22 / r) : -1;
      if (!wf.nBlockAlign || bytes <= 0 || bytes > 1e9) throw std::bad_alloc();
      s->excerpt.reserve(static_cast<size_t>(bytes));
      s->excerptSamples = static_cast<uint64_t>(std::floor(kExcerptFrames * s->engine.SamplesPerFrame()));
    }
  } catch (const std::bad_alloc&) {
    Message(MB_OK | MB_ICONSTOP, "必要なメモリ(オーディオ比較用)が確保できません!");
    return result;
  }

  const int64_t start1 = f1, start2 = f2;
  int64_t base1 = f1, base2 = f2;  // where the current sweep began
  int64_t displacement = 0, d = 0;
  bool room[4] = {true, true, true, true};  // d > 0: F1, F2; d < 0: F1, F2
  if (options.sameFramePairing) room[1] = room[2] = false;
  for (;;) {
    for (Side* s : {&one, &two}) {
      if (!s->Read(s == &one ? f1 : f2)) {
        if (!ME.fAbort)
          Message(MB_OK | MB_ICONSTOP, nullptr, "%sからオーディオが読み出せません!", s->Name().c_str());
        return result;
      }
    }
    int64_t offset = DecideOffset(FindLandmarks(FirstChannel(one.excerpt, wf1, options.invertPolarity)),
                                  FindLandmarks(FirstChannel(two.excerpt, wf2, false)));
    if (offset != 0) {
      result.kind = AudioCompareResult::kFound;
      result.offset =
          offset + static_cast<int64_t>(static_cast<double>(displacement) * wf1.nSamplesPerSec / rate);
      break;
    }
    CurrentHost().Pump();
    if (ME.fAbort) {
      Status(0, "音声位置比較: 中止しました");
      result.kind = AudioCompareResult::kAborted;
      return result;
    }
    f1 += step;
    f2 += step;
    if (step < 0 && (f1 < kMargin || f2 < kMargin)) {
      step = 5;
      f1 = base1 + step;
      f2 = base2 + step;
    }
    if (f1 + kMargin < count1 && f2 + kMargin < count2) continue;
    // The sweep reached an end: try the starting pair displaced.
    bool found = false;
    while (!found && (room[0] || room[1] || room[2] || room[3])) {
      d = d > 0 ? -d : -d + 10;
      if (d > 0) {
        if (room[0] && start1 + d + kMargin < count1) {
          f1 = start1 + d, f2 = start2, found = true;
        } else {
          room[0] = false;
          if (room[1] && start2 - d >= kMargin)
            f1 = start1, f2 = start2 - d, found = true;
          else
            room[1] = false;
        }
      } else {
        if (room[2] && start1 + d >= kMargin) {
          f1 = start1 + d, f2 = start2, found = true;
        } else {
          room[2] = false;
          if (room[3] && start2 - d + kMargin < count2)
            f1 = start1, f2 = start2 - d, found = true;
          else
            room[3] = false;
        }
      }
    }
    if (!found) {
      Status(0, "音声位置比較: 判定できません");
      result.kind = AudioCompareResult::kNotDecided;
      return result;
    }
    displacement = d;
    base1 = f1;
    base2 = f2;
    step = options.sameFramePairing ? 5 : -5;
  }

  const double pos1 = static_cast<double>(start1) + (one.halfLater ? 0.5 : 0.0);
  const double pos2 = static_cast<double>(start2) + (two.halfLater ? 0.5 : 0.0);
  const long samples = static_cast<long>(std::llabs(result.offset));
  const double seconds = static_cast<double>(samples) / wf1.nSamplesPerSec;
  const double frames = seconds * rate;
  const char* word = result.offset < 0 ? "進んで" : "遅れて";
  const std::string name2 = two.Name();
  Status(0, "ﾌﾚｰﾑ%3.1lfの音声は%sに比べ%ldｻﾝﾌﾟﾙ/%3.1lfﾌﾚｰﾑ/%4.2lf秒%sいます", pos1, name2.c_str(), samples,
         frames, seconds, word);
  if (LogIsOpen())
    Log("[音声位置比較] %s "
        "%s/%8.1lfフレームの音声は%s/%8.1lfフレームの音声より%6ldサンプル/%3.1lfフレーム/"
        "%4.2lf秒%sいます\r\n",
        TimeStamp().c_str(), one.Name().c_str(), pos1, name2.c_str(), pos2, samples, frames, seconds, word);
  return result;
}
