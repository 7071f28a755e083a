// The AVI reader's idx1 part: the stream characters from the movi list, and
// the frame and audio indexes from idx1.
#include <new>

#include "avi/AviReaderInternal.h"
#include "platform/AppState.h"
#include "platform/Host.h"
#include "platform/Messages.h"

namespace avi_reader {

// Finds the stream characters and the first video chunk in movi.
bool WalkMovi(Opener& o, ChunkInfo& riff, bool haveAudio, uint64_t* firstVideoHeader) {
  OpenAviFile* avi = o.avi;
  RiffFile* f = o.f;
  if (f->Seek(static_cast<int64_t>(avi->dwRiffDataPos)) < 0) return o.Fail("%sがシークできません!");
  ChunkInfo movi;
  if (!FindTyped(f, &riff, avi->dwRiffDataPos, o.fileSize, FourCC("movi"), &movi))
    return o.Fail("%sにList/moviチャンクがありません!");
  o.moviType = movi.dwDataOffset;
  if (f->Seek(static_cast<int64_t>(movi.dwDataOffset + 4)) < 0) return o.Fail("%sがシークできません!");
  avi->cVideoStream = avi->cAudioStream = 0;
  ChunkInfo limit = movi;
  for (;;) {
    ChunkInfo ck;
    if (!f->Descend(&ck, &limit, 0)) {
      // An audio stream without chunks (a header-only track) is no reason to
      // refuse the video.
      if (avi->cVideoStream) break;
      return o.FailText(Fmt("%sにdb/dc%sチャンクがありません!", o.name, haveAudio ? "/wb" : ""));
    }
    // Chunks grouped in 'rec ' lists are walked inside.
    if (ck.ckid == FourCC("LIST") && ck.fccType == FourCC("rec ")) continue;
    char c = Ch(ck.ckid, 1);
    if (!avi->cVideoStream && IsVideoId(ck.ckid, c)) {
      avi->cVideoStream = c;
      *firstVideoHeader = ck.dwDataOffset - 8;
    } else if (!avi->cAudioStream && IsAudioId(ck.ckid, c) && (!o.audioStream || c == o.audioStream)) {
      avi->cAudioStream = c;
    }
    if (avi->cVideoStream && (avi->cAudioStream || !haveAudio)) {
      if (!f->Ascend(&ck)) return o.Fail("%sのdb/dcチャンクのアセンドができません!");
      break;
    }
    if (!f->Ascend(&ck)) return o.Fail("%sのアセンドができません!");
  }
  if (f->Seek(static_cast<int64_t>(movi.PaddedEnd())) < 0)
    return o.Fail("%sのLISTチャンクのアセンドができません!");
  return true;
}

bool ReadIdx1(Opener& o, ChunkInfo& riff, uint64_t firstVideoHeader, bool* missing) {
  OpenAviFile* avi = o.avi;
  AviStreamSet& set = avi->sets[0];
  RiffFile* f = o.f;
  ChunkInfo idx1;
  idx1.ckid = FourCC("idx1");
  if (!f->Descend(&idx1, &riff, kFindChunk)) {
    *missing = true;
    return true;
  }
  avi->nIndexKind = kIndexIdx1;
  uint64_t n = idx1.cksize / 16;
  // A cut file keeps the part of idx1 that is present.
  uint64_t present = (o.fileSize - std::min(o.fileSize, idx1.dwDataOffset)) / 16;
  if (n > present) {
    n = present;
    o.avi->readNotes.idx1Clamped = true;
  }
  WaveFormatEx wf = avi->AudioFormat();
  // PCM as the open checked it: the format of the stream taken, nBlockAlign
  // not 0 (kept out of the loop's division all the same).
  bool pcm = avi->nAudioKind == 0 && wf.nBlockAlign != 0;
  const uint32_t blockAlign = wf.nBlockAlign;
  constexpr size_t kBlock = 4096;
  std::vector<uint8_t> buf;
  try {
    buf.resize(16 * kBlock);
  } catch (const std::bad_alloc&) {
    return o.Fail("必要なメモリ(フレームインデックス用)が確保できません!");
  }
  uint64_t nVideo = 0, nAudio = 0;
  // The first video entry with data: the chunk it names fixes where the
  // offsets count from.
  bool haveReal = false;
  uint32_t realId = 0, realOff = 0, realLen = 0;
  auto pass = [&](auto&& visit) -> bool {
    if (f->Seek(static_cast<int64_t>(idx1.dwDataOffset)) < 0) return o.Fail("%sがシークできません!");
    for (uint64_t i = 0; i < n;) {
      size_t m = static_cast<size_t>(std::min<uint64_t>(kBlock, n - i));
      if (!f->ReadExact(buf.data(), 16 * m)) return o.Fail("%sのidx1チャンクが読み出せません!");
      for (size_t k = 0; k < m; ++k)
        if (!visit(i + k, &buf[16 * k])) return false;
      i += m;
    }
    return true;
  };
  if (!pass([&](uint64_t, const uint8_t* e) {
        uint32_t id = GetLE32(e);
        if (IsVideoId(id, avi->cVideoStream)) {
          ++nVideo;
          if (!haveReal && GetLE32(e + 12) != 0) {
            haveReal = true;
            realId = id;
            realOff = GetLE32(e + 8);
            realLen = GetLE32(e + 12);
          }
        } else if (IsAudioId(id, avi->cAudioStream))
          ++nAudio;
        return true;
      }))
    return false;
  try {
    set.pWaveIndex.clear();
    set.waveStamp = NextIndexStamp();
    set.pFrameIndex.clear();
    if (nAudio) set.pWaveIndex.reserve(static_cast<size_t>(nAudio));
  } catch (const std::bad_alloc&) {
    return o.Fail("必要なメモリ(オーディオインデックス用)が確保できません!");
  }
  try {
    set.pFrameIndex.reserve(static_cast<size_t>(nVideo));
  } catch (const std::bad_alloc&) {
    return o.Fail("必要なメモリ(フレームインデックス用)が確保できません!");
  }
  avi->fAllKeyFrames = 1;
  uint64_t samples = 0;
  bool pinned = false;
  int64_t base = 0;
  // Offsets count from the movi list's type (the standard) or from the start
  // of the file: whichever puts the chunk of the first video entry with data
  // there. An edited index need not list the first chunk of movi first.
  for (uint64_t from : {o.moviType, uint64_t{0}}) {
    uint8_t h[8];
    uint64_t at = from + realOff;
    if (pinned || !haveReal || at + 8 > o.fileSize) continue;
    if (f->Seek(static_cast<int64_t>(at)) >= 0 && f->ReadExact(h, 8) && GetLE32(h) == realId &&
        GetLE32(h + 4) == realLen) {
      base = static_cast<int64_t>(from);
      pinned = true;
    }
  }
  // Where the k-th audio entry is in idx1 (for the message): counted again
  // rather than kept for every entry.
  auto NthAudioEntry = [&](uint64_t k) {
    uint64_t at = 0, seen = 0;
    pass([&](uint64_t i, const uint8_t* e) {
      if (!IsAudioId(GetLE32(e), avi->cAudioStream)) return true;
      at = i;
      return seen++ != k;
    });
    return at;
  };
  auto outside = [&](uint64_t i) {
    return o.FailText(Fmt("%sのidx1チャンクの%llu番目のエントリがファイルの外を指しています!", o.name,
                          static_cast<unsigned long long>(i)));
  };
  // The arrays were reserved for what pass 1 counted; a file that changed in
  // between can still make them grow.
  bool read;
  try {
    read = pass([&](uint64_t i, const uint8_t* e) {
      uint32_t id = GetLE32(e), flags = GetLE32(e + 4), off = GetLE32(e + 8), len = GetLE32(e + 12);
      bool video = IsVideoId(id, avi->cVideoStream);
      if (!video && !IsAudioId(id, avi->cAudioStream)) return true;
      if (len >= kMaxChunkSize) return o.TooLarge(id, len);
      if (video) {
        if (!pinned && (len != 0 || !haveReal)) {
          // Otherwise the first video entry with data is taken to be the
          // first video chunk in movi, whatever the offsets count from.
          base = static_cast<int64_t>(firstVideoHeader) - static_cast<int64_t>(off);
          pinned = true;
        }
        int64_t pos = static_cast<int64_t>(off) + 8 + base;
        if (pos < 8 || static_cast<uint64_t>(pos) >= kMaxOffset || static_cast<uint64_t>(pos) > o.fileSize ||
            o.fileSize - static_cast<uint64_t>(pos) < len)
          return outside(i);
        bool notKey = !(flags & kIdx1KeyFrame) && len != 0;
        if (notKey) avi->fAllKeyFrames = 0;
        set.pFrameIndex.push_back(MakeIndexEntry(static_cast<uint64_t>(pos), len, Ch(id, 3) == 'c', notKey));
      } else {
        // The base is added once it is known.
        set.pWaveIndex.push_back((static_cast<uint64_t>(off) + 8) | (static_cast<uint64_t>(len) << 38));
        samples += pcm ? len / blockAlign : len;
      }
      return true;
    });
  } catch (const std::bad_alloc&) {
    return o.Fail("必要なメモリ(フレームインデックス用)が確保できません!");
  }
  if (!read) return false;
  for (size_t k = 0; k < set.pWaveIndex.size(); ++k) {
    FrameIndexEntry& e = set.pWaveIndex[k];
    int64_t pos = static_cast<int64_t>(IndexOffset(e)) + base;
    uint32_t len = IndexSize(e);
    if (pos < 8 || static_cast<uint64_t>(pos) >= kMaxOffset || static_cast<uint64_t>(pos) > o.fileSize ||
        o.fileSize - static_cast<uint64_t>(pos) < len)
      return outside(NthAudioEntry(k));
    e = MakeIndexEntry(static_cast<uint64_t>(pos), len, false, false);
  }
  set.FrameMax = static_cast<uint32_t>(set.pFrameIndex.size());
  set.WaveIndexEntries = set.WaveIndexAlloc = static_cast<uint32_t>(set.pWaveIndex.size());
  set.dwWaveSampleCounts = static_cast<uint32_t>(std::min<uint64_t>(samples, UINT32_MAX));

  if (set.avih.dwTotalFrames != set.FrameMax || set.FrameMax != set.strhVideo.dwLength) {
    Message(MB_OK | MB_ICONINFORMATION, nullptr,
            "%sの"
            "\nフレームのインデックス数(%ld)が\nヘッダのフレーム数(%ld/%ld)と異なります!",
            o.name, static_cast<long>(set.FrameMax), static_cast<long>(set.avih.dwTotalFrames),
            static_cast<long>(set.strhVideo.dwLength));
  }

  // What follows the RIFF: anything but JUNK means more data after the index.
  uint64_t pos = riff.PaddedEnd();
  if (f->Seek(static_cast<int64_t>(pos)) < 0) return o.Fail("%sのAVIチャンクのアセンドができません!");
  while (pos < o.fileSize && o.fileSize - pos >= 8) {
    uint8_t head[8];
    if (f->Seek(static_cast<int64_t>(pos)) < 0 || !f->ReadExact(head, 8)) break;
    if (ToLowerAscii(std::string(reinterpret_cast<char*>(head), 4)) != "junk") {
      if (!avi->options.ignoreDataAfterIdx1) avi->nIndexKind = kIndexDataAfterIdx1;
      break;
    }
    pos += 8 + static_cast<uint64_t>(GetLE32(head + 4)) + (GetLE32(head + 4) & 1);
  }
  return true;
}

}  // namespace avi_reader
