#include "quendrix/WaveAdjust.h"

#include <sys/stat.h>
#include <sys/uio.h>
#include <immintrin.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/AppState.h"
#include "platform/CpuLevel.h"
#include "platform/Format.h"
#include "platform/Paths.h"
#include "platform/Riff.h"
#include "platform/RiffFormats.h"

const char kQuendrixCaption[] = "Quendrix";
// Small enough that a buffer is still in the cache when it is written out.
size_t gAdjustChunkBytes = 1u << 20;

namespace {

// A period buffer beyond this is refused as out of memory rather than tried:
// N / M in the billions would otherwise ask for gigabytes per block.
constexpr uint64_t kMaxBlockBytes = 512ull << 20;

// Largest data chunk whose RIFF size still fits in 32 bits.
uint64_t MaxDataBytes(uint32_t fmtSize) {
  uint64_t overhead = 4 + 8 + fmtSize + (fmtSize & 1) + 8 + 1;
  return 0xFFFFFFFFull - overhead;
}

void Show(const std::string& text) {
  CurrentHost().MessageBox(text, kQuendrixCaption, MB_ICONQUESTION);
}

struct Buffer {
  std::unique_ptr<uint8_t[]> p;
  size_t size = 0;
  bool Allocate(uint64_t n) {
    if (n > SIZE_MAX) return false;
    p.reset(new (std::nothrow) uint8_t[static_cast<size_t>(n)]);
    size = p ? static_cast<size_t>(n) : 0;
    return p != nullptr;
  }
};

// Reads the input's data a window ahead on a second thread, so that the copy
// into our memory overlaps the writing of the window before. The same thread
// also chooses the position in every whole block of the window while the data
// is still in its cache: that balances the two threads, the writing being the
// heavier side. Windows are whole blocks of `window` bytes (the last one
// shorter).
class ReadAhead {
 public:
  ReadAhead(RiffFile* in, size_t window, uint32_t k, uint32_t u, const SampleLayout& layout)
      : in_(in), window_(window), k_(k), u_(u), layout_(layout), blockBytes_(size_t{k} * layout.frameSize) {}
  ~ReadAhead() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    ready_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  bool Allocate() {
    if (!buf_[0].Allocate(window_) || !buf_[1].Allocate(window_)) return false;
    try {
      for (auto& c : choices_) c.resize(window_ / blockBytes_);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }
  // Bytes to read from the stream's position on; set before the first Next.
  void SetLength(uint64_t bytes) { left_ = bytes; }
  // The next window, or null when it could not be read, and the choice for
  // each of its whole blocks. The window returned before is given back:
  // nothing may point into it any more.
  const uint8_t* Next(size_t* size, const Choice** choices) {
    if (!started_) {
      started_ = true;
      try {
        thread_ = std::thread([this] { Fill(); });
      } catch (const std::system_error&) {
        // No second thread: read in turn.
      }
    }
    if (!thread_.joinable()) {
      size_t want = static_cast<size_t>(std::min<uint64_t>(left_, window_));
      left_ -= want;
      *size = want;
      if (!in_->ReadExact(buf_[0].p.get(), want)) return nullptr;
      ChooseAll(0, want);
      *choices = choices_[0].data();
      return buf_[0].p.get();
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (current_ >= 0) state_[current_] = kFree;
    ready_.notify_all();
    const int i = current_ = current_ < 0 ? 0 : current_ ^ 1;
    ready_.wait(lock, [&] { return state_[i] != kFree; });
    if (state_[i] == kFailed) return nullptr;
    *size = static_cast<size_t>(state_[i]);
    *choices = choices_[i].data();
    return buf_[i].p.get();
  }

 private:
  static constexpr int64_t kFree = -2, kFailed = -1;
  void ChooseAll(int i, size_t bytes) {
    for (size_t b = 0; b < bytes / blockBytes_; ++b)
      choices_[i][b] = ChoosePosition(buf_[i].p.get() + b * blockBytes_, k_, u_, layout_);
  }
  void Fill() {
    for (int i = 0;; i ^= 1) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&] { return stop_ || state_[i] == kFree; });
        if (stop_) return;
      }
      size_t want = static_cast<size_t>(std::min<uint64_t>(left_, window_));
      bool ok = in_->ReadExact(buf_[i].p.get(), want);
      if (ok) ChooseAll(i, want);
      left_ -= want;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        state_[i] = ok ? static_cast<int64_t>(want) : kFailed;
      }
      ready_.notify_all();
      if (!ok || left_ == 0) return;
    }
  }

  RiffFile* in_;
  uint64_t left_ = 0;  // touched by one side only: the filling thread once it runs
  const size_t window_;
  const uint32_t k_, u_;
  const SampleLayout layout_;
  const size_t blockBytes_;
  Buffer buf_[2];
  std::vector<Choice> choices_[2];
  std::thread thread_;
  bool started_ = false;
  std::mutex mutex_;
  std::condition_variable ready_;
  int64_t state_[2] = {kFree, kFree};  // bytes ready, or kFree / kFailed
  int current_ = -1;                   // the window the caller holds
  bool stop_ = false;
};

}  // namespace

