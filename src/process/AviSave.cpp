#include "process/AviSave.h"

#include <strings.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "audio/AudioDecode.h"
#include "command/CommandIds.h"
#include "frame/Capture.h"
#include "frame/Convert.h"
#include "platform/AppState.h"
#include "platform/Format.h"
#include "platform/Messages.h"
#include "platform/Paths.h"
#include "platform/VideoCodec.h"

namespace {

// The frame of the set 0 index that a local frame of the current set is.
int64_t Set0Frame(const OpenAviFile* file, uint32_t local) {
  if (file->pCurrentSet == &file->sets[1] && local < file->pFrameOffset.size())
    return static_cast<int64_t>(local) + file->pFrameOffset[local];
  return local;
}

// The descriptor the frame reader reads a file's video chunks from.
int VideoDescriptor(const OpenAviFile* file) {
  const RiffFile* f =
      file->nIndexKind == kIndexOpenDml && file->hAvi2 ? file->hAvi2.get() : file->hmmioAvi.get();
  return f ? f->Descriptor() : -1;
}

}  // namespace

std::string OpenedFileRefusal(const OpenAviTable& table, const std::string& path) {
  const std::string resolved = ResolvedPath(path);
  for (int i = 0; i < table.nOpenAvi; ++i) {
    const std::string& name = table.pOpenAviList[static_cast<size_t>(i)].szFileName;
    if (SameFile(name, path) || (!resolved.empty() && ResolvedPath(name) == resolved))
      return "保存するAVIファイル名は開いているAVIファイル名です!";
  }
  return {};
}

std::string WithAviExtension(const std::string& path) {
  if (path.size() >= 4 && strcasecmp(path.c_str() + path.size() - 4, ".avi") == 0) return path;
  return path + ".avi";
}

AviSaveOperation::AviSaveOperation(std::string output, AviSaveOptions options, FrameRangeChoice range)
    : output_(std::move(output)), options_(std::move(options)), range_(range) {}
AviSaveOperation::~AviSaveOperation() = default;

int AviSaveOperation::Command() const {
  return kCmdSaveAvi;
}

bool AviSaveOperation::Fail(FrameOperationDriver& d, const std::string& text) {
  d.Fail(text);
  return false;
}

bool AviSaveOperation::SetUp(FrameOperationDriver& d) {
  if (output_.empty()) {
    d.CancelRun();
    return false;
  }
  // Before anything is written: the sources are only ever read.
  std::string refusal = OpenedFileRefusal(d.shown.table, output_);
  if (!refusal.empty()) return Fail(d, refusal);
  return true;
}

void AviSaveOperation::LogStart(FrameOperationDriver& d) {
  if (!LogIsOpen()) return;
  Log("[%s] %s %s(%ld-%ld) -> %s\r\n", TimeStamp().c_str(), d.opName.c_str(),
      d.shown.table.pOpenAviList[0].szFileName.c_str(), static_cast<long>(d.from), static_cast<long>(d.to),
      output_.c_str());
}

