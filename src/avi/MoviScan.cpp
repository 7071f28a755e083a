// The AVI reader's scan: RebuildAviIndex walks the chunk headers of the whole
// file (several RIFF parts side by side on threads of their own) and, when
// asked, has the result written back as the file's idx1.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "avi/AviReader.h"
#include "avi/AviReaderInternal.h"
#include "avi/IndexWriteBack.h"
#include "platform/AppState.h"
#include "platform/Host.h"
#include "platform/Messages.h"

namespace {

using namespace avi_reader;

// Reads chunk headers at arbitrary positions with few system calls and
// little copying of the data between them.
class HeaderReader {
 public:
  HeaderReader(int fd, uint64_t fileSize)
      : fd_(fd), buf_(static_cast<size_t>(std::clamp<uint64_t>(fileSize, kMinWindow, kMaxWindow))) {}
  // Copies up to 12 bytes at `pos`; returns how many are there.
  size_t Get(uint64_t pos, uint8_t* out) {
    if (pos < start_ || pos + 12 > start_ + len_) {
      // Copying file data we jump over costs as much as system calls, so the
      // window follows the layout: it grows while headers run on past its
      // end (many small chunks) and shrinks while a big chunk leaves most of
      // it unread (audio between frames, DV).
      if (len_ == window_ && pos >= start_ && pos < start_ + 2 * len_)
        window_ = std::min(window_ * 2, buf_.size());
      else if (len_ && (lastPos_ + 12 - start_) * 4 < len_)
        window_ = std::max(window_ / 2, kMinWindow);
      ssize_t got = pread(fd_, buf_.data(), std::min(window_, buf_.size()), static_cast<off_t>(pos));
      start_ = pos;
      len_ = got > 0 ? static_cast<size_t>(got) : 0;
    }
    lastPos_ = pos;
    size_t have = std::min<uint64_t>(12, start_ + len_ - pos);
    std::memcpy(out, &buf_[pos - start_], have);
    return have;
  }