uint32_t PeriodOf(uint32_t range, uint32_t dispose) {
  if (range == 0 || dispose == 0) return 0;
  // N / M + 0.5, truncated, in integers.
  return static_cast<uint32_t>((2ull * range + dispose) / (2ull * dispose));
}

const char* CheckPeriod(uint32_t range, uint32_t dispose) {
  if (range == 0 || dispose == 0) return "何サンプル毎に何サンプル処理するかを入力して下さい!";
  if (PeriodOf(range, dispose) <= 3) return "4以上のサンプル数毎に1サンプル処理されるように設定して下さい!";
  return nullptr;
}

int SampleLayout::Sample(const uint8_t* frame, unsigned ch) const {
  unsigned width = frameSize / channels;
  const uint8_t* slot = frame + ch * width;
  if (eightBit) return static_cast<int>(slot[width - 1]) - 128;
  return static_cast<int16_t>(GetLE16(slot + width - 2));
}

namespace {

// The plain scan, for any layout: the first choice from the top down, then
// the quietest frame. `get` reads the amplitude of a channel of a frame.
template <typename Get>
Choice ChooseWith(const uint8_t* block, uint32_t k, uint32_t u, uint32_t f, unsigned channels, Get get) {
  const int64_t low = u / 2;
  Choice best;
  uint64_t bestCost = UINT64_MAX;
  for (int64_t j = int64_t{k} - 2; j >= low; --j) {
    const uint8_t* p = block + static_cast<size_t>(j) * f;
    uint64_t cost = 0;
    bool ok = true;
    for (unsigned ch = 0; ch < channels; ++ch) {
      int a = get(p - f, ch), b = get(p, ch), c = get(p + f, ch);
      if (!((a < b && b <= c) || (a >= b && b >= c))) {
        ok = false;
        break;
      }
      cost += static_cast<uint64_t>(c > a ? c - a : a - c);
    }
    if (ok && cost < bestCost) {
      bestCost = cost;
      best.j = static_cast<uint32_t>(j);
      if (cost == 0) break;  // nothing lower can follow, and ties keep the larger j
    }
  }
  if (bestCost != UINT64_MAX) return best;

  best.fallback = true;
  for (int64_t j = int64_t{k} - 1; j >= low; --j) {
    const uint8_t* p = block + static_cast<size_t>(j) * f;
    uint64_t cost = 0;
    for (unsigned ch = 0; ch < channels; ++ch) {
      int64_t s = get(p, ch);
      cost += static_cast<uint64_t>(s * s);
    }
    if (cost < bestCost) {
      bestCost = cost;
      best.j = static_cast<uint32_t>(j);
      if (cost == 0) break;
    }
  }
  return best;
}

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the 16-bit fast path reads samples in the host's byte order"
#endif
typedef int16_t __attribute__((may_alias)) Int16Alias;

// 16-bit PCM with C channels: the first choice in two straight passes the
// compiler vectorises. Each sample gets |s[j+1] - s[j-1]| when its channel is
// monotonic through j, else a mark larger than any sum of C good values; the
// frame costs are the sums, and the winner is the largest j at the minimum.
// Same result as ChooseWith, which remains the reference and the fall-back.
template <unsigned C>
inline __attribute__((always_inline)) Choice Choose16(const uint8_t* block, uint32_t k, uint32_t u,
                                                      const SampleLayout& layout) {
  constexpr uint32_t kBad = 1u << 17;        // > C * 65535 for C <= 2
  const uint32_t low = u / 2, high = k - 2;  // candidates low..high
  if (high < low)
    return ChooseWith(block, k, u, C * 2, C,
                      [&layout](const uint8_t* p, unsigned ch) { return layout.Sample(p, ch); });
  // One pass over the candidates: the cost of frame j, or a mark larger than
  // any sum of C good values when a channel is not monotonic through j.
  // Indexes are size_t from base pointers, so the vectoriser sees plain strides.
  const size_t n = high - low + 1;
  thread_local std::vector<uint32_t> work;
  if (work.size() < n) work.resize(n);
  uint32_t* __restrict w = work.data();
  const Int16Alias* __restrict x = reinterpret_cast<const Int16Alias*>(block) + static_cast<size_t>(low) * C;
  const Int16Alias* __restrict before = x - C;
  const Int16Alias* __restrict after = x + C;
  uint32_t best = UINT32_MAX;
  for (size_t j = 0; j < n; ++j) {
    uint32_t cost = 0, bad = 0;
    for (unsigned ch = 0; ch < C; ++ch) {
      int a = before[j * C + ch], b = x[j * C + ch], c = after[j * C + ch];
      bool mono = ((a < b) & (b <= c)) | ((a >= b) & (b >= c));
      bad |= !mono;
      cost += static_cast<uint32_t>(c > a ? c - a : a - c);
    }
    cost = bad ? kBad : cost;
    w[j] = cost;
    best = cost < best ? cost : best;
  }
  if (best >= kBad)
    return ChooseWith(block, k, u, C * 2, C,
                      [&layout](const uint8_t* p, unsigned ch) { return layout.Sample(p, ch); });
  size_t j = n - 1;
  while (w[j] != best) --j;
  return Choice{low + static_cast<uint32_t>(j), false};
}

// The loops above, compiled for the baseline and for AVX2: for processors
// without the kernels below and for short blocks.
template <unsigned C>
Choice Choose16Plain(const uint8_t* block, uint32_t k, uint32_t u, const SampleLayout& layout) {
  return Choose16<C>(block, k, u, layout);
}
template <unsigned C>
__attribute__((target("avx2"))) Choice Choose16Avx2(const uint8_t* block, uint32_t k, uint32_t u,
                                                    const SampleLayout& layout) {
  return Choose16<C>(block, k, u, layout);
}

// The running minimum of the hand-written kernels: per lane the least cost
// seen and the largest frame index reaching it (later frames replace equal
// ones, so ties go to the larger j without a second pass).
struct LaneBest {
  alignas(64) uint32_t cost[16];
  alignas(64) uint32_t at[16];
};
// The overall minimum of `lanes` lanes and the largest frame reaching it.
// Lanes may have seen a frame twice (the overlapping last step): harmless.
inline void Reduce(const LaneBest& l, unsigned lanes, uint32_t* cost, uint32_t* at) {
  uint32_t c = UINT32_MAX, j = 0;
  for (unsigned i = 0; i < lanes; ++i) {
    if (l.cost[i] < c || (l.cost[i] == c && l.at[i] > j)) c = l.cost[i], j = l.at[i];
  }
  *cost = c;
  *at = j;
}

// Bad frames get their cost ORed with the bad mask shifted up: at least 2^17
// whichever channel failed, above any sum of two good values (<= 2 * 65535).
constexpr uint32_t kBad16 = 1u << 17;

// 16-bit stereo, 8 frames per step; frames x[0 .. n-1], n >= 8.
__attribute__((target("avx2"))) void Stereo16Avx2(const Int16Alias* x, size_t n, LaneBest* out) {
  const __m256i low16 = _mm256_set1_epi32(0xFFFF);
  __m256i best = _mm256_set1_epi32(-1), at = _mm256_setzero_si256();
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  // The last step overlaps the one before instead of handling a remainder.
  for (size_t i = 0; i < n; i += 8) {
    const size_t j = std::min(i, n - 8);
    const Int16Alias* p = x + j * 2;
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p - 2));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2));
    // Not monotonic: a < b > c, or a >= b < c.
    __m256i rising = _mm256_cmpgt_epi16(b, a);
    __m256i bad = _mm256_blendv_epi8(_mm256_cmpgt_epi16(c, b), _mm256_cmpgt_epi16(b, c), rising);
    // |c - a| exactly, as an unsigned 16-bit max - min.
    __m256i d = _mm256_sub_epi16(_mm256_max_epi16(a, c), _mm256_min_epi16(a, c));
    __m256i sum = _mm256_add_epi32(_mm256_and_si256(d, low16), _mm256_srli_epi32(d, 16));
    __m256i cost = _mm256_or_si256(sum, _mm256_slli_epi32(bad, 2));
    best = _mm256_min_epu32(best, cost);
    __m256i idx = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(j)), lane);
    at = _mm256_blendv_epi8(at, idx, _mm256_cmpeq_epi32(cost, best));
  }
  _mm256_store_si256(reinterpret_cast<__m256i*>(out->cost), best);
  _mm256_store_si256(reinterpret_cast<__m256i*>(out->at), at);
}

