#include "audio/AudioDecode.h"

#include <algorithm>
#include <cstring>

#include "audio/AudioCodec.h"
#include "audio/ChunkReader.h"
#include "platform/AppState.h"
#include "platform/Host.h"
#include "platform/Messages.h"

namespace {

// Writes the decoded stream as a RIFF WAVE file: fmt, the signature, data.
class WorkFileWriter {
 public:
  bool Begin(const std::string& path, const WaveFormatEx& pcm) {
    if (!file_.Open(path, RiffFile::ModeCreate)) return false;
    riff_.fccType = FourCC("WAVE");
    if (!file_.CreateChunk(&riff_, kCreateRiff)) return false;
    uint8_t fmt[kWaveFormatExBytes];
    StoreWaveFormat(pcm, fmt);
    if (!WriteChunk(FourCC("fmt "), fmt, sizeof fmt)) return false;
    std::string junk = Fmt("%s Ver %d.%02d.", kWorkFileSignature, 1, 2);
    if (!WriteChunk(FourCC("JUNK"), junk.data(), junk.size())) return false;
    data_.ckid = FourCC("data");
    return file_.CreateChunk(&data_, 0);
  }
  bool Write(const std::vector<uint8_t>& bytes) {
    written_ += bytes.size();
    return bytes.empty() || file_.Write(bytes.data(), bytes.size());
  }
  bool End() { return file_.Ascend(&data_) && file_.Ascend(&riff_) && file_.Close(); }
  uint64_t DataOffset() const { return data_.dwDataOffset; }
  uint64_t DataBytes() const { return written_; }

 private:
  bool WriteChunk(uint32_t id, const void* p, size_t n) {
    ChunkInfo ck;
    ck.ckid = id;
    return file_.CreateChunk(&ck, 0) && file_.Write(p, n) && file_.Ascend(&ck);
  }
  RiffFile file_;
  ChunkInfo riff_, data_;
  uint64_t written_ = 0;
};

bool Decode(OpenAviFile* avi, uint32_t pieceBytes) {
  const AviStreamSet& set = avi->sets[0];
  PcmDecoder decoder;
  if (!decoder.Open(avi->pwfAudio, avi->wfPCM)) return false;
  if (!avi->pcmWorkFile.Create()) return false;
  avi->szPCMFile = avi->pcmWorkFile.path();
  WorkFileWriter out;
  if (!out.Begin(avi->szPCMFile, avi->wfPCM)) return false;

  const char* name = avi->szFileName.c_str();
  std::vector<uint8_t> pcm;
  uint64_t total = set.dwWaveSampleCounts, done = 0;
  unsigned long lastPct = ~0ul;
  // The audio flag stays off: the chunks are in the AVI, not in the work file.
  ChunkReader reader(avi, set.pWaveIndex.data(), static_cast<uint32_t>(set.pWaveIndex.size()), false);
  for (uint32_t k = 0; k < set.pWaveIndex.size(); ++k) {
    uint32_t size = IndexSize(set.pWaveIndex[k]);
    const uint8_t* chunk = size > 0 ? reader.Read(k, 0, size) : nullptr;
    if (size > 0 && !chunk) return false;
    pcm.clear();
    if (!decoder.Decode(chunk, size, &pcm) || !out.Write(pcm)) return false;
    if (PumpAndTestAbort()) return false;
    done += size;
    unsigned long pct =
        total ? static_cast<unsigned long>(std::min<uint64_t>(done, total) * 100 / total) : 100;
    if (pct != lastPct) {
      lastPct = pct;
      Status(0, "%sオーディオデコード中(%3lu%%) ESC:中止", name, pct);
      CurrentHost().SetTitleSuffix(Fmt(" (%sオーディオデコード中 %3lu%%)", name, pct));
    }
  }
  pcm.clear();
  if (!decoder.Finish(&pcm) || !out.Write(pcm) || !out.End()) return false;

  auto file = std::make_unique<RiffFile>();
  if (!file->Open(avi->szPCMFile, RiffFile::ModeRead)) return false;
  uint64_t bytes = out.DataBytes();
  if (bytes / avi->wfPCM.nBlockAlign > UINT32_MAX) return false;
  std::vector<FrameIndexEntry> index;
  for (uint64_t at = 0; at < bytes; at += pieceBytes)
    index.push_back(MakeIndexEntry(out.DataOffset() + at,
                                   static_cast<uint32_t>(std::min<uint64_t>(pieceBytes, bytes - at)), false,
                                   false));
  avi->hmmioPCM = std::move(file);
  avi->pIndexPCM = std::move(index);
  avi->pcmStamp = NextIndexStamp();
  avi->dwIndexPCM = static_cast<uint32_t>(avi->pIndexPCM.size());
  avi->dwSamplesPCM = static_cast<uint32_t>(bytes / avi->wfPCM.nBlockAlign);
  return true;
}

}  // namespace

bool DecodeAudioStream(OpenAviFile* avi) {
  return DecodeAudioStream(avi, kPcmPieceBytes);
}

bool DecodeAudioStream(OpenAviFile* avi, uint32_t pieceBytes) {
  if (avi->hmmioPCM) return true;
  if (pieceBytes == 0 || pieceBytes > kIndexSizeMask || avi->wfPCM.nBlockAlign == 0) return false;
  bool ok = false;
  try {
    ok = Decode(avi, pieceBytes);
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  CurrentHost().SetTitleSuffix("");
  if (!ok) {
    std::vector<FrameIndexEntry>().swap(avi->pIndexPCM);
    avi->pcmStamp = NextIndexStamp();
    avi->dwIndexPCM = avi->dwSamplesPCM = 0;
    avi->hmmioPCM.reset();
    avi->pcmWorkFile.Remove();
    avi->szPCMFile.clear();
    if (!ME.fAbort) Message(MB_OK | MB_ICONSTOP, "オーディオのデコードに失敗しました!");
  }
  return ok;
}
