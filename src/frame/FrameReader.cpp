#include "frame/FrameReader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "frame/ReferencePath.h"
#include "platform/Format.h"
#include "platform/RiffFormats.h"
#include "platform/Messages.h"

namespace {

// Element bytes and count basis (0: per line of H, 1: per row of W) of the
// eleven arrays, in their order.
struct ArrayLayout {
  size_t element;
  bool perWidth;
  size_t extra;
};
const ArrayLayout kArrayLayouts[kFrameArrays] = {
    {2, false, 0},  {4, false, 0}, {4, false, 0},  {4, false, 0}, {3, true, 0},  {16, false, 0},
    {16, false, 0}, {4, false, 0}, {72, false, 0}, {3, true, 0},  {3, true, 60},
};

}  // namespace

// Per-file state kept on the record: the frame getter of a stream with delta
// frames, and what it was made for.
struct FrameReaderState {
  OpenAviFile* avi = nullptr;       // set before each use: records move when the table grows
  uint64_t* decodeCount = nullptr;  // the reader's count
  const VideoDecompressor* decoder = nullptr;
  const FrameIndexEntry* index = nullptr;
  uint32_t frameCount = 0;
  std::unique_ptr<FrameGetter> getter;
  // The chunk ReadFrame already read, handed to the getter without reading again.
  int64_t preloadedFrame = -1;
  const ChunkBytes* preloaded = nullptr;
  std::string resolveError;
  // Where the names of the file's reference chunks were found.
  ReferencePathCache paths;
};

std::string ResolveReferencePath(const OpenAviFile* avi, const std::string& name) {
  if (avi->frameReader) return avi->frameReader->paths.Resolve(avi->szFileName, name);
  ReferencePathCache once;
  return once.Resolve(avi->szFileName, name);
}

