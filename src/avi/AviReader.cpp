#include "avi/AviReader.h"

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

#include "platform/AppState.h"
#include "platform/CodecNames.h"
#include "platform/Format.h"
#include "platform/Host.h"
#include "platform/Messages.h"

namespace {

constexpr uint32_t kIdx1KeyFrame = 0x10;
constexpr uint64_t kMaxOffset = uint64_t{1} << 38;
// Header chunks (formats, super-indexes) are small; anything this big is damage.
constexpr uint32_t kMaxHeaderChunk = 0x1000000;

char Ch(uint32_t fcc, int i) {
  return static_cast<char>((fcc >> (8 * i)) & 0xFF);
}

bool IsVideoId(uint32_t id, char stream) {
  return Ch(id, 0) == '0' && Ch(id, 1) == stream && Ch(id, 2) == 'd' &&
         (Ch(id, 3) == 'c' || Ch(id, 3) == 'b');
}
bool IsAudioId(uint32_t id, char stream) {
  return stream && Ch(id, 0) == '0' && Ch(id, 1) == stream && Ch(id, 2) == 'w' && Ch(id, 3) == 'b';
}

// The state of one open: the message composed so far, shown once at the end.
struct Opener {
  OpenAviFile* avi;
  int mode;
  const char* name;
  std::string msg;
  bool silent = false;  // already reported or cancelled
  uint64_t fileSize = 0;
  RiffFile* f = nullptr;

