// The AVI reader's OpenDML part: a stream's super-index (indx) and the
// standard indexes (ix##) it points at.
#include <algorithm>
#include <new>

#include "avi/AviReaderInternal.h"
#include "platform/AppState.h"
#include "platform/Host.h"
#include "platform/Messages.h"

namespace avi_reader {

namespace {

struct StdIndexRef {
  uint64_t offset;  // of the ix## chunk header
  uint32_t entries;
  uint64_t base;
};

// Standard index entries are read this many at a time, whatever a header
// claims, so that no buffer is sized from the file.
constexpr uint32_t kEntriesPerRead = 8192;

// Reads the super-index `indx` of one stream; true when the stream's index
// came from it. On a failed attempt *reason says why; *fatal when the open
// must fail (the message is set).
bool ReadOpenDmlIndex(Opener& o, const ChunkInfo& indx, bool video, std::string* reason, bool* fatal) {
  OpenAviFile* avi = o.avi;
  AviStreamSet& set = avi->sets[0];
  const char* kind = video ? "ビデオ" : "オーディオ";
  const char* noMemory = video ? "必要なメモリ(フレームインデックス用)が確保できません!"
                               : "必要なメモリ(オーディオインデックス用)が確保できません!";
  auto why = [&](const std::string& text) {
    *reason = text;
    return false;
  };
  auto outOfMemory = [&] {
    *fatal = true;
    return o.Fail(noMemory);
  };
  // The chunk lies inside the file (checked by the caller).
  if (indx.cksize < 40 || indx.cksize > kMaxFormatChunk) return false;
  std::vector<uint8_t> chunk;
  try {
    chunk.resize(indx.cksize);
  } catch (const std::bad_alloc&) {
    return outOfMemory();
  }
  if (!o.f->ReadExact(chunk.data(), chunk.size())) return false;
  ByteReader r(chunk.data(), chunk.size());
  uint16_t longsPerEntry = r.U16();
  r.Skip(1);  // bIndexSubType
  uint8_t indexType = r.U8();
  uint32_t entries = r.U32();
  uint32_t chunkId = r.U32();
  r.Seek(24);
  if (indexType != 0)
    return why(video ? Fmt("ビデオのAVI2インデックスタイプ%02Xは未対応です!", indexType)
                     : Fmt("オーディオのAVI2インデックスタイプ%02Xは未対応です!", indexType));
  if (longsPerEntry != 4) return false;
  entries = std::min<uint32_t>(entries, (indx.cksize - 24) / 16);
  if (video ? !IsVideoId(chunkId, Ch(chunkId, 1)) : !IsAudioId(chunkId, Ch(chunkId, 1))) return false;
  if (!avi->hAvi2) {
    auto h = std::make_unique<RiffFile>();
    // Read only: our writes go through a handle opened for them.
    if (!h->Open(avi->szFileName.c_str(), RiffFile::ModeRead, 1 << 16)) return false;
    avi->hAvi2 = std::move(h);
  }
  RiffFile* h = avi->hAvi2.get();
  std::vector<StdIndexRef> refs;
  try {
    refs.reserve(entries);
  } catch (const std::bad_alloc&) {
    return outOfMemory();
  }
  uint64_t total = 0;
  for (uint32_t i = 0; i < entries; ++i) {
    uint64_t qwOffset = r.U64();
    r.Skip(8);  // dwSize, dwDuration
    if (qwOffset > o.fileSize || o.fileSize - qwOffset < 32)
      return why(Fmt("%sのAVI2インデックス(%u番目)がファイルの外を指しています!", kind, i));
    uint8_t head[32];
    if (h->Seek(static_cast<int64_t>(qwOffset)) < 0 || !h->ReadExact(head, 32)) return false;
    uint32_t ixId = GetLE32(head), ixSize = GetLE32(head + 4);
    if (GetLE16(head + 8) != 2 || head[11] != 1 || GetLE32(head + 16) != chunkId) return false;
    if (Ch(ixId, 0) != 'i' || Ch(ixId, 1) != 'x' || Ch(ixId, 2) != Ch(chunkId, 0) ||
        Ch(ixId, 3) != Ch(chunkId, 1))
      return false;
    uint32_t n = GetLE32(head + 12);
    // No more entries than the chunk and the file hold.
    uint64_t room = std::min<uint64_t>(ixSize, o.fileSize - qwOffset - 8);
    n = static_cast<uint32_t>(std::min<uint64_t>(n, room < 24 ? 0 : (room - 24) / 8));
    refs.push_back({qwOffset, n, GetLE64(head + 20)});
    total += n;
    if (PumpAndTestAbort()) {
      o.silent = true;
      *fatal = true;
      return false;
    }
  }
  // Standard indexes that overlap (or are listed twice) would count chunks twice.
  std::vector<StdIndexRef> sorted;
  try {
    sorted = refs;
  } catch (const std::bad_alloc&) {
    return outOfMemory();
  }
  std::sort(sorted.begin(), sorted.end(), [](auto& a, auto& b) { return a.offset < b.offset; });
  for (size_t i = 1; i < sorted.size(); ++i)
    if (sorted[i].offset < sorted[i - 1].offset + 32 + 8 * static_cast<uint64_t>(sorted[i - 1].entries))
      return why(Fmt("%sのAVI2インデックスが重なっています!", kind));
  // Not overlapping and inside the file, the entries are at most fileSize / 8.
  if (total > UINT32_MAX || total > o.fileSize / 8) return false;

  std::vector<FrameIndexEntry> index;
  std::vector<uint8_t> buf;
  try {
    index.reserve(static_cast<size_t>(total));
    buf.resize(8 * static_cast<size_t>(std::min<uint64_t>(total, kEntriesPerRead)));
  } catch (const std::bad_alloc&) {
    return outOfMemory();
  }
  bool compressedId = Ch(chunkId, 3) == 'c';
  WaveFormatEx wf = avi->AudioFormat();
  uint32_t pcmBlock = wf.wFormatTag == kWaveFormatPcm ? wf.nBlockAlign : 0;
  bool pcm = wf.wFormatTag == kWaveFormatPcm;
  uint64_t samples = 0;
  int allKey = 1;
  for (const StdIndexRef& ref : refs) {
    if (h->Seek(static_cast<int64_t>(ref.offset + 32)) < 0) return false;
    for (uint32_t done = 0; done < ref.entries;) {
      uint32_t m = std::min(ref.entries - done, kEntriesPerRead);
      if (!h->ReadExact(buf.data(), 8 * static_cast<size_t>(m))) return false;
      for (uint32_t k = 0; k < m; ++k) {
        uint32_t dwOffset = GetLE32(&buf[8 * k]), dwSize = GetLE32(&buf[8 * k + 4]);
        uint64_t off = ref.base + dwOffset;
        uint32_t size = dwSize & 0x7FFFFFFF;
        if (size >= kMaxChunkSize) {
          *fatal = true;
          return o.TooLarge(chunkId, size);
        }
        if (off >= kMaxOffset || off > o.fileSize || o.fileSize - off < size)
          return why(Fmt("%sのAVI2インデックスのエントリ(%llu番目)がファイルの外を指しています!", kind,
                         static_cast<unsigned long long>(index.size())));
        bool notKey = video && (dwSize & 0x80000000u) && size != 0;
        if (notKey) allKey = 0;
        index.push_back(MakeIndexEntry(off, size, video && compressedId, notKey));
        if (!video) samples += pcm ? (pcmBlock ? size / pcmBlock : 0) : size;
      }
      done += m;
    }
  }
  if (video) {
    set.pFrameIndex = std::move(index);
    set.FrameMax = static_cast<uint32_t>(set.pFrameIndex.size());
    avi->cVideoStream = Ch(chunkId, 1);
    avi->fAllKeyFrames = allKey;
  } else {
    set.pWaveIndex = std::move(index);
    set.waveStamp = NextIndexStamp();
    set.WaveIndexEntries = set.WaveIndexAlloc = static_cast<uint32_t>(set.pWaveIndex.size());
    set.dwWaveSampleCounts = static_cast<uint32_t>(std::min<uint64_t>(samples, UINT32_MAX));
    avi->cAudioStream = Ch(chunkId, 1);
  }
  return true;
}

}  // namespace

bool TryOpenDml(Opener& o, ChunkInfo& strl, bool video) {
  OpenAviFile* avi = o.avi;
  ChunkInfo indx;
  indx.ckid = FourCC("indx");
  if (!o.f->Descend(&indx, &strl, kFindChunk)) return true;
  if (!o.Inside(indx, strl.End())) return false;
  bool videoTaken = avi->nIndexKind == kIndexOpenDml;
  if (avi->nIndexKind == kIndexParsing) avi->nIndexKind = kIndexIdx1;
  avi->readNotes.openDmlTried = true;
  std::string reason;
  bool fatal = false;
  uint64_t here = static_cast<uint64_t>(o.f->Tell());
  if (ReadOpenDmlIndex(o, indx, video, &reason, &fatal)) {
    avi->nIndexKind = kIndexOpenDml;
  } else {
    if (fatal) return false;
    if (reason.empty()) reason = "AVI2形式での読み出し中にエラーが発生しました!";
    if (!video && videoTaken) {
      // The frames beyond the first RIFF part are only in the video's own
      // index: it stays, and the audio is left without chunks (an OpenDML
      // file's idx1 is not read).
      AviStreamSet& set = avi->sets[0];
      std::vector<FrameIndexEntry>().swap(set.pWaveIndex);
      set.WaveIndexEntries = set.WaveIndexAlloc = set.dwWaveSampleCounts = 0;
      avi->cAudioStream = 0;
      avi->readNotes.openDmlAudioFallback = reason;
    } else {
      avi->readNotes.openDmlFallback = reason;
      Message(MB_OK | MB_ICONINFORMATION, nullptr, "%sの%s\n通常のAVIとして開きます.", o.name,
              reason.c_str());
      // Both indexes then come from idx1.
      avi->nIndexKind = kIndexIdx1;
      FreeIndexes(avi);
    }
  }
  o.f->Seek(static_cast<int64_t>(here));
  return true;
}

}  // namespace avi_reader