bool AviSaveOperation::Prepare(FrameOperationDriver& d) {
  OpenAviTable& t = d.shown.table;
  OpenAviFile* src = &t.pOpenAviList[0];
  const char* out = output_.c_str();
  const int64_t frames = d.to - d.from + 1;
  planned_ = static_cast<uint32_t>(frames);
  double rate = t.EffectiveFrameRate();
  if (!(rate > 0)) rate = 30;

  if (options_.dvReference) {
    if (!IsDvCodec(src))
      return Fail(d, Fmt("%sはDVのAVIファイルではないので参照出力できません!", src->szFileName.c_str()));
    mode_ = Mode::kDvReference;
  } else if (options_.copy) {
    mode_ = Mode::kCopy;
  } else {
    mode_ = options_.codec ? Mode::kRecompress : Mode::kUncompressed;
  }

  const BitmapInfoHeader in = src->biDecoded;
  const int width = in.biWidth, height = in.biHeight < 0 ? -in.biHeight : in.biHeight;
  const bool decodes = mode_ == Mode::kRecompress || mode_ == Mode::kUncompressed;
  const bool clips =
      decodes && (options_.clipTop || options_.clipBottom || options_.clipLeft || options_.clipRight);
  outWidth_ = width;
  outHeight_ = height;
  if (clips) {
    const int64_t w = int64_t{width} - options_.clipLeft - options_.clipRight;
    const int64_t h = int64_t{height} - options_.clipTop - options_.clipBottom;
    if (w <= 0 || h <= 0 ||
        !FrameSizeUsable(static_cast<int32_t>(std::min<int64_t>(w, INT32_MAX)),
                         static_cast<int32_t>(std::min<int64_t>(h, INT32_MAX))))
      return Fail(d, Fmt("クリッピング後の画像サイズ%lldx%lldが不正です!", static_cast<long long>(w),
                         static_cast<long long>(h)));
    outWidth_ = static_cast<int>(w);
    outHeight_ = static_cast<int>(h);
  }
  outStride_ = BgrStride(outWidth_);
  const uint32_t sizeImage = static_cast<uint32_t>(outStride_ * static_cast<size_t>(outHeight_));
  if (clips) {
    try {
      clipped_.assign(sizeImage, 0);
    } catch (const std::bad_alloc&) {
      return Fail(d, "必要なメモリ(画像サイズ拡大用)が確保できません!");
    }
  }

  AviOutputHeaders h;
  h.avih = src->Set().avih;
  h.avih.dwTotalFrames = planned_;
  h.avih.dwWidth = static_cast<uint32_t>(outWidth_);
  h.avih.dwHeight = static_cast<uint32_t>(outHeight_);
  h.avih.dwFlags |= 0x10;  // AVIF_HASINDEX: the file always ends with its idx1
  h.videoHeader = src->Set().strhVideo;
  h.videoHeader.fccType = FourCC("vids");
  if (clips) {
    h.videoHeader.rcFrame[2] = static_cast<int16_t>(outWidth_);
    h.videoHeader.rcFrame[3] = static_cast<int16_t>(outHeight_);
  }
  h.videoHeader.dwStart = 0;
  h.videoHeader.dwLength = planned_;
  if (t.fixedRateOn) {
    h.avih.dwMicroSecPerFrame = static_cast<uint32_t>(std::floor(1000000.0 / rate + 0.5));
    uint32_t r = 0, s = 0;
    if (ParseFrameRateText(t.fixedRateText, &r, &s)) {
      h.videoHeader.dwRate = r;
      h.videoHeader.dwScale = s;
    }
  }

  switch (mode_) {
    case Mode::kRecompress:
      encoder_ = std::make_unique<VideoEncoder>();
      if (!encoder_->Open(options_.codec, outWidth_, outHeight_, h.videoHeader.dwRate, h.videoHeader.dwScale,
                          options_.codecOptions))
        return Fail(d, Fmt("ビデオコーデック%sが開けません!", FourCCText(options_.codec).c_str()));
      h.videoHeader.fccHandler = options_.codec;
      h.videoHeader.dwSuggestedBufferSize = encoder_->SuggestedBufferSize();
      h.videoFormat = encoder_->Format();
      break;
    case Mode::kUncompressed: {
      h.videoHeader.fccHandler = FourCC("DIB ");
      h.videoHeader.dwSuggestedBufferSize = sizeImage;
      BitmapInfoHeader bi{};
      bi.biSize = 40;
      bi.biWidth = outWidth_;
      bi.biHeight = outHeight_;
      bi.biPlanes = 1;
      bi.biBitCount = 24;
      bi.biSizeImage = sizeImage;
      h.videoFormat.assign(40, 0);
      StoreBitmapInfoHeader(bi, h.videoFormat.data());
      break;
    }
    case Mode::kCopy:
      h.videoFormat = src->pbiVideo;
      break;
    case Mode::kDvReference: {
      h.videoHeader.fccHandler = FourCC("dvrs");
      h.videoFormat = src->pbiVideo;
      // What a record cannot hold is refused before anything is written;
      // frames that are references themselves are checked as they come.
      for (int64_t f = d.from; f <= d.to; ++f) {
        FramePlace place = t.GlobalToLocal(static_cast<uint32_t>(f));
        const OpenAviFile& file = t.pOpenAviList[static_cast<size_t>(place.file)];
        if (SameFourCCNoCase(file.fccVideoHandler, FourCC("dvrs")) ||
            SameFourCCNoCase(file.fccVideoHandler, FourCC("cdvc")))
          continue;
        const std::string name = ResolvedPath(file.szFileName);
        if (name.size() > 259) return Fail(d, Fmt("%sの参照ファイル名%sが長すぎます!", out, name.c_str()));
        if (place.frame >= file.Set().pFrameIndex.size()) continue;
        FrameIndexEntry e = file.Set().pFrameIndex[place.frame];
        if (IndexOffset(e) + IndexSize(e) > 0xFFFFFFFFull)
          return Fail(d, Fmt("%sのフレーム%ldは4GiBを超える位置にあるので参照出力できません!",
                             file.szFileName.c_str(), static_cast<long>(f)));
      }
      break;
    }
  }

  // Audio: every 30 frames, the samples of those frames of the view.
  wave_ = std::make_unique<ReadWave>(t);
  if (!options_.audio.videoOnly && wave_->State() == TableAudio::kNotDecoded)
    DecodeAudioStream(wave_->AudioFile());
  const TableAudio state = wave_->State();
  audio_ = !options_.audio.videoOnly && state != TableAudio::kNone;
  if (audio_ && state == TableAudio::kNotDecoded) return Fail(d, Fmt("%sのオーディオが読み出せません!", out));
  if (audio_) {
    const OpenAviFile* af = wave_->AudioFile();
    const WaveFormatEx wf = wave_->Format();
    const uint32_t n30 = static_cast<uint32_t>(std::min<int64_t>(frames, 30));
    const uint64_t bytes =
        static_cast<uint64_t>(std::floor(double(wf.nBlockAlign) * wf.nSamplesPerSec * n30 / rate));
    const uint64_t bufferSize = (bytes + 511) & ~uint64_t{255};
    try {
      audioBuffer_.reserve(bufferSize + 256);
    } catch (const std::bad_alloc&) {
      return Fail(d, Fmt("必要なメモリ(%lu/AVI保存オーディオ用)が確保できません!",
                         static_cast<unsigned long>(bufferSize + 256)));
    }
    h.audio = true;
    h.audioHeader = af->Set().strhAudio;
    h.audioHeader.fccType = FourCC("auds");
    encodeAudio_ = options_.audio.encodeAudio && options_.audio.format.size() >= 18;
    if (!encodeAudio_) {
      if (af->nAudioKind == 0 && af->pwfAudio.size() >= 18) {
        const uint16_t cb = static_cast<uint16_t>(af->pwfAudio[16] | af->pwfAudio[17] << 8);
        h.audioFormat.assign(
            af->pwfAudio.begin(),
            af->pwfAudio.begin() + static_cast<long>(std::min<size_t>(af->pwfAudio.size(), 18u + cb)));
      } else {
        WaveFormatEx pcm = wf;
        pcm.cbSize = 0;
        h.audioFormat.assign(18, 0);
        StoreWaveFormat(pcm, h.audioFormat.data());
      }
      h.audioHeader.fccHandler = wf.wFormatTag;
      h.audioHeader.dwScale = wf.nBlockAlign;
      h.audioHeader.dwRate = uint32_t{wf.nBlockAlign} * wf.nSamplesPerSec;
      h.audioHeader.dwLength = static_cast<uint32_t>(std::floor(double(wf.nSamplesPerSec) * frames / rate));
      h.audioHeader.dwSuggestedBufferSize = static_cast<uint32_t>(bufferSize);
      h.audioHeader.dwSampleSize = wf.nBlockAlign;
      audioBlockAlign_ = wf.nBlockAlign ? wf.nBlockAlign : 1;
    } else {
      audioEncoder_.source = wf;
      audioEncoder_.destination = options_.audio.format;
      if (!audioEncoder_.EncodeAudioStream(0, nullptr, static_cast<uint32_t>(bufferSize + 256), nullptr,
                                           nullptr)) {
        d.CancelRun();  // the encoder said why
        return false;
      }
      const WaveFormatEx enc = ParseWaveFormat(options_.audio.format.data(), options_.audio.format.size());
      h.audioFormat.assign(
          options_.audio.format.begin(),
          options_.audio.format.begin() +
              static_cast<long>(std::min<size_t>(options_.audio.format.size(), 18u + enc.cbSize)));
      h.audioHeader.fccHandler = enc.wFormatTag;
      h.audioHeader.dwScale = enc.nBlockAlign;
      h.audioHeader.dwRate = enc.nAvgBytesPerSec;
      h.audioHeader.dwLength = static_cast<uint32_t>(std::floor(double(enc.nAvgBytesPerSec) * frames / rate));
      h.audioHeader.dwSuggestedBufferSize =
          (static_cast<uint32_t>(std::floor(double(enc.nAvgBytesPerSec) * n30 / rate)) + 511) & ~255u;
      h.audioHeader.dwSampleSize = enc.nBlockAlign;
      audioBlockAlign_ = enc.nBlockAlign ? enc.nBlockAlign : 1;
    }
  }
  h.avih.dwStreams = audio_ ? 2 : 1;

  out_.partLimit = partLimit;
  if (!out_.Create(output_, h)) return Fail(d, out_.Error());
  created_ = true;
  return true;
}