 private:
  static constexpr size_t kMinWindow = 4096, kMaxWindow = 256 << 10;
  int fd_;
  std::vector<uint8_t> buf_;
  size_t window_ = 16384;
  uint64_t start_ = 0, lastPos_ = 0;
  size_t len_ = 0;
};

// What the walk over one stretch of the file found, and why it stopped.
struct ScanPiece {
  std::vector<FrameIndexEntry> video, audio;
  std::vector<uint8_t> idx1;  // entries for a rewritten idx1
  bool idx1Expressible = true;
  uint64_t samples = 0;
  enum Stop { kEnd, kLimit, kCut, kTooLarge, kOffset, kAborted, kNoMemory } stop = kEnd;
  uint64_t end = 0;  // the header the walk stopped at
  uint32_t bigId = 0, bigSize = 0;
  const char* noMemory = nullptr;  // the message naming the index that could not grow
};

struct ScanSetup {
  int fd;
  const char* path;  // for the threads' descriptors of their own
  uint64_t size, moviPos;
  char cv, ca;
  bool pcm;
  uint32_t blockAlign;
  bool writeBack;
};

// Walks the chunk headers from `pos` as one walk over the file does, until a
// header lies at or past `limit` (kLimit) or the walk ends otherwise. `tick`
// runs after each chunk that is not a list entered, with the chunk's
// position; false stops the walk (kAborted).
template <class Tick>
void ScanChunks(const ScanSetup& s, uint64_t pos, uint64_t limit, ScanPiece& out, Tick&& tick) {
  const char* growing = nullptr;
  try {
    HeaderReader reader(s.fd, s.size);
    for (;;) {
      out.end = pos;
      if (pos >= limit) {
        out.stop = ScanPiece::kLimit;
        return;
      }
      uint8_t h[12];
      size_t got = reader.Get(pos, h);
      if (got < 8) {
        out.stop = ScanPiece::kEnd;
        return;
      }
      uint32_t id = GetLE32(h), sz = GetLE32(h + 4);
      // Frames grouped in 'rec ' lists and the movi lists of further RIFF
      // parts are read inside.
      if (got == 12 &&
          ((id == FourCC("LIST") && (GetLE32(h + 8) == FourCC("rec ") || GetLE32(h + 8) == FourCC("movi"))) ||
           (id == FourCC("RIFF") && GetLE32(h + 8) == FourCC("AVIX")))) {
        pos += 12;
        continue;
      }
      bool isVideo = IsVideoId(id, s.cv), isAudio = !isVideo && IsAudioId(id, s.ca);
      if (isVideo || isAudio) {
        if (sz >= kMaxChunkSize) {
          out.stop = ScanPiece::kTooLarge;
          out.bigId = id;
          out.bigSize = sz;
          return;
        }
        // A chunk cut by the end of the file holds no whole frame.
        if (pos + 8 + sz > s.size) {
          out.stop = ScanPiece::kCut;
          return;
        }
        if (pos + 8 >= kMaxOffset) {
          out.stop = ScanPiece::kOffset;
          return;
        }
        if (isVideo) {
          growing = "必要なメモリ(ビデオインデックス用)が確保できません!";
          out.video.push_back(MakeIndexEntry(pos + 8, sz, Ch(id, 3) == 'c', false));
        } else {
          growing = "必要なメモリ(オーディオインデックス用)が確保できません!";
          out.audio.push_back(MakeIndexEntry(pos + 8, sz, false, false));
          out.samples += s.pcm ? (s.blockAlign ? sz / s.blockAlign : 0) : sz;
        }
        if (s.writeBack) {
          growing = "必要なメモリ(AVIインデックス用)が確保できません!";
          if (pos - s.moviPos > UINT32_MAX) {
            out.idx1Expressible = false;
          } else {
            uint8_t e[16];
            PutLE32(e, id);
            PutLE32(e + 4, kIdx1KeyFrame);
            PutLE32(e + 8, static_cast<uint32_t>(pos - s.moviPos));
            PutLE32(e + 12, sz);
            out.idx1.insert(out.idx1.end(), e, e + 16);
          }
        }
      }
      if (!tick(pos)) {
        out.stop = ScanPiece::kAborted;
        return;
      }
      pos += 8 + uint64_t{sz} + (sz & 1);
    }
  } catch (const std::bad_alloc&) {
    out.stop = ScanPiece::kNoMemory;
    out.noMemory = growing ? growing : "必要なメモリ(ビデオインデックス用)が確保できません!";
  }
}

// The headers of the RIFF parts that follow the first one ("RIFF" .. "AVIX"),
// as far as they follow each other without a gap. *cached tells whether
// every one of them was in the page cache before it was read: walking the
// parts side by side only pays there; on a disk it would make the head jump.
std::vector<uint64_t> FurtherRiffParts(int fd, uint64_t pos, uint64_t size, bool* cached) {
  std::vector<uint64_t> parts;
  *cached = true;
  uint8_t h[12];
  // Beyond this many the last stretch walks the rest (a file of tiny parts
  // would otherwise cost a stretch, and its memory, per 12 bytes).
  constexpr size_t kMaxStretches = 4096;
  while (parts.size() < kMaxStretches) {
    if (pos + 12 > size) break;
    struct iovec v = {h, sizeof h};
    if (preadv2(fd, &v, 1, static_cast<off_t>(pos), RWF_NOWAIT) != 12) {
      *cached = false;
      if (pread(fd, h, 12, static_cast<off_t>(pos)) != 12) break;
    }
    if (GetLE32(h) != FourCC("RIFF") || GetLE32(h + 8) != FourCC("AVIX")) break;
    parts.push_back(pos);
    uint32_t sz = GetLE32(h + 4);
    pos += 8 + uint64_t{sz} + (sz & 1);
  }
  return parts;
}

// Walks the stretches between `starts` on threads of their own. Each stretch
// stops where the next begins; the main thread meanwhile keeps the window
// alive and shows progress. Returns false when Esc stopped it.
template <class Report>
bool ScanStretches(const ScanSetup& s, const std::vector<uint64_t>& starts, unsigned threads,
                   std::vector<ScanPiece>& pieces, Report&& report) {
  size_t n = starts.size();
  pieces.assign(n, ScanPiece{});
  std::vector<std::atomic<uint64_t>> reached(n);
  for (size_t i = 0; i < n; ++i) reached[i] = starts[i];
  std::atomic<bool> abort{false};
  std::atomic<size_t> next{0}, finished{0};
  std::mutex m;
  std::condition_variable cv;
  auto work = [&] {
    // A descriptor of its own keeps each thread's read-ahead apart.
    Fd own;
    own.fd = open(s.path, O_RDONLY | O_CLOEXEC);
    ScanSetup mine = s;
    if (own.fd >= 0) mine.fd = own.fd;
    for (size_t i; (i = next.fetch_add(1)) < n;) {
      uint64_t limit = i + 1 < n ? starts[i + 1] : UINT64_MAX;
      ScanChunks(mine, starts[i], limit, pieces[i], [&, i](uint64_t pos) {
        reached[i].store(pos, std::memory_order_relaxed);
        return !abort.load(std::memory_order_relaxed);
      });
      reached[i].store(i + 1 < n ? starts[i + 1] : s.size);  // for the progress: this stretch is done
      std::lock_guard<std::mutex> lock(m);
      ++finished;
      cv.notify_one();
    }
  };
  std::vector<std::thread> pool;
  try {
    for (unsigned t = 0; t < std::min<size_t>(threads, n); ++t) pool.emplace_back(work);
  } catch (const std::exception&) {
    // No thread to be had: the stretches are walked here, one after another.
    if (pool.empty()) work();
  }
  bool aborted = false;
  {
    std::unique_lock<std::mutex> lock(m);
    while (finished < n) {
      cv.wait_for(lock, std::chrono::milliseconds(15));
      lock.unlock();
      if (!aborted && PumpAndTestAbort()) {
        aborted = true;
        abort = true;
      }
      uint64_t done = s.moviPos;
      for (size_t i = 0; i < n; ++i) done += reached[i].load(std::memory_order_relaxed) - starts[i];
      if (!aborted) report(std::min(done, s.size));
      lock.lock();
    }
  }
  for (std::thread& t : pool) t.join();
  return !aborted;
}

}  // namespace