  bool Fail(const char* format) {
    if (msg.empty() && !silent) msg = Fmt(format, name);
    return false;
  }
  bool FailText(const std::string& text) {
    if (msg.empty() && !silent) msg = text;
    return false;
  }
  bool TooLarge(uint32_t id, uint32_t size) {
    return FailText(Fmt("%sには16MiB以上のチャンク(%s, %uバイト)があるため開けません!", name,
                        FourCCText(id).c_str(), size));
  }
  // A header chunk must lie inside its parent and the file.
  bool Inside(const ChunkInfo& ck, uint64_t parentEnd) {
    uint64_t limit = std::min(parentEnd, fileSize);
    if (ck.End() > limit) {
      return FailText(Fmt("%sの%sチャンクのサイズ(%u)が親チャンクかファイルの終わりを越えています!", name,
                          FourCCText(ck.ckid).c_str(), ck.cksize));
    }
    return true;
  }
};

void FreeIndexes(OpenAviFile* avi) {
  for (auto& s : avi->sets) {
    std::vector<FrameIndexEntry>().swap(s.pFrameIndex);
    std::vector<FrameIndexEntry>().swap(s.pWaveIndex);
    s.FrameMax = s.WaveIndexAlloc = s.WaveIndexEntries = s.dwWaveSampleCounts = 0;
  }
}

void CloseRecord(OpenAviFile* avi) {
  // The frame reader's decoder state belongs to the file as it was.
  avi->frameReader.reset();
  avi->frameInfo = {};
  avi->hAvi2.reset();
  std::vector<FrameIndexEntry>().swap(avi->pIndexPCM);
  avi->dwIndexPCM = avi->dwSamplesPCM = 0;
  avi->hmmioPCM.reset();
  if (!avi->szPCMFile.empty()) unlink(avi->szPCMFile.c_str());
  avi->szPCMFile.clear();
  avi->hicDecompress.reset();
  avi->fCodecFailed = false;
  avi->hmmioAvi.reset();
  std::vector<uint8_t>().swap(avi->pbiVideo);
  std::vector<uint8_t>().swap(avi->pwfAudio);
  FreeIndexes(avi);
  std::vector<int32_t>().swap(avi->pFrameOffset);
  ZeroedVector<uint64_t>().swap(avi->pFieldShift);
  std::vector<FrameMark>().swap(avi->marks);
  std::vector<DeleteRange>().swap(avi->deleteRanges);
  avi->pCurrentSet = &avi->sets[0];
  // The name stays: callers reopen the record by it.
  avi->szCodecName[0] = 0;
  avi->fccVideoType = avi->fccVideoHandler = 0;
  avi->biDecoded = {};
  avi->cbVideoFormat = avi->cbAudioFormat = 0;
  avi->dwRiffDataPos = avi->dwAvihPos = avi->dwVideoStrhPos = 0;
  avi->nIndexKind = 0;
  avi->cVideoStream = avi->cAudioStream = 0;
  avi->fAllKeyFrames = 0;
  avi->nAudioKind = 0;
  avi->fReadError = 0;
  avi->fCodecConfigurable = 0;
  avi->wfPCM = {};
  for (auto& s : avi->sets) {
    s.avih = {};
    s.strhVideo = {};
    s.strhAudio = {};
  }
}

// Finds RIFF "AVI " (parent null, from the start of the file) or the LIST
// of `type` among the children of `parent`, starting at `from`. A capture
// that was cut off before its sizes were written leaves 0 in the RIFF and
// movi sizes: such a chunk is taken to reach to the end of what holds it.
bool FindTyped(RiffFile* f, const ChunkInfo* parent, uint64_t from, uint64_t fileSize, uint32_t type,
               ChunkInfo* out) {
  const uint32_t want = parent ? FourCC("LIST") : FourCC("RIFF");
  uint64_t end = parent ? std::min(parent->End(), fileSize) : fileSize;
  uint64_t pos = from;
  while (pos + 12 <= end) {
    uint8_t h[12];
    if (f->Seek(static_cast<int64_t>(pos)) < 0 || !f->ReadExact(h, 12)) return false;
    uint32_t id = GetLE32(h), size = GetLE32(h + 4);
    if (id == want && GetLE32(h + 8) == type) {
      out->ckid = id;
      out->fccType = type;
      out->dwDataOffset = pos + 8;
      out->cksize = size > 4 ? size : static_cast<uint32_t>(std::min<uint64_t>(end - pos - 8, UINT32_MAX));
      out->dirty = false;
      return true;
    }
    pos += 8 + static_cast<uint64_t>(size) + (size & 1);
  }
  return false;
}

// ---- OpenDML super-index ----

struct StdIndexRef {
  uint64_t offset;  // of the ix## chunk header
  uint32_t entries;
  uint64_t base;
};

// Reads the super-index `indx` of one stream; true when the stream's index
// came from it. On a failed attempt *reason says why.
bool ReadOpenDmlIndex(Opener& o, const ChunkInfo& indx, bool video, std::string* reason, bool* fatal) {
  OpenAviFile* avi = o.avi;
  AviStreamSet& set = avi->sets[0];
  const char* kind = video ? "ビデオ" : "オーディオ";
  auto why = [&](const std::string& text) {
    *reason = text;
    return false;
  };
  if (indx.cksize < 40 || indx.cksize > kMaxHeaderChunk) return false;
  std::vector<uint8_t> chunk(indx.cksize);
  if (!o.f->ReadExact(chunk.data(), chunk.size())) return false;
  uint16_t longsPerEntry = GetLE16(&chunk[0]);
  uint8_t indexType = chunk[3];
  uint32_t entries = GetLE32(&chunk[4]);
  uint32_t chunkId = GetLE32(&chunk[8]);
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
  uint64_t total = 0;
  for (uint32_t i = 0; i < entries; ++i) {
    const uint8_t* e = &chunk[24 + 16 * static_cast<size_t>(i)];
    uint64_t qwOffset = GetLE64(e);
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
  std::vector<StdIndexRef> sorted = refs;
  std::sort(sorted.begin(), sorted.end(), [](auto& a, auto& b) { return a.offset < b.offset; });
  for (size_t i = 1; i < sorted.size(); ++i)
    if (sorted[i].offset < sorted[i - 1].offset + 32 + 8 * static_cast<uint64_t>(sorted[i - 1].entries))
      return why(Fmt("%sのAVI2インデックスが重なっています!", kind));
  if (total > UINT32_MAX || total > o.fileSize / 8) return false;

  std::vector<FrameIndexEntry> index;
  try {
    index.reserve(static_cast<size_t>(total));
  } catch (const std::bad_alloc&) {
    *fatal = true;
    return o.Fail(video ? "必要なメモリ(フレームインデックス用)が確保できません!"
                        : "必要なメモリ(オーディオインデックス用)が確保できません!");
  }
  bool compressedId = Ch(chunkId, 3) == 'c';
  WaveFormatEx wf = avi->AudioFormat();
  bool pcm = wf.wFormatTag == 1;
  uint64_t samples = 0;
  int allKey = 1;
  std::vector<uint8_t> buf;
  for (const StdIndexRef& r : refs) {
    buf.resize(8 * static_cast<size_t>(r.entries));
    if (h->Seek(static_cast<int64_t>(r.offset + 32)) < 0 || !h->ReadExact(buf.data(), buf.size()))
      return false;
    for (uint32_t k = 0; k < r.entries; ++k) {
      uint32_t dwOffset = GetLE32(&buf[8 * k]), dwSize = GetLE32(&buf[8 * k + 4]);
      uint64_t off = r.base + dwOffset;
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
      if (!video) samples += pcm ? (wf.nBlockAlign ? size / wf.nBlockAlign : 0) : size;
    }
  }
  if (video) {
    set.pFrameIndex = std::move(index);
    set.FrameMax = static_cast<uint32_t>(set.pFrameIndex.size());
    avi->cVideoStream = Ch(chunkId, 1);
    avi->fAllKeyFrames = allKey;
  } else {
    set.pWaveIndex = std::move(index);
    set.WaveIndexEntries = set.WaveIndexAlloc = static_cast<uint32_t>(set.pWaveIndex.size());
    set.dwWaveSampleCounts = static_cast<uint32_t>(std::min<uint64_t>(samples, UINT32_MAX));
    avi->cAudioStream = Ch(chunkId, 1);
  }
  return true;
}

// Looks for "indx" in the stream list and reads it; falls back to plain AVI
// reading with a box when it cannot be used.
bool TryOpenDml(Opener& o, ChunkInfo& strl, bool video) {
  OpenAviFile* avi = o.avi;
  ChunkInfo indx;
  indx.ckid = FourCC("indx");
  if (!o.f->Descend(&indx, &strl, kFindChunk)) return true;
  if (!o.Inside(indx, strl.End())) return false;
  if (avi->nIndexKind == kIndexParsing) avi->nIndexKind = kIndexIdx1;
  o.avi->readNotes.openDmlTried = true;
  std::string reason;
  bool fatal = false;
  uint64_t here = static_cast<uint64_t>(o.f->Tell());
  if (ReadOpenDmlIndex(o, indx, video, &reason, &fatal)) {
    avi->nIndexKind = kIndexOpenDml;
  } else {
    if (fatal) return false;
    if (reason.empty()) reason = "AVI2形式での読み出し中にエラーが発生しました!";
    o.avi->readNotes.openDmlFallback = reason;
    Message(MB_OK | MB_ICONINFORMATION, nullptr, "%sの%s\n通常のAVIとして開きます.", o.name, reason.c_str());
    // Both indexes then come from idx1.
    avi->nIndexKind = kIndexIdx1;
    FreeIndexes(avi);
  }
  o.f->Seek(static_cast<int64_t>(here));
  return true;
}

// ---- headers ----

bool ReadHeaders(Opener& o, ChunkInfo& riff, bool* haveVideo, bool* haveAudio, bool* havePcm) {
  OpenAviFile* avi = o.avi;
  RiffFile* f = o.f;
  ChunkInfo hdrl;
  hdrl.fccType = FourCC("hdrl");
  if (!f->Descend(&hdrl, &riff, kFindList)) return o.Fail("%sにList/hdrlチャンクがありません!");
  if (!o.Inside(hdrl, riff.End())) return false;
  ChunkInfo avih;
  avih.ckid = FourCC("avih");
  if (!f->Descend(&avih, &hdrl, kFindChunk)) return o.Fail("%sにavihチャンクがありません!");
  if (!o.Inside(avih, hdrl.End())) return false;
  avi->dwAvihPos = avih.dwDataOffset;
  uint8_t b[56];
  if (avih.cksize < 56 || !f->ReadExact(b, 56)) return o.Fail("%sのavihチャンクが読み出せません!");
  avi->sets[0].avih = ParseMainAviHeader(b, 56);
  avi->sets[0].FrameMax = avi->sets[0].avih.dwTotalFrames;
  if (!f->Ascend(&avih)) return o.Fail("%sのアセンドができません!");

  avi->nIndexKind = kIndexParsing;
  avi->hAvi2.reset();
  while (!(*haveVideo && *havePcm)) {
    ChunkInfo strl;
    strl.fccType = FourCC("strl");
    if (!f->Descend(&strl, &hdrl, kFindList)) break;
    if (!o.Inside(strl, hdrl.End())) return false;
    ChunkInfo strh;
    strh.ckid = FourCC("strh");
    if (f->Descend(&strh, &strl, kFindChunk)) {
      if (!o.Inside(strh, strl.End())) return false;
      uint8_t sh[56] = {};
      if (strh.cksize > 8) {
        if (!f->ReadExact(sh, 8)) return o.Fail("%sのstrhチャンクが読み出せません!");
        uint32_t type = GetLE32(sh), handler = GetLE32(sh + 4);
        size_t rest = std::min<size_t>(strh.cksize - 8, 48);
        if (type == FourCC("vids")) {
          avi->dwVideoStrhPos = static_cast<uint64_t>(f->Tell());
          if (!f->ReadExact(sh + 8, rest)) return o.Fail("%sのstrhチャンクが読み出せません!");
          avi->sets[0].strhVideo = ParseStreamHeader(sh, 56);
          avi->sets[0].FrameMax = avi->sets[0].strhVideo.dwLength;
          if (!f->Ascend(&strh)) return o.Fail("%sのstrhチャンクのアセンドができません!");
          ChunkInfo strf;
          strf.ckid = FourCC("strf");
          if (f->Descend(&strf, &strl, kFindChunk) && strf.cksize >= 40) {
            if (!o.Inside(strf, strl.End())) return false;
            if (strf.cksize > kMaxHeaderChunk) return o.TooLarge(strf.ckid, strf.cksize);
            try {
              avi->pbiVideo.assign(strf.cksize, 0);
            } catch (const std::bad_alloc&) {
              return o.Fail("必要なメモリ(ビデオフォーマット用)が確保できません!");
            }
            if (f->ReadExact(avi->pbiVideo.data(), strf.cksize)) {
              *haveVideo = true;
              BitmapInfoHeader bi = avi->VideoFormat();
              avi->fccVideoType = FourCC("vids");
              avi->fccVideoHandler = handler;
              if (handler == 0 && bi.biCompression > 3) {
                avi->fccVideoHandler = bi.biCompression;
                avi->sets[0].strhVideo.fccHandler = bi.biCompression;
              }
              avi->cbVideoFormat = strf.cksize;
            }
            if (avi->nIndexKind == kIndexParsing || avi->nIndexKind == kIndexOpenDml) {
              if (!f->Ascend(&strf)) return o.Fail("%sのstrfチャンクのアセンドができません!");
              if (!TryOpenDml(o, strl, true)) return false;
            }
          }
        } else if (type == FourCC("auds")) {
          if (!f->ReadExact(sh + 8, rest)) return o.Fail("%sのstrhチャンクが読み出せません!");
          avi->sets[0].strhAudio = ParseStreamHeader(sh, 56);
          if (!f->Ascend(&strh)) return o.Fail("%sのstrhチャンクのアセンドができません!");
          ChunkInfo strf;
          strf.ckid = FourCC("strf");
          if (f->Descend(&strf, &strl, kFindChunk)) {
            if (!o.Inside(strf, strl.End())) return false;
            if (strf.cksize > kMaxHeaderChunk) return o.TooLarge(strf.ckid, strf.cksize);
            // Shorter than a WAVEFORMAT: it does not even say its block size.
            if (strf.cksize < 14) return o.Fail("%sのオーディオフォーマット(strf)が短すぎます!");
            avi->cbAudioFormat = std::max<uint32_t>(strf.cksize, 18);
            try {
              avi->pwfAudio.assign(avi->cbAudioFormat, 0);
            } catch (const std::bad_alloc&) {
              return o.Fail("必要なメモリ(オーディオフォーマット用)が確保できません!");
            }
            if (f->ReadExact(avi->pwfAudio.data(), strf.cksize)) {
              *haveAudio = true;
              WaveFormatEx wf = avi->AudioFormat();
              if (wf.wFormatTag == 1) {
                *havePcm = true;
                if (strf.cksize < 18) {
                  if (wf.nChannels)
                    wf.wBitsPerSample = static_cast<uint16_t>(wf.nBlockAlign * 8 / wf.nChannels);
                  wf.cbSize = 0;
                  StoreWaveFormat(wf, avi->pwfAudio.data());
                }
              }
            }
            if (avi->nIndexKind == kIndexParsing || avi->nIndexKind == kIndexOpenDml) {
              if (!f->Ascend(&strf)) return o.Fail("%sのstrfチャンクのアセンドができません!");
              if (!TryOpenDml(o, strl, false)) return false;
            }
          }
        }
      }
    }
    if (!f->Ascend(&strl)) return o.Fail("%sのLISTチャンクのアセンドができません!");
  }
  if (!f->Ascend(&hdrl)) return o.Fail("%sのLIST/hdrlチャンクのアセンドができません!");
  return true;
}

// Formats the rest of the program divides by or allocates from.
bool CheckFormats(Opener& o, bool haveAudio) {
  OpenAviFile* avi = o.avi;
  BitmapInfoHeader bi = avi->VideoFormat();
  int64_t w = bi.biWidth, h = bi.biHeight < 0 ? -static_cast<int64_t>(bi.biHeight) : bi.biHeight;
  if (w <= 0 || h <= 0 || w > 32768 || h > 32768)
    return o.FailText(Fmt("%sのビデオのサイズ(%dx%d)が不正です!", o.name, bi.biWidth, bi.biHeight));
  if (haveAudio) {
    WaveFormatEx wf = avi->AudioFormat();
    if (wf.nChannels == 0 || (wf.wFormatTag == 1 && wf.nBlockAlign == 0))
      return o.FailText(Fmt("%sのオーディオフォーマット(チャンネル数%u, ブロック長%u)が不正です!", o.name,
                            wf.nChannels, wf.nBlockAlign));
  }
  return true;
}

bool OpenCodec(Opener& o) {
  OpenAviFile* avi = o.avi;
  BitmapInfoHeader bi = avi->VideoFormat();
  if (IsUncompressedHandler(avi->fccVideoHandler)) {
    const char* tail = bi.biCompression == 1   ? "-RLE8"
                       : bi.biCompression == 2 ? "-RLE4"
                       : bi.biCompression == 3 ? "-BitField"
                                               : "";
    std::snprintf(avi->szCodecName, sizeof avi->szCodecName, "無圧縮%dbit%s", bi.biBitCount, tail);
    avi->hicDecompress.reset();
    avi->fCodecConfigurable = 0;
    return true;
  }
  std::string description;
  bool found;
  avi->hicDecompress.reset();
  if (VideoCodecOpener open = InstalledVideoCodecOpener()) {
    std::string why;
    avi->hicDecompress = open(avi->fccVideoHandler, avi->pbiVideo.data(), avi->pbiVideo.size(), &why);
    found = avi->hicDecompress != nullptr;
    if (found) description = avi->hicDecompress->Description();
  } else {
    // A program without decoders (the report) only names the codec.
    found = LookUpVideoCodecName(avi->fccVideoHandler, bi.biCompression, &description);
  }
  if (!found) {
    avi->fCodecFailed = true;
    if (o.mode != 3)
      Message(MB_OK | MB_ICONINFORMATION, VideoCodecOpenErrorText(o.name, avi->fccVideoHandler).c_str());
    return true;
  }
  if (description.empty()) {
    o.FailText(Fmt("ビデオコーデック%sの情報が取得できません!", FourCCText(avi->fccVideoHandler).c_str()));
    return false;
  }
  std::string d = CutUtf8(description, 127);
  std::snprintf(avi->szCodecName, sizeof avi->szCodecName, "%s", d.c_str());
  avi->fCodecConfigurable = avi->hicDecompress && avi->hicDecompress->Configurable() ? 1 : 0;
  return true;
}

// Finds the stream characters and the first video chunk in movi.
bool WalkMovi(Opener& o, ChunkInfo& riff, bool haveAudio, uint64_t* firstVideoHeader) {
  OpenAviFile* avi = o.avi;
  RiffFile* f = o.f;
  if (f->Seek(static_cast<int64_t>(avi->dwRiffDataPos)) < 0) return o.Fail("%sがシークできません!");
  ChunkInfo movi;
  if (!FindTyped(f, &riff, avi->dwRiffDataPos, o.fileSize, FourCC("movi"), &movi))
    return o.Fail("%sにList/moviチャンクがありません!");
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
    } else if (!avi->cAudioStream && IsAudioId(ck.ckid, c)) {
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
  bool pcm = avi->nAudioKind == 0;
  constexpr size_t kBlock = 4096;
  std::vector<uint8_t> buf(16 * kBlock);
  uint64_t nVideo = 0, nAudio = 0;
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
        if (IsVideoId(id, avi->cVideoStream))
          ++nVideo;
        else if (IsAudioId(id, avi->cAudioStream))
          ++nAudio;
        return true;
      }))
    return false;
  try {
    set.pWaveIndex.clear();
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
  auto outside = [&](uint64_t i) {
    return o.FailText(Fmt("%sのidx1チャンクの%llu番目のエントリがファイルの外を指しています!", o.name,
                          static_cast<unsigned long long>(i)));
  };
  std::vector<uint64_t> audioEntry;  // idx1 position of each audio entry, for messages
  if (!pass([&](uint64_t i, const uint8_t* e) {
        uint32_t id = GetLE32(e), flags = GetLE32(e + 4), off = GetLE32(e + 8), len = GetLE32(e + 12);
        bool video = IsVideoId(id, avi->cVideoStream);
        if (!video && !IsAudioId(id, avi->cAudioStream)) return true;
        if (len >= kMaxChunkSize) return o.TooLarge(id, len);
        if (video) {
          if (!pinned) {
            // The first video entry is the first video chunk in movi, so
            // offsets relative to movi and absolute offsets both resolve.
            base = static_cast<int64_t>(firstVideoHeader) - static_cast<int64_t>(off);
            pinned = true;
          }
          int64_t pos = static_cast<int64_t>(off) + 8 + base;
          if (pos < 8 || static_cast<uint64_t>(pos) >= kMaxOffset ||
              static_cast<uint64_t>(pos) > o.fileSize || o.fileSize - static_cast<uint64_t>(pos) < len)
            return outside(i);
          bool notKey = !(flags & kIdx1KeyFrame) && len != 0;
          if (notKey) avi->fAllKeyFrames = 0;
          set.pFrameIndex.push_back(
              MakeIndexEntry(static_cast<uint64_t>(pos), len, Ch(id, 3) == 'c', notKey));
        } else {
          // The base is added once it is known.
          set.pWaveIndex.push_back((static_cast<uint64_t>(off) + 8) | (static_cast<uint64_t>(len) << 38));
          audioEntry.push_back(i);
          samples += pcm ? len / wf.nBlockAlign : len;
        }
        return true;
      }))
    return false;
  for (size_t k = 0; k < set.pWaveIndex.size(); ++k) {
    FrameIndexEntry& e = set.pWaveIndex[k];
    int64_t pos = static_cast<int64_t>(IndexOffset(e)) + base;
    uint32_t len = IndexSize(e);
    if (pos < 8 || static_cast<uint64_t>(pos) >= kMaxOffset || static_cast<uint64_t>(pos) > o.fileSize ||
        o.fileSize - static_cast<uint64_t>(pos) < len)
      return outside(audioEntry[k]);
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

bool Finish(Opener& o) {
  OpenAviFile* avi = o.avi;
  // The counts are those of the index that was read. A second video stream
  // list after the one whose OpenDML index was taken sets FrameMax from its
  // own header; every reader goes by FrameMax.
  AviStreamSet& set = avi->sets[0];
  set.FrameMax = static_cast<uint32_t>(set.pFrameIndex.size());
  set.WaveIndexEntries = static_cast<uint32_t>(set.pWaveIndex.size());
  avi->biDecoded = DecodedFormat(avi->VideoFormat());
  try {
    avi->pFieldShift = ZeroedVector<uint64_t>(avi->sets[0].FrameMax);
  } catch (const std::bad_alloc&) {
    return o.Fail("必要なメモリ(フィールドずれ調整データ用)が確保できません!");
  }
  if (avi->nAudioKind == -1) {
    WaveFormatEx src = avi->AudioFormat();
    WaveFormatEx& w = avi->wfPCM;
    w = {};
    w.wFormatTag = 1;
    w.nChannels = src.nChannels;
    w.nSamplesPerSec = src.nSamplesPerSec;
    w.wBitsPerSample = 16;
    w.nBlockAlign = static_cast<uint16_t>(2 * src.nChannels);
    w.nAvgBytesPerSec = w.nBlockAlign * w.nSamplesPerSec;
    w.cbSize = 0;
    if (avi->options.decodeAudioAtOpen && avi->options.decodeAudioStream) {
      ++ME.fBusy;
      bool ok = avi->options.decodeAudioStream(avi);
      --ME.fBusy;
      if (!ok) {
        o.silent = true;
        return false;
      }
    }
  }
  if (avi->options.changeOpenAviParam && !avi->options.changeOpenAviParam(avi)) {
    o.silent = true;
    return false;
  }
  return true;
}

bool Open(Opener& o) {
  OpenAviFile* avi = o.avi;
  auto file = std::make_unique<RiffFile>();
  // Header reads are small and scattered.
  if (!file->Open(avi->szFileName.c_str(), RiffFile::ModeRead, 1 << 16)) return o.Fail("%sが開けません!");
  avi->hmmioAvi = std::move(file);
  o.f = avi->hmmioAvi.get();
  o.fileSize = o.f->Size();
  o.avi->readNotes = {};
  o.avi->readNotes.fileSize = o.fileSize;
  ChunkInfo riff;
  if (!FindTyped(o.f, nullptr, 0, o.fileSize, FourCC("AVI "), &riff))
    return o.Fail("%sにAVIチャンクがありません!");
  int64_t here = o.f->Seek(static_cast<int64_t>(riff.dwDataOffset + 4));
  if (here < 0) return o.Fail("%sがシークできません!");
  avi->dwRiffDataPos = static_cast<uint64_t>(here);

  bool haveVideo = false, haveAudio = false, havePcm = false;
  if (!ReadHeaders(o, riff, &haveVideo, &haveAudio, &havePcm)) return false;
  if (!haveVideo) {
    std::string m = Fmt("%sのvidsチャンクからビデオコーデック/ビデオフォーマットが取得できません!", o.name);
    if (!haveAudio) m += Fmt("\n%sのaudsチャンクからオーディオフォーマットが取得できません!", o.name);
    return o.FailText(m);
  }
  avi->nAudioKind = havePcm ? 0 : haveAudio ? -1 : 1;
  if (!CheckFormats(o, haveAudio)) return false;
  if (!OpenCodec(o)) return false;

  if (avi->nIndexKind != kIndexOpenDml) {
    uint64_t firstVideo = 0;
    if (!WalkMovi(o, riff, haveAudio, &firstVideo)) return false;
    bool missing = false;
    if (!ReadIdx1(o, riff, firstVideo, &missing)) return false;
    if (missing) {
      avi->nIndexKind = kIndexScanned;
      if (o.mode == 2) return o.Fail("%sにidx1チャンクがありません!");
      if (!avi->options.scanMissingIndexSilently) {
        std::string q = Fmt("%sにidx1チャンクがありません! インデックスを作成します.", o.name);
        if (CurrentHost().TimedMessageBox(q, ME.programName, MB_YESNO | MB_ICONQUESTION, 10000) != IDYES) {
          o.silent = true;
          return false;
        }
      }
      if (!RebuildAviIndex(avi, false)) {
        o.silent = true;
        return false;
      }
      avi->nIndexKind = kIndexScanned;
    }
  }
  return Finish(o);
}

}  // namespace

bool CloseOpenAvi(OpenAviFile* avi, int mode) {
  CloseRecord(avi);
  if (mode == 0) return true;
  Opener o{avi, mode, avi->szFileName.c_str(), {}};
  ++ME.fReading;
  CurrentHost().SetReadingCursor(true);
  bool ok = Open(o);
  CurrentHost().SetReadingCursor(false);
  --ME.fReading;
  if (!ok) {
    if (!o.silent && !o.msg.empty()) Message(MB_OK | MB_ICONSTOP, o.msg.c_str());
    CloseRecord(avi);
  }
  return ok;
}

// ---- index rebuild ----

namespace {

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

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
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
  HeaderReader reader(s.fd, s.size);
  const char* growing = nullptr;
  try {
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
  for (;;) {
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
  } catch (const std::system_error&) {
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

// Replaces idx1 in place. The writes are ordered so that a file cut short at
// any step still opens with every index entry inside the file: the new
// entries are written (and stored) while the old size still hides any
// surplus, then the size, and only then is the file shortened.
bool WriteIdx1InPlace(OpenAviFile* avi, const std::vector<uint8_t>& entries, uint64_t idx1DataPos) {
  const char* name = avi->szFileName.c_str();
  auto fail = [&](const char* format) {
    Message(MB_OK | MB_ICONSTOP, nullptr, format, name);
    return false;
  };
  auto Idx1WriteStep = [avi](int step) { return step != avi->options.idx1WriteFailAtStep; };
  Fd f;
  f.fd = open(name, O_RDWR | O_CLOEXEC);
  if (f.fd < 0) return fail("%sが開けません!");
  struct stat st;
  if (fstat(f.fd, &st) != 0) return fail("%sがシークできません!");
  uint64_t oldEnd = static_cast<uint64_t>(st.st_size);
  uint64_t newEnd = idx1DataPos + entries.size();
  auto put32 = [&](uint64_t pos, uint32_t v) {
    uint8_t b[4];
    PutLE32(b, v);
    return pwrite(f.fd, b, 4, static_cast<off_t>(pos)) == 4;
  };
  // 0: make room first, so the entries never run past the end of the file.
  if (newEnd > oldEnd && (!Idx1WriteStep(0) || ftruncate(f.fd, static_cast<off_t>(newEnd)) != 0))
    return fail("%sのファイルサイズを変更できません!");
  // 1, 2: the entries, stored before anything points at them.
  size_t done = 0;
  while (done < entries.size()) {
    if (!Idx1WriteStep(1)) return fail("%sにidx1チャンク書き込みでエラーが発生しました!");
    ssize_t w =
        pwrite(f.fd, entries.data() + done, entries.size() - done, static_cast<off_t>(idx1DataPos + done));
    if (w <= 0) return fail("%sにidx1チャンク書き込みでエラーが発生しました!");
    done += static_cast<size_t>(w);
  }
  if (!Idx1WriteStep(2) || fsync(f.fd) != 0) return fail("%sにidx1チャンク書き込みでエラーが発生しました!");
  // 3, 4: the new size.
  if (!Idx1WriteStep(3) || !put32(idx1DataPos - 4, static_cast<uint32_t>(entries.size())))
    return fail("%sにidx1チャンクサイズ書き込みでエラーが発生しました!");
  if (!Idx1WriteStep(4) || fsync(f.fd) != 0)
    return fail("%sにidx1チャンクサイズ書き込みでエラーが発生しました!");
  // 5: whatever followed the old idx1 goes.
  if (!Idx1WriteStep(5) || ftruncate(f.fd, static_cast<off_t>(newEnd)) != 0)
    return fail("%sのファイルサイズを変更できません!");
  // 6, 7, 8: headers.
  if (!Idx1WriteStep(6) || !put32(avi->dwRiffDataPos - 8, static_cast<uint32_t>(newEnd - 8)))
    return fail("%sにRIFFチャンクサイズ書き込みでエラーが発生しました!");
  uint32_t frames = avi->sets[0].FrameMax;
  if (!Idx1WriteStep(7) || !put32(avi->dwAvihPos + 16, frames))
    return fail("%sにavihのdwTotalFrames書き込みでエラーが発生しました!");
  if (!Idx1WriteStep(8) || !put32(avi->dwVideoStrhPos + 24, frames))
    return fail("%sにavisのdwLength書き込みでエラーが発生しました!");
  // 9: on disk before success is reported.
  if (!Idx1WriteStep(9) || fsync(f.fd) != 0)
    return fail("%sにRIFFチャンクサイズ書き込みでエラーが発生しました!");
  int fd = f.fd;
  f.fd = -1;
  if (close(fd) != 0) return fail("%sにidx1チャンク書き込みでエラーが発生しました!");
  avi->sets[0].avih.dwTotalFrames = frames;
  avi->sets[0].strhVideo.dwLength = frames;
  return true;
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
    completed = ScanStretches(setup, starts, threads, pieces, report);
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

  uint64_t idx1DataPos = 0;
  if (writeBack) {
    if (f->Seek(static_cast<int64_t>(movi.PaddedEnd())) < 0)
      return fail("%sのList/moviチャンクのアセンドができません!");
    ChunkInfo ck;
    ck.ckid = FourCC("idx1");
    if (!f->Descend(&ck, &riff, kFindChunk)) return fail("%sにidx1チャンクがありません!");
    idx1DataPos = ck.dwDataOffset;
    // Entries that lie behind the old idx1 would be cut off with it.
    for (const auto* list : {&video, &audio})
      for (FrameIndexEntry e : *list)
        if (idx1DataPos && IndexOffset(e) >= idx1DataPos) idx1Expressible = false;
  }

  video.shrink_to_fit();
  audio.shrink_to_fit();
  AviStreamSet& set = avi->sets[0];
  set.pFrameIndex = std::move(video);
  set.FrameMax = static_cast<uint32_t>(set.pFrameIndex.size());
  set.pWaveIndex = std::move(audio);
  set.WaveIndexEntries = set.WaveIndexAlloc = static_cast<uint32_t>(set.pWaveIndex.size());
  set.dwWaveSampleCounts = static_cast<uint32_t>(std::min<uint64_t>(samples, UINT32_MAX));
  if (avi->pFieldShift.size() < set.FrameMax && !avi->pFieldShift.empty())
    avi->pFieldShift.resize(set.FrameMax, 0);
  Status(0, "%sのインデックスを作成しました.", name);

  if (writeBack) {
    if (avi->nIndexKind == kIndexIdx1 && idx1DataPos && idx1Expressible) {
      std::string q =
          Fmt("作成し直した%sのインデックスを書き戻します."
              "\n書き戻さない場合、閉じると作成したインデックスは失われます.",
              name);
      // Declined or failed, the kind stays as it was: the file keeps an idx1
      // of its own (the old one, or after a failure one of the two).
      if (CurrentHost().MessageBox(q, ME.programName, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK) return true;
      if (!WriteIdx1InPlace(avi, idx1, idx1DataPos)) return false;
      avi->nIndexKind = kIndexIdx1;
    } else {
      avi->nIndexKind = kIndexRebuilt;
      Message(MB_OK | MB_ICONINFORMATION, nullptr,
              "作成し直した%sのインデックスを保存する場合は新しいAVIファイルで保存して下さい.", name);
    }
  }
  return true;
}