bool AviSaveOperation::WriteAudioBlock(FrameOperationDriver& d) {
  const uint32_t n = static_cast<uint32_t>(std::min<int64_t>(30, d.to - d.frame + 1));
  if (!wave_->Run(kWaveFrameRangeToBuffer, waveSettings_, std::string(), static_cast<uint32_t>(d.frame), n,
                  &audioBuffer_)) {
    if (ME.fAbort) {
      // Esc: the file ends before this frame.
      stopped_ = true;
      d.abortRequested = 1;
      d.runState = 0;
      return true;
    }
    return Fail(d, Fmt("%sのオーディオが読み出せません!", output_.c_str()));
  }
  const uint8_t* data = audioBuffer_.data();
  uint32_t bytes = static_cast<uint32_t>(audioBuffer_.size());
  if (encodeAudio_) {
    const int mode = d.to - d.frame + 1 > 30 ? 1 : 2;
    if (!audioEncoder_.EncodeAudioStream(mode, data, bytes, &data, &bytes)) {
      d.CancelRun();
      return false;
    }
  }
  if (!out_.WriteAudio(data, bytes)) return Fail(d, out_.Error());
  audioTotal_ += bytes;
  return true;
}

bool AviSaveOperation::Read(FrameOperationDriver& d) {
  decoded_ = false;
  if (!created_ && !Prepare(d)) return false;
  if (stopped_) return true;
  if (audio_ && (d.frame - d.from) % 30 == 0) {
    if (!WriteAudioBlock(d)) return false;
    if (stopped_) return true;
  }
  OpenAviTable& t = d.shown.table;
  FramePlace place = t.GlobalToLocal(static_cast<uint32_t>(d.frame));
  OpenAviFile* file = &t.pOpenAviList[static_cast<size_t>(place.file)];
  if (place.frame >= file->Set().pFrameIndex.size()) return false;
  const FrameIndexEntry entry = file->Set().pFrameIndex[place.frame];

  // A kept segment starts at the range's first frame, in another file, and
  // at the first frame kept after a deletion range.
  const int64_t set0 = Set0Frame(file, place.frame);
  const bool segmentStart = d.frame == d.from || place.file != lastFile_ || set0 != lastSet0_ + 1;
  lastFile_ = place.file;
  lastSet0_ = set0;

  if (IndexIsNull(entry)) {
    // Only the shown frame number follows; there is nothing to read.
    d.shown.reader.ReadFrame(nullptr, nullptr, nullptr, static_cast<uint32_t>(d.frame), 0);
    if (mode_ == Mode::kCopy && segmentStart) inRun_ = false;
    if (!out_.WriteNullVideo(IndexIsCompressed(entry) ? FourCC("00dc") : FourCC("00db")))
      return Fail(d, out_.Error());
    return true;
  }
  switch (mode_) {
    case Mode::kDvReference:
      return WriteReference(d, file, entry);
    case Mode::kCopy:
      return WriteCopy(d, file, place.frame, entry, segmentStart);
    default:
      return WriteDecoded(d, file);
  }
}

