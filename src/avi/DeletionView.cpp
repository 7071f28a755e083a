#include "avi/DeletionView.h"

#include <algorithm>
#include <new>

#include "platform/AppState.h"
#include "platform/Host.h"
#include "platform/Messages.h"

int64_t deletedFrameNo(const OpenAviFile& avi, int64_t frame) {
  int64_t n = frame;
  for (const DeleteRange& r : avi.deleteRanges) {
    if (r.lFrame1 > frame) break;
    if (frame <= r.lFrame2) return -1;
    n -= static_cast<int64_t>(r.lFrame2) - r.lFrame1 + 1;
  }
  return std::max<int64_t>(n, 0);
}

int64_t UndeletedFrameNo(const OpenAviFile& avi, int64_t frame) {
  int64_t n = frame;
  for (const DeleteRange& r : avi.deleteRanges) {
    if (r.lFrame1 > n) break;
    n += static_cast<int64_t>(r.lFrame2) - r.lFrame1 + 1;
  }
  return n;
}

namespace {

// Where the audio of the view comes from: the file's own PCM chunks or the
// decoded work file of compressed audio.
struct AudioSource {
  const FrameIndexEntry* chunks = nullptr;
  uint32_t count = 0;
  uint64_t totalSamples = 0;
  uint32_t blockAlign = 0;
  uint32_t samplesPerSec = 0;
};

// Walks the kept segments and appends their frames and audio to set 1's
// arrays, which the caller swaps in only when everything was allocated.
class ViewBuilder {
 public:
  ViewBuilder(const OpenAviFile& avi, const AudioSource& audio, double rate)
      : avi_(avi), audio_(audio), rate_(rate) {}

  std::vector<FrameIndexEntry> frames, wave;
  std::vector<int32_t> frameOffset;
  uint64_t samples = 0;

  // Throws std::bad_alloc; `what` says which array it was. Arrays of the
  // previous view that are large enough are reused, but only once every
  // other array has been allocated: a failure leaves the previous view whole,
  // and the walk itself allocates nothing.
  void Build(AviStreamSet* s1, std::vector<int32_t>* oldOffsets, const char** what) {
    const AviStreamSet& s0 = avi_.sets[0];
    const uint32_t total = std::min<uint32_t>(s0.FrameMax, static_cast<uint32_t>(s0.pFrameIndex.size()));
    // Each segment may split one chunk in two.
    const size_t waveMax = audio_.chunks ? audio_.count + avi_.deleteRanges.size() + 1 : 0;
    *what = "必要なメモリ(削除範囲有効時のフレームインデックス用)が確保できません!";
    if (s1->pFrameIndex.capacity() < total) frames.reserve(total);
    *what = "必要なメモリ(削除範囲有効時のフレームオフセット用)が確保できません!";
    if (oldOffsets->capacity() < total) frameOffset.reserve(total);
    *what = "必要なメモリ(削除範囲有効時のオーディオインデックス用)が確保できません!";
    if (s1->pWaveIndex.capacity() < waveMax) wave.reserve(waveMax);
    Reuse(&frames, &s1->pFrameIndex, total);
    Reuse(&frameOffset, oldOffsets, total);
    Reuse(&wave, &s1->pWaveIndex, waveMax);
    uint32_t next = 0;  // first frame not yet walked
    for (const DeleteRange& r : avi_.deleteRanges) {
      if (r.lFrame1 < 0 || r.lFrame2 < r.lFrame1) continue;  // not a range the editor makes
      uint32_t first = static_cast<uint32_t>(r.lFrame1);
      if (first >= total) break;
      uint32_t last = std::min(static_cast<uint32_t>(r.lFrame2), total - 1);
      if (first > next) Segment(next, first, false);
      if (last + 1 > next) {
        deleted_ += last + 1 - std::max(first, next);
        next = last + 1;
      }
    }
    if (next < total) Segment(next, total, true);
  }

 private:
  template <class T>
  static void Reuse(std::vector<T>* mine, std::vector<T>* old, size_t n) {
    if (mine->capacity() < n && old->capacity() >= n) {
      mine->swap(*old);
      mine->clear();
    }
  }

  uint32_t Samples(FrameIndexEntry e) const { return (IndexSize(e) & kIndexSizeMask) / audio_.blockAlign; }

  void Segment(uint32_t s, uint32_t e, bool tail) {
    const FrameIndexEntry* index = avi_.sets[0].pFrameIndex.data();
    frames.insert(frames.end(), index + s, index + e);
    frameOffset.insert(frameOffset.end(), e - s, static_cast<int32_t>(deleted_));
    if (!audio_.chunks) return;
    uint64_t start = FirstSampleOfFrame(s, audio_.samplesPerSec, rate_);
    uint64_t end = tail ? audio_.totalSamples : FirstSampleOfFrame(e, audio_.samplesPerSec, rate_);
    // The chunk holding the start; chunks are walked once over all segments.
    while (chunk_ < audio_.count && chunkFirst_ + Samples(audio_.chunks[chunk_]) <= start) {
      chunkFirst_ += Samples(audio_.chunks[chunk_]);
      ++chunk_;
    }
    while (chunk_ < audio_.count && chunkFirst_ < end) {
      FrameIndexEntry c = audio_.chunks[chunk_];
      uint64_t n = Samples(c), chunkEnd = chunkFirst_ + n;
      uint64_t from = std::max(chunkFirst_, start), to = std::min(chunkEnd, end);
      if (to > from) {
        // Cut in whole sample blocks; an uncut end keeps the chunk's own size.
        uint64_t skip = (from - chunkFirst_) * audio_.blockAlign;
        uint64_t size = to < chunkEnd ? (to - from) * audio_.blockAlign : IndexSize(c) - skip;
        wave.push_back((c & (kIndexCompressed | kIndexNotKey)) |
                       MakeIndexEntry(IndexOffset(c) + skip, static_cast<uint32_t>(size), false, false));
        samples += to - from;
      }
      if (chunkEnd > end) break;  // the next segment may start inside this chunk
      chunkFirst_ = chunkEnd;
      ++chunk_;
    }
  }