// The same, 16 frames per step; n >= 16.
__attribute__((target("avx512f,avx512bw"))) void Stereo16Avx512(const Int16Alias* x, size_t n,
                                                                LaneBest* out) {
  const __m512i low16 = _mm512_set1_epi32(0xFFFF);
  __m512i best = _mm512_set1_epi32(-1), at = _mm512_setzero_si512();
  const __m512i lane = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  for (size_t i = 0; i < n; i += 16) {
    const size_t j = std::min(i, n - 16);
    const Int16Alias* p = x + j * 2;
    __m512i a = _mm512_loadu_si512(p - 2), b = _mm512_loadu_si512(p), c = _mm512_loadu_si512(p + 2);
    __mmask32 rising = _mm512_cmpgt_epi16_mask(b, a);
    __mmask32 bad = _mm512_mask_cmpgt_epi16_mask(rising, b, c) | _mm512_mask_cmpgt_epi16_mask(~rising, c, b);
    __m512i d = _mm512_sub_epi16(_mm512_max_epi16(a, c), _mm512_min_epi16(a, c));
    // Zero-masked shifts with a full mask: the plain ones draw a false
    // -Wmaybe-uninitialized from GCC 12's headers.
    __m512i sum = _mm512_add_epi32(_mm512_and_si512(d, low16), _mm512_maskz_srli_epi32(0xFFFF, d, 16));
    __m512i cost = _mm512_or_si512(sum, _mm512_maskz_slli_epi32(0xFFFF, _mm512_movm_epi16(bad), 2));
    __mmask16 le = _mm512_cmple_epu32_mask(cost, best);
    best = _mm512_mask_mov_epi32(best, le, cost);
    at = _mm512_mask_mov_epi32(at, le, _mm512_add_epi32(_mm512_set1_epi32(static_cast<int>(j)), lane));
  }
  _mm512_store_si512(out->cost, best);
  _mm512_store_si512(out->at, at);
}