const uint8_t* AviSaveOperation::ClippedFrame(FrameOperationDriver& d) {
  FrameReader& r = d.shown.reader;
  const FrameGeometry& g = r.framePool.geometry;
  const uint8_t* pixels = r.Slot(kAdjustedFrame);
  if (!r.mixedFields) {
    SplitFields(r.Slot(kWorkFrame9), pixels, g.height, g.stride, FieldDirection::Join, false);
    pixels = r.Slot(kWorkFrame9);
  }
  if (clipped_.empty()) return pixels;
  // Rows are bottom-up: output row 0 is source row clipBottom. Whatever
  // lies outside the source (negative clipping) stays black.
  const int64_t left = options_.clipLeft;
  const int64_t x0 = std::max<int64_t>(0, -left), x1 = std::min<int64_t>(outWidth_, g.width - left);
  for (int y = 0; y < outHeight_; ++y) {
    uint8_t* dest = clipped_.data() + outStride_ * static_cast<size_t>(y);
    std::memset(dest, 0, outStride_);
    const int64_t sy = int64_t{y} + options_.clipBottom;
    if (sy < 0 || sy >= g.height || x1 <= x0) continue;
    std::memcpy(dest + 3 * x0, pixels + g.stride * static_cast<size_t>(sy) + 3 * (x0 + left),
                static_cast<size_t>(3 * (x1 - x0)));
  }
  return clipped_.data();
}