bool RebuildAviIndex(OpenAviFile* avi, bool writeBack) {
  const char* name = avi->szFileName.c_str();
  RiffFile* f = avi->hmmioAvi.get();
  if (!f) return false;
  auto fail = [&](const char* format) {
    Message(MB_OK | MB_ICONSTOP, nullptr, format, name);
    return false;
  };
  avi->fAllKeyFrames = 1;
  avi->pCurrentSet->dwWaveSampleCounts = 0;
  uint64_t size = f->Size();
  uint64_t step = size / 200;
  if (f->Seek(0) < 0) return fail("%sがシークできません!");
  ChunkInfo riff, movi;
  if (!FindTyped(f, nullptr, 0, size, FourCC("AVI "), &riff)) return fail("%sにAVIチャンクがありません!");
  if (!FindTyped(f, &riff, riff.dwDataOffset + 4, size, FourCC("movi"), &movi))
    return fail("%sにList/moviチャンクがありません!");
  uint64_t moviPos = movi.dwDataOffset;

  Fd in;
  in.fd = open(name, O_RDONLY | O_CLOEXEC);
  if (in.fd < 0) return fail("%sが開けません!");
  posix_fadvise(in.fd, 0, 0, POSIX_FADV_SEQUENTIAL);

  WaveFormatEx wf = avi->AudioFormat();
  const ScanSetup setup{
      in.fd,          name,     size, moviPos, avi->cVideoStream, avi->cAudioStream, avi->nAudioKind == 0,
      wf.nBlockAlign, writeBack};
  uint64_t lastReport = 0;
  unsigned long lastPct = ~0ul;
  auto report = [&](uint64_t pos) {
    if (pos - lastReport <= step) return;
    lastReport = pos;
    unsigned long pct = size ? static_cast<unsigned long>(pos * 100 / size) : 0;
    if (pct == lastPct) return;
    lastPct = pct;
    Status(0, "%sインデックス作成中(%3lu%%) ESC:中止", name, pct);
    CurrentHost().SetTitleSuffix(Fmt(" (%sインデックス作成中 %3lu%%)", name, pct));
  };
  auto tick = [&](uint64_t pos) {
    if (PumpAndTestAbort()) return false;
    report(pos);
    return true;
  };
  ME.fAbort = 0;
  avi->readNotes.scanStoppedAtCutChunk = false;

  // A file of several RIFF parts is walked part by part on several threads
  // when the parts follow each other; the pieces are joined as one walk over
  // the file would have found them. A walk that does not land on the next
  // part's header goes on alone from where it stopped.
  std::vector<uint64_t> starts = {moviPos + 4};
  unsigned threads = avi->options.scanThreads > 0 ? avi->options.scanThreads
                                                  : std::max(1u, std::thread::hardware_concurrency());
  if (threads > 1) {
    bool cached;
    std::vector<uint64_t> parts = FurtherRiffParts(in.fd, riff.PaddedEnd(), size, &cached);
    if (cached || avi->options.scanThreads > 1) starts.insert(starts.end(), parts.begin(), parts.end());
  }
  std::vector<ScanPiece> pieces;
  bool completed;
  if (starts.size() > 1) {
    try {
      completed = ScanStretches(setup, starts, threads, pieces, report);
    } catch (const std::bad_alloc&) {
      CurrentHost().SetTitleSuffix("");
      return fail("必要なメモリ(ビデオインデックス用)が確保できません!");
    }
  } else {
    pieces.resize(1);
    ScanChunks(setup, starts[0], UINT64_MAX, pieces[0], tick);
    completed = pieces[0].stop != ScanPiece::kAborted;
  }
  std::vector<FrameIndexEntry> video, audio;
  std::vector<uint8_t> idx1;
  bool idx1Expressible = true;
  uint64_t samples = 0;
  try {
    for (size_t i = 0; completed && i < pieces.size(); ++i) {
      if (pieces[i].stop == ScanPiece::kLimit && pieces[i].end != starts[i + 1]) {
        // The walk went past the next part's header: what lies behind it is
        // walked on from where it stopped, as one walk would.
        pieces.resize(i + 2);
        starts.resize(i + 2);
        starts[i + 1] = pieces[i].end;
        pieces[i + 1] = ScanPiece{};
        ScanChunks(setup, starts[i + 1], UINT64_MAX, pieces[i + 1], tick);
      }
      ScanPiece& p = pieces[i];
      if (p.stop == ScanPiece::kAborted) {
        completed = false;
        break;
      }
      if (p.stop == ScanPiece::kNoMemory) {
        CurrentHost().SetTitleSuffix("");
        return fail(p.noMemory);
      }
      auto take = [](auto& to, auto& from) {
        if (to.empty())
          to.swap(from);
        else
          to.insert(to.end(), from.begin(), from.end());
        std::remove_reference_t<decltype(from)>().swap(from);
      };
      take(video, p.video);
      take(audio, p.audio);
      take(idx1, p.idx1);
      idx1Expressible = idx1Expressible && p.idx1Expressible;
      samples += p.samples;
      if (p.stop == ScanPiece::kLimit) continue;
      if (p.stop == ScanPiece::kTooLarge) {
        CurrentHost().SetTitleSuffix("");
        Message(MB_OK | MB_ICONSTOP, nullptr, "%sには16MiB以上のチャンク(%s, %uバイト)があるため開けません!",
                name, FourCCText(p.bigId).c_str(), p.bigSize);
        return false;
      }
      if (p.stop == ScanPiece::kCut) {
        avi->readNotes.scanStoppedAtCutChunk = true;
        avi->readNotes.cutChunkPos = p.end;
      }
      break;  // the end of the file, or of what an index entry can address
    }
  } catch (const std::bad_alloc&) {
    CurrentHost().SetTitleSuffix("");
    return fail("必要なメモリ(ビデオインデックス用)が確保できません!");
  }
  if (!completed) {
    Status(0, "%s", "");
    CurrentHost().SetTitleSuffix("");
    return false;
  }
  CurrentHost().SetTitleSuffix("");

  ChunkInfo oldIdx1;
  if (writeBack) {
    if (f->Seek(static_cast<int64_t>(movi.PaddedEnd())) < 0)
      return fail("%sのList/moviチャンクのアセンドができません!");
    oldIdx1.ckid = FourCC("idx1");
    if (!f->Descend(&oldIdx1, &riff, kFindChunk)) return fail("%sにidx1チャンクがありません!");
    // Entries that lie behind the old idx1 would be cut off with what
    // follows it, and the new one must fit the RIFF's 32-bit size.
    for (const auto* list : {&video, &audio})
      for (FrameIndexEntry e : *list)
        if (IndexOffset(e) >= oldIdx1.dwDataOffset) idx1Expressible = false;
    if (!Idx1FitsBehind(oldIdx1, size, idx1.size())) idx1Expressible = false;
  }

  video.shrink_to_fit();
  audio.shrink_to_fit();
  AviStreamSet& set = avi->sets[0];
  set.pFrameIndex = std::move(video);
  set.FrameMax = static_cast<uint32_t>(set.pFrameIndex.size());
  set.pWaveIndex = std::move(audio);
  set.waveStamp = NextIndexStamp();
  set.WaveIndexEntries = set.WaveIndexAlloc = static_cast<uint32_t>(set.pWaveIndex.size());
  set.dwWaveSampleCounts = static_cast<uint32_t>(std::min<uint64_t>(samples, UINT32_MAX));
  if (avi->pFieldShift.size() < set.FrameMax && !avi->pFieldShift.empty())
    avi->pFieldShift.resize(set.FrameMax, 0);
  Status(0, "%sのインデックスを作成しました.", name);

  if (writeBack) {
    if (avi->nIndexKind == kIndexIdx1 && idx1Expressible) {
      std::string q =
          Fmt("作成し直した%sのインデックスを書き戻します."
              "\n書き戻さない場合、閉じると作成したインデックスは失われます.",
              name);
      // Declined or failed, the kind stays as it was: the file keeps an idx1
      // of its own (the old one, or after a failure one of the two).
      if (avi->options.confirmIndexWriteBack &&
          CurrentHost().MessageBox(q, ME.programName, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK)
        return true;
      if (!WriteIdx1InPlace(avi, idx1, oldIdx1)) return false;
      avi->nIndexKind = kIndexIdx1;
    } else {
      avi->nIndexKind = kIndexRebuilt;
      Message(MB_OK | MB_ICONINFORMATION, nullptr,
              "作成し直した%sのインデックスを保存する場合は新しいAVIファイルで保存して下さい.", name);
    }
  }
  return true;
}
