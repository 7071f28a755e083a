#include "process/FrameWriteBack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "frame/FrameReader.h"
#include "platform/Format.h"
#include "platform/Riff.h"

namespace {

// Enough of a chunk to classify it as a reference: the longest record with
// the longest name DetectReference accepts.
constexpr size_t kReferenceHeadBytes = 16 + 260;

// One positioned write of the whole buffer: either the chunk gets all of it
// or the write failed (a short write on a regular file means the disk gave
// out, and the rest is tried once more).
bool WriteAt(int fd, const uint8_t* data, size_t size, uint64_t offset) {
  ssize_t n = pwrite(fd, data, size, static_cast<off_t>(offset));
  if (n == static_cast<ssize_t>(size)) return true;
  if (n <= 0) return false;
  size_t done = static_cast<size_t>(n);
  return pwrite(fd, data + done, size - done, static_cast<off_t>(offset + done)) ==
         static_cast<ssize_t>(size - done);
}

bool ReadAt(int fd, uint8_t* data, size_t size, uint64_t offset) {
  size_t got = 0;
  while (got < size) {
    ssize_t n = pread(fd, data + got, size - got, static_cast<off_t>(offset + got));
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

uint64_t FileSize(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// Formats the program converts itself, as the frame reader reads them: no
// decoder, or plain RGB of 16, 24 or 32 bits whatever the handler says.
bool ConvertedByUs(const OpenAviFile* avi) {
  BitmapInfoHeader bi = avi->VideoFormat();
  if (!avi->hicDecompress) return true;
  return (bi.biCompression == kBiRgb || bi.biCompression == kBiBitfields) &&
         (bi.biBitCount == 16 || bi.biBitCount == 24 || bi.biBitCount == 32);
}

}  // namespace

struct FrameWriteBack::State {
  // The owner the compressor and the write handle belong to (its name too:
  // a closed record may be reused for another file).
  OpenAviFile* owner = nullptr;
  std::string ownerName;
  VideoCompressor compressor;
  std::unique_ptr<RiffFile> out;
  // DV compressor for frames that live in a reference file.
  VideoCompressor dv;
  int refFd = -1;
  std::string refPath;
  std::vector<uint8_t> bytes, packed, head;

  void CloseOwner() {
    compressor.Close();
    dv.Close();
    if (owner) MyAviClose(owner, &out, false);
    out.reset();
    owner = nullptr;
    ownerName.clear();
  }
  void CloseReference() {
    if (refFd >= 0) close(refFd);
    refFd = -1;
    refPath.clear();
  }
};

FrameWriteBack::FrameWriteBack() : state_(std::make_unique<State>()) {}

FrameWriteBack::~FrameWriteBack() {
  Close();
}

void FrameWriteBack::Close() {
  state_->CloseOwner();
  state_->CloseReference();
}

std::string FrameWriteBack::Write(OpenAviFile* owner, uint32_t globalFrame, uint32_t localFrame,
                                  const uint8_t* frame, size_t stride) {
  State& st = *state_;
  if (!owner || !owner->IsOpen() || owner->pbiVideo.size() < kBitmapInfoHeaderBytes)
    return "フレームNoが不正です!";
  const char* name = owner->szFileName.c_str();
  const AviStreamSet& set = owner->sets[0];
  if (localFrame >= set.FrameMax || localFrame >= set.pFrameIndex.size())
    return Fmt("%sのフレームNoが不正です!", name);
  if (!owner->fAllKeyFrames) return Fmt("%sにはキーフレーム以外のフレームがあるので上書きできません!", name);
  if (owner->fCodecFailed) return Fmt("%sはビデオコーデックが開けないので上書きできません!", name);
  const BitmapInfoHeader bi = owner->VideoFormat();
  const int width = bi.biWidth, height = bi.biHeight < 0 ? -bi.biHeight : bi.biHeight;
  if (!frame || width <= 0 || height <= 0 || stride < 3 * static_cast<size_t>(width))
    return Fmt("%sのフレームNoが不正です!", name);
  const long lGlobal = static_cast<long>(globalFrame), lLocal = static_cast<long>(localFrame);

  if (st.owner != owner || st.ownerName != owner->szFileName) {
    st.CloseOwner();
    st.owner = owner;
    st.ownerName = owner->szFileName;
  }
  if (!st.out && !MyAviOpen(owner, &st.out, false))
    return Fmt("%sのフレーム書き込みでエラーが発生しました!", name);
  const int fd = st.out->Descriptor();
  const FrameIndexEntry entry = set.pFrameIndex[localFrame];
  const uint64_t offset = IndexOffset(entry);
  const uint32_t stored = IndexSize(entry);

  // A compressed stream may store a reference into another file instead of
  // the picture: the picture is written there.
  ReferenceInfo ref;
  ReferenceCheck check = ReferenceCheck::kNone;
  const bool converted = ConvertedByUs(owner);
  if (!converted && stored > 0) {
    st.head.resize(std::min<size_t>(stored, kReferenceHeadBytes));
    if (offset + stored > FileSize(fd)) return Fmt("%sがシークできません!", name);
    if (!ReadAt(fd, st.head.data(), st.head.size(), offset))
      return Fmt("%sのフレームが読み出せません!", name);
    check = DetectReference(owner->fccVideoHandler, st.head.data(), st.head.size(), ref);
    if (check == ReferenceCheck::kNameTooLong)
      return Fmt("%sの参照ファイル名%sが長すぎます!", name, ref.fileName.c_str());
  }
  uint64_t refOffset = 0;
  uint32_t refSize = 0;
  const bool toReference =
      check == ReferenceCheck::kReference && ReferencedDataLocation(ref, refOffset, refSize);

  const AVIStreamHeader& strh = set.strhVideo;
  if (converted) {
    // Our converter takes rows of the 24-bit frame stride.
    const uint8_t* rgb = frame;
    const size_t rgbStride = RgbStride(width), rgbBytes = rgbStride * static_cast<size_t>(height);
    if (stride != rgbStride) {
      st.packed.resize(rgbBytes);
      for (int r = 0; r < height; ++r)
        std::memcpy(st.packed.data() + rgbStride * static_cast<size_t>(r),
                    frame + stride * static_cast<size_t>(r), 3 * static_cast<size_t>(width));
      rgb = st.packed.data();
    }
    size_t capacity = StreamFrameBytes(owner->pbiVideo.data(), owner->pbiVideo.size()), written = 0;
    st.bytes.resize(std::max<size_t>(capacity, 1));
    if (!capacity || !ConvertFromStreamFormat(owner, rgb, rgbBytes, st.bytes.data(), st.bytes.size(),
                                              ConvertDirection::FromRgb, &written))
      return Fmt("%sのフレーム%ld(%ld)が24ビットRGBから変換できません!", name, lGlobal, lLocal);
    st.bytes.resize(written);
  } else if (toReference) {
    // Reference files hold DV frames: the DV compressor of the owner's size.
    if (!st.dv.IsOpen() && !st.dv.Open(FourCC("dvsd"), owner->pbiVideo.data(), owner->pbiVideo.size(),
                                       strh.dwRate, strh.dwScale))
      return "ビデオコーデックdvrs(dvis)が開けません!";
    if (!st.dv.Compress(frame, stride, st.bytes))
      return Fmt("%sのフレーム%ld(%ld)が圧縮できません!", name, lGlobal, lLocal);
  } else {
    if (!st.compressor.IsOpen() && !st.compressor.Open(owner->fccVideoHandler, owner->pbiVideo.data(),
                                                       owner->pbiVideo.size(), strh.dwRate, strh.dwScale))
      return Fmt("ビデオコーデック%sの圧縮開始に失敗しました!", FourCCText(owner->fccVideoHandler).c_str());
    if (!st.compressor.Compress(frame, stride, st.bytes))
      return Fmt("%sのフレーム%ld(%ld)が圧縮できません!", name, lGlobal, lLocal);
  }

  if (toReference) {
    std::string path = ResolveReferencePath(owner, ref.fileName);
    const char* refName = path.c_str();
    if (st.refFd < 0 || st.refPath != path) {
      st.CloseReference();
      // The name comes from the file: never wait on a FIFO or write a device.
      int rfd = open(refName, O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
      struct stat rs;
      if (rfd >= 0 && (fstat(rfd, &rs) != 0 || !S_ISREG(rs.st_mode))) {
        close(rfd);
        rfd = -1;
      }
      if (rfd < 0) return Fmt("参照ファイル%sが開けません!", refName);
      st.refFd = rfd;
      st.refPath = path;
    }
    if (refOffset < 8 || refOffset + refSize > FileSize(st.refFd))
      return Fmt("参照ファイル%sがシークできません!", refName);
    uint8_t header[8];
    if (!ReadAt(st.refFd, header, sizeof header, refOffset - 8))
      return Fmt("参照ファイル%sが読み出せません!", refName);
    if (GetLE32(header) != FourCC("00db"))
      return Fmt("参照ファイル%sのチャンクIDが00dbではありません!", refName);
    if (GetLE32(header + 4) != st.bytes.size() || refSize != st.bytes.size())
      return Fmt("参照ファイル%sのフレーム圧縮サイズが一致しません!", refName);
    if (!WriteAt(st.refFd, st.bytes.data(), st.bytes.size(), refOffset))
      return Fmt("参照ファィル%sのフレーム書き込みでエラーが発生しました!", refName);
  } else {
    if (st.bytes.size() != stored) return Fmt("%sのフレーム圧縮サイズが一致しません!", name);
    if (offset + stored > FileSize(fd)) return Fmt("%sがシークできません!", name);
    if (!WriteAt(fd, st.bytes.data(), st.bytes.size(), offset))
      return Fmt("%sのフレーム書き込みでエラーが発生しました!", name);
  }
  // The reader's decoder may hold the old picture of this frame.
  owner->frameReader.reset();
  return "";
}