bool AviSaveOperation::WriteDecoded(FrameOperationDriver& d, const OpenAviFile* file) {
  FrameReader& r = d.shown.reader;
  const uint64_t decodes = r.FrameDecodeCount();
  // While nothing is shown and the encoder took this file's last picture as
  // the decoder made it, the frame is not converted to RGB at all.
  const bool pictureOnly = d.suppressDisplay && pictureFile_ == file;
  if (!r.ReadFrame(nullptr, r.Slot(kAdjustedFrame), nullptr, static_cast<uint32_t>(d.frame),
                   pictureOnly ? unsigned{RF_DECODER_PICTURE_ONLY} : 0u))
    return false;
  const bool fresh = r.FrameDecodeCount() == decodes + 1;
  decoded_ = !(pictureOnly && fresh);
  pictureFile_ = nullptr;
  // A picture the source's decoder has just made in the encoder's own
  // layout goes to it as it is: the round trip through 24-bit RGB would
  // cost time and a little precision both ways.
  const AVFrame* picture = mode_ == Mode::kRecompress && clipped_.empty() && file->hicDecompress && fresh
                               ? file->hicDecompress->Picture()
                               : nullptr;
  if (!decoded_ && !(picture && encoder_->TakesPicture(picture))) {
    // The picture does not suit the encoder after all: read it in RGB.
    if (!r.ReadFrame(nullptr, r.Slot(kAdjustedFrame), nullptr, static_cast<uint32_t>(d.frame), 0))
      return false;
    decoded_ = true;
    picture = nullptr;
  }
  if (picture && encoder_->TakesPicture(picture)) {
    pictureFile_ = file;
    bool key = true;
    if (!encoder_->CompressPicture(picture, chunk_, &key))
      return Fail(d, Fmt("%sのフレーム%ldが圧縮できません!", output_.c_str(), static_cast<long>(d.frame)));
    if (!out_.WriteVideo(FourCC("00db"), chunk_.data(), static_cast<uint32_t>(chunk_.size()),
                         key ? kAviIfKeyframe : 0))
      return Fail(d, out_.Error());
    return true;
  }
  const uint8_t* pixels = ClippedFrame(d);
  if (mode_ == Mode::kUncompressed) {
    if (!out_.WriteVideo(FourCC("00db"), pixels,
                         static_cast<uint32_t>(outStride_ * static_cast<size_t>(outHeight_)), kAviIfKeyframe))
      return Fail(d, out_.Error());
    return true;
  }
  bool key = true;
  if (!encoder_->Compress(pixels, outStride_, chunk_, &key))
    return Fail(d, Fmt("%sのフレーム%ldが圧縮できません!", output_.c_str(), static_cast<long>(d.frame)));
  if (!out_.WriteVideo(FourCC("00db"), chunk_.data(), static_cast<uint32_t>(chunk_.size()),
                       key ? kAviIfKeyframe : 0))
    return Fail(d, out_.Error());
  return true;
}