// 16-bit mono, 16 frames per step; n >= 16. The 16-bit |c - a| is widened
// with the bad mask as its upper half, so a bad frame costs at least 2^16.
__attribute__((target("avx2"))) void Mono16Avx2(const Int16Alias* x, size_t n, LaneBest* out) {
  __m256i best = _mm256_set1_epi32(-1), at = _mm256_setzero_si256();
  // Frames of the unpacked halves: 0-3 and 8-11 in the low, 4-7 and 12-15 in the high.
  const __m256i laneLo = _mm256_setr_epi32(0, 1, 2, 3, 8, 9, 10, 11);
  const __m256i laneHi = _mm256_setr_epi32(4, 5, 6, 7, 12, 13, 14, 15);
  for (size_t i = 0; i < n; i += 16) {
    const size_t j = std::min(i, n - 16);
    const Int16Alias* p = x + j;
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p - 1));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
    __m256i rising = _mm256_cmpgt_epi16(b, a);
    __m256i bad = _mm256_blendv_epi8(_mm256_cmpgt_epi16(c, b), _mm256_cmpgt_epi16(b, c), rising);
    __m256i d = _mm256_sub_epi16(_mm256_max_epi16(a, c), _mm256_min_epi16(a, c));
    __m256i base = _mm256_set1_epi32(static_cast<int>(j));
    __m256i lo = _mm256_unpacklo_epi16(d, bad), hi = _mm256_unpackhi_epi16(d, bad);
    best = _mm256_min_epu32(best, lo);
    at = _mm256_blendv_epi8(at, _mm256_add_epi32(base, laneLo), _mm256_cmpeq_epi32(lo, best));
    best = _mm256_min_epu32(best, hi);
    at = _mm256_blendv_epi8(at, _mm256_add_epi32(base, laneHi), _mm256_cmpeq_epi32(hi, best));
  }
  _mm256_store_si256(reinterpret_cast<__m256i*>(out->cost), best);
  _mm256_store_si256(reinterpret_cast<__m256i*>(out->at), at);
}

// 16-bit stereo or mono: a kernel when the processor has one and the block
// has enough candidates, else the loops above.
template <unsigned C>
Choice Choose16Fast(const uint8_t* block, uint32_t k, uint32_t u, const SampleLayout& layout) {
  const VectorLevel level = CpuLevel();
  const uint32_t low = u / 2;
  const size_t n = k - 2 >= low ? k - 2 - low + 1 : 0;
  const Int16Alias* x = reinterpret_cast<const Int16Alias*>(block) + static_cast<size_t>(low) * C;
  LaneBest lanes;
  unsigned count = 0;
  if (C == 2 && level >= VectorLevel::Avx512Bw && n >= 16) {
    Stereo16Avx512(x, n, &lanes);
    count = 16;
  } else if (C == 2 && level >= VectorLevel::Avx2 && n >= 8) {
    Stereo16Avx2(x, n, &lanes);
    count = 8;
  } else if (C == 1 && level >= VectorLevel::Avx2 && n >= 16) {
    Mono16Avx2(x, n, &lanes);
    count = 8;
  }
  if (!count)
    return level >= VectorLevel::Avx2 ? Choose16Avx2<C>(block, k, u, layout)
                                      : Choose16Plain<C>(block, k, u, layout);
  uint32_t cost, at;
  Reduce(lanes, count, &cost, &at);
  if (cost >= (C == 2 ? kBad16 : 1u << 16))
    return ChooseWith(block, k, u, C * 2, C,
                      [&layout](const uint8_t* p, unsigned ch) { return layout.Sample(p, ch); });
  return Choice{low + at, false};
}

}  // namespace

