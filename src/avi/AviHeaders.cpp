// The AVI reader's header part: hdrl, avih, the stream lists with their
// strh and strf, the checks of the formats and the video codec.
#include <cstdio>
#include <new>

#include "avi/AviReaderInternal.h"
#include "platform/AppState.h"
#include "platform/CodecNames.h"
#include "platform/Host.h"
#include "platform/Messages.h"

namespace avi_reader {

namespace {

bool ReadVideoList(Opener& o, ChunkInfo& strl, uint32_t handler, bool* haveVideo) {
  OpenAviFile* avi = o.avi;
  RiffFile* f = o.f;
  ChunkInfo strf;
  strf.ckid = FourCC("strf");
  if (!f->Descend(&strf, &strl, kFindChunk) || strf.cksize < kBitmapInfoHeaderBytes) return true;
  if (!o.Inside(strf, strl.End())) return false;
  if (strf.cksize > kMaxFormatChunk) return o.TooLarge(strf.ckid, strf.cksize);
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
  return true;
}

bool ReadAudioList(Opener& o, ChunkInfo& strl, bool* haveAudio, bool* havePcm) {
  OpenAviFile* avi = o.avi;
  RiffFile* f = o.f;
  ChunkInfo strf;
  strf.ckid = FourCC("strf");
  if (!f->Descend(&strf, &strl, kFindChunk)) return true;
  if (!o.Inside(strf, strl.End())) return false;
  if (strf.cksize > kMaxFormatChunk) return o.TooLarge(strf.ckid, strf.cksize);
  // Shorter than a WAVEFORMAT: it does not even say its block size.
  if (strf.cksize < 14) return o.Fail("%sのオーディオフォーマット(strf)が短すぎます!");
  avi->cbAudioFormat = std::max<uint32_t>(strf.cksize, kWaveFormatExBytes);
  try {
    avi->pwfAudio.assign(avi->cbAudioFormat, 0);
  } catch (const std::bad_alloc&) {
    return o.Fail("必要なメモリ(オーディオフォーマット用)が確保できません!");
  }
  if (f->ReadExact(avi->pwfAudio.data(), strf.cksize)) {
    *haveAudio = true;
    WaveFormatEx wf = avi->AudioFormat();
    if (wf.wFormatTag == kWaveFormatPcm) {
      *havePcm = true;
      if (strf.cksize < kWaveFormatExBytes) {
        if (wf.nChannels) wf.wBitsPerSample = static_cast<uint16_t>(wf.nBlockAlign * 8 / wf.nChannels);
        wf.cbSize = 0;
        StoreWaveFormat(wf, avi->pwfAudio.data());
      }
    }
  }
  if (avi->nIndexKind == kIndexParsing || avi->nIndexKind == kIndexOpenDml) {
    if (!f->Ascend(&strf)) return o.Fail("%sのstrfチャンクのアセンドができません!");
    if (!TryOpenDml(o, strl, false)) return false;
  }
  return true;
}

}  // namespace

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
  uint8_t b[kMainAviHeaderBytes];
  if (avih.cksize < kMainAviHeaderBytes || !f->ReadExact(b, sizeof b))
    return o.Fail("%sのavihチャンクが読み出せません!");
  avi->sets[0].avih = ParseMainAviHeader(b, sizeof b);
  avi->sets[0].FrameMax = avi->sets[0].avih.dwTotalFrames;
  if (!f->Ascend(&avih)) return o.Fail("%sのアセンドができません!");

  avi->nIndexKind = kIndexParsing;
  avi->hAvi2.reset();
  int stream = 0;       // the number of the stream list, as in its chunk ids
  char takenAudio = 0;  // the chunk character of the audio list taken
  for (; !(*haveVideo && *havePcm); ++stream) {
    ChunkInfo strl;
    strl.fccType = FourCC("strl");
    if (!f->Descend(&strl, &hdrl, kFindList)) break;
    if (!o.Inside(strl, hdrl.End())) return false;
    ChunkInfo strh;
    strh.ckid = FourCC("strh");
    if (f->Descend(&strh, &strl, kFindChunk)) {
      if (!o.Inside(strh, strl.End())) return false;
      uint8_t sh[kStreamHeaderBytes] = {};
      if (strh.cksize > 8) {
        if (!f->ReadExact(sh, 8)) return o.Fail("%sのstrhチャンクが読み出せません!");
        uint32_t type = GetLE32(sh), handler = GetLE32(sh + 4);
        size_t rest = std::min<size_t>(strh.cksize - 8, kStreamHeaderBytes - 8);
        if (type == FourCC("vids")) {
          avi->dwVideoStrhPos = static_cast<uint64_t>(f->Tell());
          if (!f->ReadExact(sh + 8, rest)) return o.Fail("%sのstrhチャンクが読み出せません!");
          avi->sets[0].strhVideo = ParseStreamHeader(sh, sizeof sh);
          avi->sets[0].FrameMax = avi->sets[0].strhVideo.dwLength;
          if (!f->Ascend(&strh)) return o.Fail("%sのstrhチャンクのアセンドができません!");
          if (!ReadVideoList(o, strl, handler, haveVideo)) return false;
        } else if (type == FourCC("auds") && *haveAudio) {
          // The audio kind, its checks and its index all come from the first
          // audio stream taken; a later one would only mix formats.
          o.audioStream = takenAudio;
        } else if (type == FourCC("auds")) {
          if (!f->ReadExact(sh + 8, rest)) return o.Fail("%sのstrhチャンクが読み出せません!");
          avi->sets[0].strhAudio = ParseStreamHeader(sh, sizeof sh);
          if (!f->Ascend(&strh)) return o.Fail("%sのstrhチャンクのアセンドができません!");
          if (!ReadAudioList(o, strl, haveAudio, havePcm)) return false;
          if (*haveAudio) takenAudio = stream < 10 ? static_cast<char>('0' + stream) : 0;
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
  // The one limit of every reader of pictures, applied here so that a picture
  // no converter takes is refused at open.
  if (!FrameSizeUsable(bi.biWidth, bi.biHeight))
    return o.FailText(Fmt("%sのビデオのサイズ(%dx%d)が不正です!", o.name, bi.biWidth, bi.biHeight));
  if (haveAudio) {
    WaveFormatEx wf = avi->AudioFormat();
    if (wf.nChannels == 0 || (wf.wFormatTag == kWaveFormatPcm && wf.nBlockAlign == 0))
      return o.FailText(Fmt("%sのオーディオフォーマット(チャンネル数%u, ブロック長%u)が不正です!", o.name,
                            wf.nChannels, wf.nBlockAlign));
  }
  return true;
}

bool OpenCodec(Opener& o) {
  OpenAviFile* avi = o.avi;
  BitmapInfoHeader bi = avi->VideoFormat();
  if (IsUncompressedHandler(avi->fccVideoHandler)) {
    const char* tail = bi.biCompression == kBiRle8        ? "-RLE8"
                       : bi.biCompression == kBiRle4      ? "-RLE4"
                       : bi.biCompression == kBiBitfields ? "-BitField"
                                                          : "";
    std::snprintf(avi->szCodecName, sizeof avi->szCodecName, "無圧縮%dbit%s", bi.biBitCount, tail);
    avi->hicDecompress.reset();
    avi->fCodecConfigurable = 0;
    return true;
  }
  std::string description;
  bool found;
  avi->hicDecompress.reset();
  if (VideoCodecOpener open = avi->options.videoCodecOpener) {
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

}  // namespace avi_reader