  const OpenAviFile& avi_;
  const AudioSource& audio_;
  double rate_;
  uint64_t deleted_ = 0;
  uint32_t chunk_ = 0;
  uint64_t chunkFirst_ = 0;
};

}  // namespace

bool ChangeOpenAviParam(OpenAviFile* avi, bool on, double rate) {
  if (!on) {
    for (FrameMark& m : avi->marks) m.lShown = m.lFrame;
    avi->pCurrentSet = &avi->sets[0];
    return true;
  }
  const AviStreamSet& s0 = avi->sets[0];
  if (!(rate > 0)) {
    const AVIStreamHeader& h = s0.strhVideo;
    rate = h.dwScale && h.dwRate ? static_cast<double>(h.dwRate) / h.dwScale : 30000.0 / 1001.0;
  }
  AudioSource audio;
  bool hasChunks = false;
  WaveFormatEx wf{};
  if (avi->nAudioKind == 0) {
    wf = avi->AudioFormat();
    hasChunks = s0.WaveIndexEntries > 0;
    audio.chunks = s0.pWaveIndex.data();
    audio.count = std::min<uint32_t>(s0.WaveIndexEntries, static_cast<uint32_t>(s0.pWaveIndex.size()));
    audio.totalSamples = s0.dwWaveSampleCounts;
  } else if (avi->nAudioKind == -1) {
    wf = avi->wfPCM;
    if (!avi->pIndexPCM.empty()) {
      hasChunks = avi->dwIndexPCM > 0;
      audio.chunks = avi->pIndexPCM.data();
      audio.count = std::min<uint32_t>(avi->dwIndexPCM, static_cast<uint32_t>(avi->pIndexPCM.size()));
      audio.totalSamples = avi->dwSamplesPCM;
    } else {
      // Compressed audio that was not decoded is not carried into the view.
      hasChunks = s0.WaveIndexEntries > 0;
    }
  }
  audio.blockAlign = wf.nBlockAlign;
  audio.samplesPerSec = wf.nSamplesPerSec;
  if (!audio.count || !audio.blockAlign || !audio.samplesPerSec) audio.chunks = nullptr;

  // The frame reader maps a kept frame back to the file's own numbering
  // whenever it decodes through the frame getter (delta frames, or codecs
  // whose index flags every frame as key), so the offsets are always kept.
  AviStreamSet& s1 = avi->sets[1];
  ViewBuilder b(*avi, audio, rate);
  const char* what = "";
  try {
    b.Build(&s1, &avi->pFrameOffset, &what);
  } catch (const std::bad_alloc&) {
    Message(MB_OK | MB_ICONSTOP, what);
    return false;
  }

  const uint32_t kept = static_cast<uint32_t>(b.frames.size());
  s1.pFrameIndex.swap(b.frames);
  s1.pWaveIndex.swap(b.wave);
  s1.waveStamp = NextIndexStamp();
  avi->pFrameOffset.swap(b.frameOffset);
  s1.FrameMax = kept;
  s1.WaveIndexEntries = static_cast<uint32_t>(s1.pWaveIndex.size());
  s1.WaveIndexAlloc = static_cast<uint32_t>(std::min<size_t>(s1.pWaveIndex.capacity(), UINT32_MAX));
  s1.dwWaveSampleCounts = static_cast<uint32_t>(std::min<uint64_t>(b.samples, UINT32_MAX));
  s1.avih = s0.avih;
  s1.avih.dwTotalFrames = kept;
  s1.strhVideo = s0.strhVideo;
  s1.strhVideo.dwLength = kept;
  s1.strhAudio = s0.strhAudio;
  if (hasChunks) {
    const AVIStreamHeader& v = s1.strhVideo;
    uint64_t length = v.dwRate ? static_cast<uint64_t>(wf.nSamplesPerSec) * v.dwScale * kept / v.dwRate : 0;
    s1.strhAudio.dwLength = static_cast<uint32_t>(std::min<uint64_t>(length, UINT32_MAX));
    if (avi->nAudioKind == -1) {
      s1.strhAudio.fccHandler = 1;
      s1.strhAudio.dwScale = 1;
      s1.strhAudio.dwRate = wf.nSamplesPerSec;
      s1.strhAudio.dwSuggestedBufferSize = wf.nBlockAlign * wf.nSamplesPerSec;
      s1.strhAudio.dwSampleSize = wf.nBlockAlign;
    }
  }
  for (FrameMark& m : avi->marks) m.lShown = static_cast<int32_t>(deletedFrameNo(*avi, m.lFrame));
  avi->pCurrentSet = &s1;
  return true;
}