Choice ChoosePosition(const uint8_t* block, uint32_t k, uint32_t u, const SampleLayout& layout) {
  const uint32_t f = layout.frameSize;
  const unsigned channels = layout.channels;
  if (!layout.eightBit && f == 4 && channels == 2) return Choose16Fast<2>(block, k, u, layout);
  if (!layout.eightBit && f == 2 && channels == 1) return Choose16Fast<1>(block, k, u, layout);
  return ChooseWith(block, k, u, f, channels,
                    [&layout](const uint8_t* p, unsigned ch) { return layout.Sample(p, ch); });
}

// The plain scan over every layout; kept callable for the tests.
Choice ChoosePositionPlain(const uint8_t* block, uint32_t k, uint32_t u, const SampleLayout& layout) {
  return ChooseWith(block, k, u, layout.frameSize, layout.channels,
                    [&layout](const uint8_t* p, unsigned ch) { return layout.Sample(p, ch); });
}

std::string ListLine(uint64_t position, bool fallback, const uint8_t* frame, const SampleLayout& layout) {
  char mark = fallback ? '*' : ' ';
  auto pos = static_cast<unsigned long>(position);
  auto left = static_cast<short>(layout.Sample(frame, 0));
  if (layout.channels >= 2)
    return Fmt("%9lu%c %6hd %6hd", pos, mark, left, static_cast<short>(layout.Sample(frame, 1)));
  return Fmt("%9lu%c %6hd", pos, mark, left);
}

std::string OutputName(const std::string& inputPath, bool extend) {
  std::string name = FileNamePart(inputPath);
  if (name.size() > 3 && EndsWithNoCase(name, ".wav")) name.resize(name.size() - 4);
  return name + Fmt("%c.wav", extend ? '+' : '-');
}

std::string LogName(const std::string& outputPath) {
  bool hasDot = false;
  std::string ext = ExtensionPart(outputPath, &hasDot);
  if (hasDot && EqualsNoCase(ext, "wav")) return outputPath.substr(0, outputPath.size() - ext.size()) + "log";
  return outputPath + ".log";
}

namespace {

// One run, from the input's headers to the closed output.
class Run {
 public:
  Run(const std::string& input, const AdjustOptions& options, AdjustSession* session,
      const AdjustCallbacks& callbacks)
      : input_(input), opt_(options), session_(session), cb_(callbacks) {}

  AdjustStatus Go();

 private:
  AdjustStatus Fail(const std::string& text) {
    message_ = text;
    return AdjustStatus::Failed;
  }
  AdjustStatus OpenInput();
  bool ChooseOutput();
  AdjustStatus CreateOutput();
  AdjustStatus Process();
  enum class LoopEnd { Done, ReadFailed, WriteFailed, TooLarge, Aborted };
  LoopEnd Loop();
  uint8_t* Stage(size_t n);
  void Emit(const uint8_t* p, size_t n);
  bool Flush();

  std::string input_, output_;
  AdjustOptions opt_;
  AdjustSession* session_;
  const AdjustCallbacks& cb_;
  std::string message_;

  RiffFile in_, out_;
  std::string fmt_;
  SampleLayout layout_;
  uint32_t u_ = 0, k_ = 0;
  uint64_t dataSize_ = 0;              // bytes to process (what the file really holds)
  uint64_t declaredSize_ = 0;          // the data chunk's own size
  std::unique_ptr<ReadAhead> reader_;  // owns the input stream while the data is read
  Buffer outBuf_;
  ChunkInfo riffOut_, dataOut_;
  bool outputStarted_ = false;  // the data chunk exists: close it whatever happens
  uint64_t written_ = 0;        // data bytes that reached the output
  bool tooLarge_ = false;