bool AviSaveOperation::WriteCopy(FrameOperationDriver& d, OpenAviFile* file, uint32_t local,
                                 FrameIndexEntry entry, bool segmentStart) {
  // A segment that starts with a delta frame cannot be decoded from its own
  // chunks: it is recompressed with the source's codec up to a key frame.
  const bool canRecompress =
      !options_.keepDeltaSegments && !IsDvCodec(file) && file->hicDecompress && !file->fCodecFailed;
  if (segmentStart) {
    inRun_ = canRecompress && !IndexIsKey(entry);
    runFrames_ = 0;
  } else if (inRun_ && runFrames_ >= options_.recompressFrames && IndexIsKey(entry)) {
    inRun_ = false;
  }
  if (inRun_) {
    const bool first = runFrames_ == 0;
    ++runFrames_;
    return CompressWithSourceCodec(d, file, local, first);
  }
  FrameReader& r = d.shown.reader;
  const uint32_t flags = IndexIsKey(entry) ? kAviIfKeyframe : 0;
  const int copied =
      out_.CopyVideo(FourCC("00db"), VideoDescriptor(file), IndexOffset(entry), IndexSize(entry), flags);
  if (copied < 0) return Fail(d, out_.Error());
  if (copied > 0) {
    // What the read would have done besides reading: the file and the
    // frame number follow.
    r.ReadFrame(nullptr, nullptr, nullptr, static_cast<uint32_t>(d.frame), 0);
    r.previousFrame = r.currentFrame;
    r.currentFrame = static_cast<uint32_t>(d.frame);
    return true;
  }
  if (!r.ReadFrame(nullptr, r.Slot(kRawChunk), nullptr, static_cast<uint32_t>(d.frame), RF_RAW_INTO_DEST))
    return false;
  if (!out_.WriteVideo(FourCC("00db"), r.RawData(), static_cast<uint32_t>(r.RawSize()), flags))
    return Fail(d, out_.Error());
  return true;
}

bool AviSaveOperation::CompressWithSourceCodec(FrameOperationDriver& d, OpenAviFile* file, uint32_t local,
                                               bool first) {
  if (codecFile_ != file) {
    codecFile_ = nullptr;
    sourceCompressor_ = std::make_unique<VideoCompressor>();
    sourceEncoder_.reset();
    const AVIStreamHeader& sh = file->Set().strhVideo;
    if (!sourceCompressor_->Open(file->fccVideoHandler, file->pbiVideo.data(), file->pbiVideo.size(),
                                 sh.dwRate, sh.dwScale)) {
      sourceCompressor_.reset();
      // A codec whose chunks carry their own set-up (MPEG-4) also fits when
      // the encoder needs no extra data beside them.
      const BitmapInfoHeader bi = file->VideoFormat();
      const uint32_t tag =
          IsUncompressedHandler(file->fccVideoHandler) ? bi.biCompression : file->fccVideoHandler;
      sourceEncoder_ = std::make_unique<VideoEncoder>();
      if (!sourceEncoder_->Open(tag, bi.biWidth, bi.biHeight < 0 ? -bi.biHeight : bi.biHeight, sh.dwRate,
                                sh.dwScale) ||
          sourceEncoder_->ExtraBytes() != 0)
        return Fail(
            d, Fmt("ビデオコーデック%sの圧縮開始に失敗しました!", FourCCText(file->fccVideoHandler).c_str()));
    }
    codecFile_ = file;
  }
  FrameReader& r = d.shown.reader;
  if (!r.ReadFrame(nullptr, r.Slot(kAdjustedFrame), nullptr, static_cast<uint32_t>(d.frame), 0)) return false;
  decoded_ = true;
  const uint8_t* pixels = ClippedFrame(d);
  const size_t stride = r.framePool.geometry.stride;
  const bool ok = sourceCompressor_ ? sourceCompressor_->Compress(pixels, stride, chunk_)
                                    : sourceEncoder_->Compress(pixels, stride, chunk_);
  if (!ok)
    return Fail(d, Fmt("%sのフレーム%ld(%ld)が圧縮できません!", output_.c_str(), static_cast<long>(d.frame),
                       static_cast<long>(local)));
  if (!out_.WriteVideo(FourCC("00db"), chunk_.data(), static_cast<uint32_t>(chunk_.size()),
                       first ? kAviIfKeyframe : 0))
    return Fail(d, out_.Error());
  ++recompressed_;
  return true;
}