namespace {

// Reads `size` bytes at `offset` of the file's video data: 0 done, 1 the
// seek failed, 2 the read failed or came short. Frame data goes straight from
// the descriptor into the buffer (no stdio buffer in between).
int ReadVideoData(OpenAviFile* avi, uint64_t offset, uint8_t* buf, uint32_t size) {
  RiffFile* f = avi->nIndexKind == kIndexOpenDml && avi->hAvi2 ? avi->hAvi2.get() : avi->hmmioAvi.get();
  int fd = f ? f->Descriptor() : -1;
  if (fd < 0) {
    if (MyAviSeek(avi, nullptr, offset, 0, false) < 0) return 1;
    return MyAviRead(avi, nullptr, buf, size, false) == size ? 0 : 2;
  }
  if (offset > static_cast<uint64_t>(INT64_MAX) - size) return 1;
  uint32_t done = 0;
  while (done < size) {
    ssize_t got = pread(fd, buf + done, size - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return 2;
    done += static_cast<uint32_t>(got);
  }
  return 0;
}

bool ReadChunkInto(OpenAviFile* avi, FrameIndexEntry e, ChunkBytes& chunk) {
  uint32_t size = IndexSize(e);
  uint8_t* p = chunk.Resize(size);
  if (!p) return false;
  chunk.keyFrame = IndexIsKey(e);
  if (size == 0) return true;
  return ReadVideoData(avi, IndexOffset(e), p, size) == 0;
}

}  // namespace

FrameReaderState& FrameReader::StateOf(OpenAviFile* avi) {
  if (!avi->frameReader) avi->frameReader = std::make_shared<FrameReaderState>();
  FrameReaderState& s = *avi->frameReader;
  s.avi = avi;
  s.decodeCount = &decodeCount_;
  // The getter walks the index as read, so that frames hidden by deletion
  // ranges still feed the decoder.
  const AviStreamSet& set = avi->sets[0];
  if (s.getter && (s.decoder != avi->hicDecompress.get() || s.index != set.pFrameIndex.data() ||
                   s.frameCount != set.FrameMax))
    s.getter.reset();
  if (!s.getter && avi->hicDecompress) {
    s.decoder = avi->hicDecompress.get();
    s.index = set.pFrameIndex.data();
    s.frameCount = set.FrameMax;
    FrameReaderState* sp = &s;
    FrameGetter::Source src;
    src.isKeyFrame = [sp](uint32_t f) {
      const AviStreamSet& st = sp->avi->sets[0];
      // The index counts null frames as key frames, but they give a decoder
      // nothing to start from.
      return f < st.FrameMax && IndexIsKey(st.pFrameIndex[f]) && IndexSize(st.pFrameIndex[f]) != 0;
    };
    src.readChunk = [sp](uint32_t f, ChunkBytes& chunk) {
      const AviStreamSet& st = sp->avi->sets[0];
      if (f >= st.FrameMax) return false;
      ++*sp->decodeCount;
      if (sp->preloaded && sp->preloadedFrame == f) {
        bool ok = chunk.Assign(sp->preloaded->data(), sp->preloaded->size());
        chunk.keyFrame = IndexIsKey(st.pFrameIndex[f]);
        return ok;
      }
      return ReadChunkInto(sp->avi, st.pFrameIndex[f], chunk);
    };
    src.resolveReference = [sp](const ReferenceInfo& ref, ChunkBytes& chunk, std::string& error) {
      return ReadReferencedData(ResolveReferencePath(sp->avi, ref.fileName), ref, chunk, error);
    };
    s.getter = std::make_unique<FrameGetter>(*avi->hicDecompress, avi->fccVideoHandler, set.FrameMax,
                                             std::move(src));
  }
  return s;
}

namespace {

const char* BaseName(const OpenAviFile* avi) {
  return avi->szFileName.c_str();
}

bool IsUncompressed24(const OpenAviFile* avi) {
  BitmapInfoHeader bi = avi->VideoFormat();
  return !avi->hicDecompress && !avi->fCodecFailed && bi.biBitCount == 24 && bi.biCompression == 0 &&
         bi.biHeight > 0;
}

}  // namespace

// Finds the file of a global frame number; false when frameNo is past the end.
bool FrameReader::LocateGlobal(uint32_t frameNo, int* file, uint32_t* base) {
  OpenAviTable& t = table;
  auto& pOpenAviList = t.pOpenAviList;
  const int nOpenAvi = t.nOpenAvi;
  uint32_t total = t.TotalFrames();
  int last = nOpenAvi - 1;
  uint32_t lastCount = pOpenAviList[static_cast<size_t>(last)].Set().FrameMax;
  if (t.nOpenAviIndex < 0 || t.nOpenAviIndex >= nOpenAvi || total - lastCount < t.dwFrameBase) {
    // Stale bookkeeping: from the first file on.
    int i = 0;
    uint32_t b = 0;
    while (i < last) {
      uint32_t n = pOpenAviList[static_cast<size_t>(i)].Set().FrameMax;
      if (b + n > frameNo) break;
      b += n;
      ++i;
    }
    t.SelectOpenAvi(i);
    t.dwFrameBase = b;
  }
  if (frameNo >= total) return false;
  int i = t.nOpenAviIndex;
  uint32_t b = t.dwFrameBase;
  while (frameNo < b && i > 0) {
    --i;
    b -= pOpenAviList[static_cast<size_t>(i)].Set().FrameMax;
  }
  while (i < last && b + pOpenAviList[static_cast<size_t>(i)].Set().FrameMax <= frameNo) {
    b += pOpenAviList[static_cast<size_t>(i)].Set().FrameMax;
    ++i;
  }
  *file = i;
  *base = b;
  return true;
}

void FrameReader::FreeBuffers() {
  std::free(framePool.block);
  std::free(framePool.undoRecords);
  std::free(framePool.undoSteps);
  std::free(framePool.arrayBlock);
  framePool = FramePool{};
}

bool FrameReader::AllocateBuffers(int width, int height) {
  FreeBuffers();
  if (height <= 0 || !FrameSizeUsable(width, height)) return false;
  FrameGeometry g;
  g.width = width;
  g.height = height;
  g.halfWidth = width / 2;
  g.halfHeight = height / 2;
  g.negWidth = -width;
  g.negHeight = -height;
  g.negHalfWidth = -g.halfWidth;
  g.negHalfHeight = -g.halfHeight;
  g.lineBytes = static_cast<size_t>(width) * 3;
  g.stride = RgbStride(width);
  g.frameBytes = g.stride * static_cast<size_t>(height);
  size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  FramePool p;
  p.block = static_cast<uint8_t*>(std::calloc(kFrameSlots, g.frameBytes));
  p.undoRecordCount = 2 * pixels;
  p.undoRecords = static_cast<uint8_t*>(std::malloc(p.undoRecordCount * 6));
  p.undoStepCount = pixels / 2;
  p.undoSteps = static_cast<uint8_t*>(std::malloc(std::max<size_t>(p.undoStepCount, 1) * 8));
  size_t total = 0;
  for (int i = 0; i < kFrameArrays; ++i) {
    const ArrayLayout& a = kArrayLayouts[i];
    p.arrayBytes[i] = a.element * static_cast<size_t>(a.perWidth ? width : height) + a.extra + 32;
    total += (p.arrayBytes[i] + 63) & ~size_t{63};
  }
  p.arrayBlock = static_cast<uint8_t*>(std::aligned_alloc(64, total));
  if (!p.block || !p.undoRecords || !p.undoSteps || !p.arrayBlock) {
    std::free(p.block);
    std::free(p.undoRecords);
    std::free(p.undoSteps);
    std::free(p.arrayBlock);
    return false;
  }
  std::memset(p.arrayBlock, 0, total);
  size_t at = 0;
  for (int i = 0; i < kFrameArrays; ++i) {
    p.arrays[i] = p.arrayBlock + at;
    at += (p.arrayBytes[i] + 63) & ~size_t{63};
  }
  p.geometry = g;
  framePool = p;
  return true;
}

void FrameReader::ForgetFrameReaders() {
  for (OpenAviFile& f : table.pOpenAviList) f.frameReader.reset();
}

bool ConvertFromStreamFormat(const OpenAviFile* avi, const uint8_t* src, size_t srcSize, uint8_t* dest,
                             size_t destSize, ConvertDirection direction, size_t* written) {
  if (avi->pbiVideo.size() < 40) return false;
  BitmapInfoHeader bi = avi->VideoFormat();
  if (direction == ConvertDirection::ToRgb) {
    if (bi.biPlanes != 1) return false;
    return ConvertToRgb(avi->pbiVideo.data(), avi->pbiVideo.size(), src, srcSize, dest, destSize);
  }
  size_t n = ConvertFromRgb(avi->pbiVideo.data(), avi->pbiVideo.size(), src, srcSize, dest, destSize);
  if (written) *written = n;
  return n != 0;
}

bool FrameReader::ReadFrame(OpenAviFile* avi, uint8_t* dest, uint8_t* adjustedDest, uint32_t frameNo,
                            unsigned flags) {
  std::string msg;
  bool ok = false;
  const FrameGeometry& g = framePool.geometry;
  size_t blankBytes = g.frameBytes;

  OpenAviFile* file = avi;
  int fileIndex = -1;
  uint32_t local = frameNo, base = 0;
  bool located = false;
  if (!avi) {
    if (table.nOpenAvi <= 0) return false;
    if (!LocateGlobal(frameNo, &fileIndex, &base)) {
      msg = "フレームNoが不正です!";
    } else {
      file = &table.pOpenAviList[static_cast<size_t>(fileIndex)];
      local = frameNo - base;
      located = true;
    }
  } else {
    if (!avi->IsOpen() || avi->pbiVideo.size() < 40) {
      // No video stream: a silent failure.
    } else if (frameNo >= avi->Set().FrameMax)
      msg = Fmt("%sのフレームNoが不正です!", BaseName(avi));
    else
      located = true;
  }

  if (located) {
    const FrameIndexEntry* entry = &file->Set().pFrameIndex[local];
    blankBytes = std::min<size_t>(g.frameBytes,
                                  file->biDecoded.biSizeImage ? file->biDecoded.biSizeImage : g.frameBytes);
    if (!(flags & RF_NO_RECORD)) {
      FrameReadRecord& r = file->frameInfo;
      r = FrameReadRecord{};
      r.refKind = kRefLocated;
      r.globalFrame = frameNo;
      r.localFrame = local;
      r.entry = entry;
      r.fileIndex = fileIndex;
    }
    if (!avi && !(flags & RF_NO_SWITCH)) {
      bool changed = fileIndex != table.nOpenAviIndex;
      table.SelectOpenAvi(fileIndex);
      table.dwFrameBase = base;
      if (changed && !(flags & RF_NO_TITLE)) {
        if (events)
          events->RefreshTitle();
        else
          table.SetMainTitle(nullptr);
      }
    }
    if (!dest) return true;

    BitmapInfoHeader bi = file->VideoFormat();
    int height = bi.biHeight < 0 ? -bi.biHeight : bi.biHeight;
    bool geometryOk = bi.biWidth == g.width && height == g.height && g.frameBytes != 0;
    bool raw = (flags & RF_RAW_INTO_DEST) != 0, head = (flags & RF_HEAD_ONLY) != 0;
    uint8_t* decodeTarget = mixedFields && file->fAllKeyFrames ? dest : framePool.Slot(kDecodeTarget);
    bool inPlace = IsUncompressed24(file) && !raw && !head;
    uint32_t size = IndexSize(*entry);
    ChunkBytes& chunk = chunk_;

    if (!geometryOk && !raw && !head) {
      msg = Fmt("%sのフレーム%ld(%ld)が伸張できません!", BaseName(file), static_cast<long>(frameNo),
                static_cast<long>(local));
    } else if (size == 0) {
      if (!raw && !head) std::memset(dest, 0, blankBytes);
      rawData_ = dest;
      rawSize_ = 0;
      ok = true;
    } else {
      if (head) size = std::min(size, kHeadOnlyBytes);
      uint8_t* readTo = nullptr;
      size_t readable = 0;
      if (raw && size <= g.frameBytes) {
        readTo = dest;
        readable = g.frameBytes;
      } else if (raw) {
        // A chunk larger than a 24-bit frame (32-bit pixels, a codec's worst
        // case) stays in the chunk buffer; RawData() has it.
        readTo = chunk.Resize(size);
        readable = readTo ? size : 0;
      } else if (inPlace) {
        readTo = decodeTarget;
        readable = g.frameBytes;
      } else {
        readTo = chunk.Resize(size);
        readable = readTo ? size : 0;
        chunk.keyFrame = IndexIsKey(*entry);
      }
      int readResult = size > readable ? 2 : ReadVideoData(file, IndexOffset(*entry), readTo, size);
      if (readResult == 1) {
        msg = Fmt("%sがシークできません!", BaseName(file));
      } else if (readResult == 2) {
        msg = Fmt("%sのフレームが読み出せません!", BaseName(file));
      } else {
        ReferenceInfo ref;
        ReferenceCheck check = ReferenceCheck::kNone;
        if (!(flags & RF_NO_RECORD)) {
          check = DetectReference(file->fccVideoHandler, readTo, size, ref);
          FrameReadRecord& r = file->frameInfo;
          r.refKind = ref.kind;
          r.refFrame = ref.refFrame;
          r.refFrame2 = ref.refFrame2;
          r.refBase = ref.refBase;
          r.refFileName = ref.fileName.substr(0, 259);
          if (check == ReferenceCheck::kNameTooLong)
            msg = Fmt("%sの参照ファイル名%sが長すぎます!", BaseName(file), ref.fileName.c_str());
        } else {
          check = DetectReference(file->fccVideoHandler, readTo, size, ref);
        }
        if (msg.empty() && (raw || head)) {
          rawData_ = readTo;
          rawSize_ = size;
          ok = true;
        } else if (msg.empty()) {
          std::string convertMsg = Fmt("%sのフレーム%ld(%ld)が24ビットRGBに変換できません!", BaseName(file),
                                       static_cast<long>(frameNo), static_cast<long>(local));
          std::string decodeMsg = Fmt("%sのフレーム%ld(%ld)が伸張できません!", BaseName(file),
                                      static_cast<long>(frameNo), static_cast<long>(local));
          bool decoded = false, converted = true;
          if (file->fCodecFailed) {
            // The open reported it.
          } else if (!file->hicDecompress) {
            if (inPlace) {
              decoded = size == g.frameBytes;
              if (!decoded) msg = convertMsg;
            } else {
              decoded = ConvertFromStreamFormat(file, chunk.data(), chunk.size(), decodeTarget, g.frameBytes,
                                                ConvertDirection::ToRgb);
              if (!decoded) msg = convertMsg;
            }
          } else {
            VideoDecompressor& dec = *file->hicDecompress;
            if (dec.Width() != g.width || dec.Height() != g.height) {
              msg = decodeMsg;
            } else if (!file->fAllKeyFrames || !dec.IntraOnly()) {
              // An index that flags every frame as key (one rebuilt by
              // scanning, say) cannot be trusted for codecs with delta or
              // reordered frames: the getter finds where decoding can start.
              FrameReaderState& st = StateOf(file);
              uint32_t position = local;
              if (file->pCurrentSet == &file->sets[1] && local < file->pFrameOffset.size())
                position = local + static_cast<uint32_t>(file->pFrameOffset[local]);
              st.preloaded = &chunk;
              st.preloadedFrame = position;
              decoded = st.getter->GetFrame(position, decodeTarget, g.stride);
              st.preloaded = nullptr;
              st.preloadedFrame = -1;
              if (!decoded) msg = decodeMsg;
            } else {
              ++decodeCount_;
              if (flags & RF_DECODER_PICTURE_ONLY) {
                decodeTarget = nullptr;
                converted = false;
              }
              if (check == ReferenceCheck::kReference) {
                if (!file->frameReader) file->frameReader = std::make_shared<FrameReaderState>();
                ChunkBytes referenced;
                std::string err;
                decoded =
                    ReadReferencedData(ResolveReferencePath(file, ref.fileName), ref, referenced, err) &&
                    dec.Decompress(referenced, decodeTarget, g.stride);
              } else {
                decoded = dec.Decompress(chunk, decodeTarget, g.stride);
              }
              if (!decoded) msg = decodeMsg;
            }
          }
          if (decoded && !converted) {
            ok = true;
          } else if (decoded) {
            if (!mixedFields)
              SplitFields(dest, decodeTarget, g.height, g.stride, FieldDirection::Split,
                          (flags & RF_SWAP_FIELDS) != 0);
            else if (decodeTarget != dest)
              std::memcpy(dest, decodeTarget, blankBytes);
            ok = true;
          }
        }
      }
    }

    if (ok) {
      file->fReadError = 0;
      if ((flags & RF_APPLY_FIELD_SHIFT) && adjustedDest && dest && !raw && !head) {
        // Field-offset values are applied by the field-shift tools; with
        // none set the adjusted frame is the frame itself.
        std::memcpy(adjustedDest, dest, g.frameBytes);
      }
      if (!(flags & RF_KEEP_CORRECTION) && events) events->ResetCorrection();
    }
    if (!ok && !msg.empty()) file->fReadError = 1;
  }

  if (!ok) {
    if (dest && !(flags & (RF_RAW_INTO_DEST | RF_HEAD_ONLY)) && blankBytes) std::memset(dest, 0, blankBytes);
    if (!ok && adjustedDest && (flags & RF_APPLY_FIELD_SHIFT) && !(flags & (RF_RAW_INTO_DEST | RF_HEAD_ONLY)))
      std::memset(adjustedDest, 0, blankBytes);
    if (!msg.empty()) Status(0, "%s", msg.c_str());
  }
  if (!(flags & RF_KEEP_POSITION)) {
    previousFrame = currentFrame;
    currentFrame = frameNo;
    if (!(flags & RF_NO_NUMBER_TEXT) && events) events->SetFrameNumberText(frameNo);
    if (events) events->ShowTimeCode(frameNo);
  }
  if (!(flags & RF_NO_SCROLL) && events) events->SetScrollPosition(frameNo);
  return ok;
}

bool FrameReader::ShowFrame(OpenAviFile* avi, uint8_t* dest, uint8_t* adjustedDest, uint32_t frameNo,
                            unsigned flags) {
  bool ok = ReadFrame(avi, dest, adjustedDest, frameNo, flags);
  if (!(flags & RF_RAW_INTO_DEST) && events) {
    const uint8_t* picture = ok && (flags & RF_APPLY_FIELD_SHIFT) && adjustedDest ? adjustedDest : dest;
    if (picture) events->ShowPicture(picture);
    // A number within a given file is no global number.
    events->DrawWaveForm(avi ? -1 : static_cast<int64_t>(frameNo));
  }
  return ok;
}

bool FrameReader::ShowCurrent(uint32_t frameNo, unsigned extraFlags) {
  if (!framePool.block) return false;
  return ShowFrame(nullptr, framePool.Slot(kCurrentFrame), framePool.Slot(kAdjustedFrame), frameNo,
                   RF_APPLY_FIELD_SHIFT | extraFlags);
}