  // Output side: where the data starts, the pieces waiting to be written
  // (in the input buffer or the staging buffer) and the staging fill.
  uint64_t dataStart_ = 0;
  std::vector<iovec> pieces_;
  size_t staged_ = 0;
};

AdjustStatus Run::OpenInput() {
  const char* path = input_.c_str();
  // Only regular files: a device such as /dev/zero would be searched for
  // chunks for ever.
  struct stat st;
  if (stat(path, &st) != 0 || !S_ISREG(st.st_mode) || !in_.Open(input_, RiffFile::ModeRead, 64 << 10))
    return Fail(Fmt("%sがオープンできません!", path));
  const uint64_t fileSize = in_.Size();
  ChunkInfo riff;
  riff.fccType = FourCC("WAVE");
  if (!in_.Descend(&riff, nullptr, kFindRiff)) return Fail(Fmt("%sはWAVEファイルではありません!", path));
  // The chunks are searched up to the end of the file: writers that could not
  // seek back leave the RIFF size at 0 or at its maximum.
  ChunkInfo scope = riff;
  scope.cksize = static_cast<uint32_t>(std::min<uint64_t>(0xFFFFFFFFu, fileSize - riff.dwDataOffset));

  ChunkInfo fmt;
  fmt.ckid = FourCC("fmt ");
  if (!in_.Descend(&fmt, &scope, kFindChunk)) return Fail(Fmt("%sはfmtチャンクがありません!", path));
  // A format chunk this large is damage, not a format.
  if (fmt.End() > fileSize || fmt.cksize > kMaxFormatChunk)
    return Fail(Fmt("%sのfmt読み出しに失敗しました!", path));
  try {
    fmt_.resize(fmt.cksize);
  } catch (const std::bad_alloc&) {
    return Fail("メモリが確保できません.");
  }
  if (!in_.ReadExact(fmt_.data(), fmt_.size())) return Fail(Fmt("%sのfmt読み出しに失敗しました!", path));
  if (fmt_.size() < 14) return Fail(Fmt("%sのfmtチャンクが短すぎます(%zuバイト)!", path, fmt_.size()));

  const WaveFormatEx wf = ParseWaveFormat(reinterpret_cast<const uint8_t*>(fmt_.data()), fmt_.size());
  const uint16_t channels = wf.nChannels;
  const uint32_t rate = wf.nSamplesPerSec;
  const uint32_t avgBytes = wf.nAvgBytesPerSec;
  const uint16_t blockAlign = wf.nBlockAlign;
  const uint32_t f = rate ? avgBytes / rate : 0;
  // Frames are cut at f bytes; a frame size that disagrees with the block
  // alignment, or has less than a byte per channel, would cut through samples.
  if (channels == 0 || rate == 0 || blockAlign == 0 || f == 0 || f != blockAlign || f < channels)
    return Fail(Fmt("%sは処理できない形式です(チャンネル数 %u, ブロックサイズ %u, 毎秒 %u/%uバイト)!", path,
                    channels, blockAlign, avgBytes, rate));
  layout_.frameSize = f;
  layout_.channels = channels;
  layout_.eightBit = f / channels < 2;

  const uint64_t blockBytes = static_cast<uint64_t>(f) * (u_ + 1ull);
  const uint64_t kBytes = static_cast<uint64_t>(k_) * f;
  const uint64_t blocks = std::max<uint64_t>(1, gAdjustChunkBytes / kBytes);
  if (blockBytes <= kMaxBlockBytes)
    reader_ = std::make_unique<ReadAhead>(&in_, static_cast<size_t>(blocks * kBytes), k_, u_, layout_);
  if (!reader_ || !reader_->Allocate() || !outBuf_.Allocate(blocks * static_cast<uint64_t>(u_) * f))
    return Fail("メモリが確保できません.");

  if (!in_.Ascend(&fmt)) return Fail(Fmt("%sはdataチャンクがありません!", path));
  ChunkInfo data;
  data.ckid = FourCC("data");
  if (!in_.Descend(&data, &scope, kFindChunk)) return Fail(Fmt("%sはdataチャンクがありません!", path));
  declaredSize_ = data.cksize;
  dataSize_ = std::min<uint64_t>(data.cksize, fileSize - data.dwDataOffset);
  return AdjustStatus::Ok;
}

bool Run::ChooseOutput() {
  if (session_->outputDir.empty()) session_->outputDir = DirectoryPart(input_);
  FileDialogRequest request;
  request.title = opt_.extend ? "WAVE延長保存ファイル名入力" : "WAVE短縮保存ファイル名入力";
  request.initialDir = session_->outputDir;
  request.initialName = OutputName(input_, opt_.extend);
  request.filters = {{"WAVEファイル", "*.wav"}};
  request.save = true;
  request.overwritePrompt = true;
  request.settingsKind = "Wave";
  std::string chosen;
  bool ok;
  if (cb_.chooseOutput) {
    ok = cb_.chooseOutput(request, &chosen);
  } else {
    std::vector<std::string> paths;
    ok = CurrentHost().ChooseFiles(request, &paths) && !paths.empty();
    if (ok) chosen = paths.front();
  }
  if (!ok || chosen.empty()) return false;
  output_ = chosen;
  std::string dir = DirectoryPart(output_);
  if (!dir.empty()) session_->outputDir = dir;
  return true;
}

AdjustStatus Run::CreateOutput() {
  const char* path = output_.c_str();
  // Creating the output truncates it: the input must never be the one.
  if (SameFile(input_, output_))
    return Fail(Fmt("%sは入力ファイルと同じです。別のファイル名を指定して下さい!", path));
  session_->lastOutput = output_;
  if (!out_.Open(output_, RiffFile::ModeCreate, 64 << 10)) return Fail(Fmt("%sが作成できません!", path));
  riffOut_.fccType = FourCC("WAVE");
  if (!out_.CreateChunk(&riffOut_, kCreateRiff)) return Fail(Fmt("%sにRIFFチャンクを作成できません!", path));
  ChunkInfo fmt;
  fmt.ckid = FourCC("fmt ");
  if (!out_.CreateChunk(&fmt, 0)) return Fail(Fmt("%sにfmtチャンクを作成できません!", path));
  if (!out_.Write(fmt_.data(), fmt_.size()) || !out_.Ascend(&fmt))
    return Fail(Fmt("%sのfmt書き込みに失敗しました!", path));
  dataOut_.ckid = FourCC("data");
  if (!out_.CreateChunk(&dataOut_, 0)) return Fail(Fmt("%sにdataチャンクを作成できません!", path));
  outputStarted_ = true;
  return AdjustStatus::Ok;
}

namespace {
// Pieces shorter than this are copied into the staging buffer rather than
// written from where they lie.
constexpr size_t kMinDirect = 512;
constexpr size_t kMaxPieces = 512;
}  // namespace

// Appends n bytes at the end of the staging buffer to the output and returns
// where they go.
uint8_t* Run::Stage(size_t n) {
  uint8_t* dst = outBuf_.p.get() + staged_;
  if (!pieces_.empty() && static_cast<uint8_t*>(pieces_.back().iov_base) + pieces_.back().iov_len == dst)
    pieces_.back().iov_len += n;
  else
    pieces_.push_back({dst, n});
  staged_ += n;
  return dst;
}

// Appends bytes of the input to the output, written from where they lie.
void Run::Emit(const uint8_t* p, size_t n) {
  if (!n) return;
  if (n < kMinDirect) {
    std::memcpy(Stage(n), p, n);
    return;
  }
  if (!pieces_.empty() && static_cast<const uint8_t*>(pieces_.back().iov_base) + pieces_.back().iov_len == p)
    pieces_.back().iov_len += n;
  else
    pieces_.push_back({const_cast<uint8_t*>(p), n});
}

// Writes the pending pieces; stops short (and flags it) where the RIFF sizes
// would no longer fit in 32 bits.
bool Run::Flush() {
  uint64_t pending = 0;
  for (const iovec& v : pieces_) pending += v.iov_len;
  const uint64_t room = MaxDataBytes(static_cast<uint32_t>(fmt_.size())) - written_;
  if (pending > room) {
    uint64_t keep = room - room % layout_.frameSize;
    for (size_t i = 0; i < pieces_.size(); ++i) {
      if (keep < pieces_[i].iov_len) {
        pieces_[i].iov_len = static_cast<size_t>(keep);
        pieces_.resize(i + 1);
        break;
      }
      keep -= pieces_[i].iov_len;
    }
    tooLarge_ = true;
  }
  bool ok = true;
  size_t i = 0;
  while (i < pieces_.size()) {
    int count = static_cast<int>(std::min<size_t>(pieces_.size() - i, IOV_MAX));
    ssize_t n = pwritev(out_.Descriptor(), &pieces_[i], count, static_cast<off_t>(dataStart_ + written_));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    written_ += static_cast<uint64_t>(n);
    for (size_t done = static_cast<size_t>(n); done && i < pieces_.size();) {
      iovec& v = pieces_[i];
      if (done >= v.iov_len) {
        done -= v.iov_len;
        ++i;
      } else {
        v.iov_base = static_cast<uint8_t*>(v.iov_base) + done;
        v.iov_len -= done;
        done = 0;
      }
    }
  }
  pieces_.clear();
  staged_ = 0;
  return ok;
}

Run::LoopEnd Run::Loop() {
  const uint64_t f = layout_.frameSize;
  const uint64_t kBytes = k_ * f, uBytes = u_ * f;
  int64_t inRemaining = static_cast<int64_t>(dataSize_);
  int64_t outRemaining = inRemaining;
  uint64_t c = 0;
  const uint8_t* window = nullptr;
  const Choice* choices = nullptr;
  size_t inPos = 0, inAvail = 0;
  const bool keep = opt_.keepSize;
  reader_->SetLength(dataSize_);

  while (keep ? outRemaining > 0 : inRemaining > 0) {
    if (inPos == inAvail && inRemaining > 0) {
      // The pieces of the old window go out before it is replaced. Windows
      // hold whole blocks, so a block never straddles two.
      if (!Flush()) return LoopEnd::WriteFailed;
      if (tooLarge_) return LoopEnd::TooLarge;
      window = reader_->Next(&inAvail, &choices);
      if (!window) return LoopEnd::ReadFailed;
      inPos = 0;
    }
    if (pieces_.size() + 3 > kMaxPieces || staged_ + uBytes > outBuf_.size) {
      if (!Flush()) return LoopEnd::WriteFailed;
      if (tooLarge_) return LoopEnd::TooLarge;
    }
    const uint8_t* block = window + inPos;
    const size_t r = static_cast<size_t>(std::min<uint64_t>(kBytes, inRemaining));
    size_t t;
    if (static_cast<uint64_t>(inRemaining) < kBytes ||
        (keep && static_cast<uint64_t>(outRemaining) < uBytes)) {
      // No change in this block: copied as read, or padded / cut to the input's length.
      t = keep ? static_cast<size_t>(std::min<uint64_t>(outRemaining, uBytes)) : r;
      size_t copy = std::min(r, t);
      Emit(block, copy);
      if (t > copy) std::memset(Stage(t - copy), 0, t - copy);
    } else {
      const Choice choice = choices[inPos / kBytes];
      const size_t at = choice.j * f;
      if (cb_.addLine) cb_.addLine(ListLine(c * u_ + choice.j, choice.fallback, block + at, layout_));
      if (opt_.extend) {
        // Frames 0..j, frame j again, then the rest.
        Emit(block, at + f);
        Emit(block + at, kBytes - at);
        t = uBytes;
      } else {
        Emit(block, at);
        Emit(block + at + f, kBytes - at - f);
        t = uBytes - f;
      }
    }
    ++c;
    outRemaining -= static_cast<int64_t>(t);
    inRemaining -= static_cast<int64_t>(r);
    inPos += r;
    if (PumpAndTestAbort()) {
      if (!Flush()) return LoopEnd::WriteFailed;
      return tooLarge_ ? LoopEnd::TooLarge : LoopEnd::Aborted;
    }
  }
  if (!Flush()) return LoopEnd::WriteFailed;
  return tooLarge_ ? LoopEnd::TooLarge : LoopEnd::Done;
}

AdjustStatus Run::Process() {
  // The data goes out through the descriptor, behind the buffered headers.
  if (!out_.Flush() || out_.Tell() < 0) return Fail(Fmt("%sのdata書き込みに失敗しました!", output_.c_str()));
  dataStart_ = static_cast<uint64_t>(out_.Tell());
  LoopEnd end = Loop();
  pieces_.clear();
  reader_.reset();  // stops the reading thread before anything else touches the input

  // The stream's position is where the data chunk ends, for its size fix-up.
  if (out_.Seek(static_cast<int64_t>(dataStart_ + written_)) < 0 && end == LoopEnd::Done)
    end = LoopEnd::WriteFailed;
  switch (end) {
    case LoopEnd::Done:
      return AdjustStatus::Ok;
    case LoopEnd::ReadFailed:
      return Fail(Fmt("%sのdata読み出しに失敗しました!", input_.c_str()));
    case LoopEnd::WriteFailed:
      return Fail(Fmt("%sのdata書き込みに失敗しました!", output_.c_str()));
    case LoopEnd::TooLarge:
      return Fail(Fmt("%sが4GBを超えるため、途中で打ち切りました!", output_.c_str()));
    case LoopEnd::Aborted:
      break;
  }
  message_ = "中止されました.";
  return AdjustStatus::Aborted;
}

AdjustStatus Run::Go() {
  if (const char* refusal = CheckPeriod(opt_.range, opt_.dispose)) {
    Show(refusal);
    return AdjustStatus::Refused;
  }
  u_ = PeriodOf(opt_.range, opt_.dispose);
  k_ = u_ - (opt_.extend ? 1 : 0);
  ME.fAbort = 0;

  AdjustStatus status = OpenInput();
  if (status == AdjustStatus::Ok && !ChooseOutput()) {
    message_ = "出力ファイル名の入力がキャンセルされました!";
    status = AdjustStatus::Failed;
  }
  if (status == AdjustStatus::Ok) status = CreateOutput();
  if (status == AdjustStatus::Ok) status = Process();

  if (outputStarted_) {
    // Close the chunks on every path, so even a stopped run leaves a valid file.
    bool closed = out_.Ascend(&dataOut_) && out_.Ascend(&riffOut_);
    closed = out_.Close() && closed;
    if (!closed && status == AdjustStatus::Ok)
      status = Fail(Fmt("%sのdata書き込みに失敗しました!", output_.c_str()));
  } else if (out_.IsOpen()) {
    // Not even the headers made it: what is there is no WAVE file.
    out_.Close();
    unlink(output_.c_str());
  }
  in_.Close();

  if (status == AdjustStatus::Ok && dataSize_ < declaredSize_) {
    status = Fail(
        Fmt("%sのdataチャンクはファイルの終わりで切れています(%llu/%lluバイト)。ある分だけを処理しました!",
            input_.c_str(), static_cast<unsigned long long>(dataSize_),
            static_cast<unsigned long long>(declaredSize_)));
  }
  if (status == AdjustStatus::Ok)
    CurrentHost().Beep();
  else
    Show(message_);
  return status;
}

}  // namespace

AdjustStatus AdjustWave(const std::string& inputPath, const AdjustOptions& options, AdjustSession* session,
                        const AdjustCallbacks& callbacks) {
  AdjustSession local;
  Run run(inputPath, options, session ? session : &local, callbacks);
  return run.Go();
}