bool AviSaveOperation::WriteReference(FrameOperationDriver& d, OpenAviFile* file, FrameIndexEntry entry) {
  FrameReader& r = d.shown.reader;
  if (!r.ReadFrame(nullptr, r.Slot(kRawChunk), nullptr, static_cast<uint32_t>(d.frame), RF_RAW_INTO_DEST))
    return false;
  const FrameReadRecord& rec = file->frameInfo;
  std::string name;
  uint64_t offset = IndexOffset(entry);
  uint32_t size = IndexSize(entry);
  if (rec.refKind == kRefDvrs || rec.refKind == kRefCdvc) {
    // A reference is passed on: the same file, place and size.
    ReferenceInfo info;
    info.kind = rec.refKind;
    info.refFrame = rec.refFrame;
    info.refFrame2 = rec.refFrame2;
    ReferencedDataLocation(info, offset, size);
    name = rec.refFileName;
  } else {
    name = ResolvedPath(file->szFileName);
    if (name.empty()) name = file->szFileName;
  }
  if (name.size() > 259)
    return Fail(d, Fmt("%sの参照ファイル名%sが長すぎます!", output_.c_str(), name.c_str()));
  if (offset + size > 0xFFFFFFFFull)
    return Fail(d, Fmt("%sのフレーム%ldは4GiBを超える位置にあるので参照出力できません!", name.c_str(),
                       static_cast<long>(d.frame)));
  for (char& c : name)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  // CRC, offset, size, the name and 1 to 4 zero bytes up to a multiple of 4.
  const size_t length = (12 + name.size() + 4) & ~size_t{3};
  chunk_.assign(length, 0);
  PutLE32(chunk_.data(), static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(name.data()),
                                                     static_cast<uInt>(name.size()))));
  PutLE32(chunk_.data() + 4, static_cast<uint32_t>(offset));
  PutLE32(chunk_.data() + 8, size);
  std::memcpy(chunk_.data() + 12, name.data(), name.size());
  if (!out_.WriteVideo(FourCC("00db"), chunk_.data(), static_cast<uint32_t>(chunk_.size()), kAviIfKeyframe))
    return Fail(d, out_.Error());
  return true;
}

void AviSaveOperation::Display(FrameOperationDriver& d) {
  if (decoded_) FrameOperation::Display(d);
}

void AviSaveOperation::End(FrameOperationDriver& d) {
  encoder_.reset();
  sourceCompressor_.reset();
  sourceEncoder_.reset();
  if (!created_) return;
  if (!d.errorText.empty()) {
    // A failed save leaves no file at the name (an earlier one stays).
    out_.Abandon();
    return;
  }
  if (encodeAudio_) audioEncoder_.EncodeAudioStream(3, nullptr, 0, nullptr, nullptr);
  std::optional<uint32_t> audioLength;
  if (audio_ && (out_.VideoFrames() != planned_ || encodeAudio_))
    audioLength = static_cast<uint32_t>(audioTotal_ / audioBlockAlign_);
  if (out_.Finish(audioLength)) {
    saved_ = true;
  } else {
    d.Fail(out_.Error());
    out_.Abandon();
  }
}
