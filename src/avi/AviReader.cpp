// Opening and closing an AVI file record: the steps in their order. The
// headers, idx1, the OpenDML indexes and the scan live in files of their own.
#include "avi/AviReader.h"

#include <unistd.h>

#include <new>

#include "avi/AviReaderInternal.h"
#include "platform/AppState.h"
#include "platform/Host.h"
#include "platform/Messages.h"

namespace avi_reader {

void FreeIndexes(OpenAviFile* avi) {
  for (auto& s : avi->sets) {
    std::vector<FrameIndexEntry>().swap(s.pFrameIndex);
    std::vector<FrameIndexEntry>().swap(s.pWaveIndex);
    s.FrameMax = s.WaveIndexAlloc = s.WaveIndexEntries = s.dwWaveSampleCounts = 0;
    s.waveStamp = NextIndexStamp();
  }
}

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

}  // namespace avi_reader

namespace {

using namespace avi_reader;

void CloseRecord(OpenAviFile* avi) {
  // The frame reader's decoder state belongs to the file as it was.
  avi->frameReader.reset();
  avi->frameInfo = {};
  avi->hAvi2.reset();
  std::vector<FrameIndexEntry>().swap(avi->pIndexPCM);
  avi->pcmStamp = NextIndexStamp();
  avi->dwIndexPCM = avi->dwSamplesPCM = 0;
  avi->hmmioPCM.reset();
  if (!avi->szPCMFile.empty()) unlink(avi->szPCMFile.c_str());
  avi->pcmWorkFile.Remove();
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
  // An open is a run of its own unless an operation opens files as it goes:
  // an Esc left over from an earlier run must not stop it.
  if (!ME.fBusy) ME.fAbort = 0;
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
