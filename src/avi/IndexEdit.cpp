#include "avi/IndexEdit.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <new>
#include <vector>

#include "avi/AviReaderInternal.h"
#include "avi/IndexWriteBack.h"
#include "platform/Host.h"
#include "platform/Messages.h"

namespace {

using avi_reader::Ch;

constexpr char kSaveAdvice[] = "\r念のため開いているAVIを別のファイルに保存して下さい.";

bool IsJunk(uint32_t id) {
  return SameFourCCNoCase(id, FourCC("JUNK"));
}

// What the edit needs to know of the file, found by walking its chunks.
struct Layout {
  uint64_t fileSize = 0;
  uint64_t riffSizePos = 0, firstChild = 0;
  bool hdrl = false, avih = false, strh = false;
  bool avihShort = false;
  uint64_t avihData = 0, strhData = 0;
  uint32_t totalFrames = 0, length = 0;
  bool idx1 = false;
  uint64_t idx1Pos = 0;
  uint32_t idx1Size = 0;
  bool openDml = false;    // an indx in a stream list, or an AVIX part
  bool dataAfter = false;  // a chunk other than JUNK behind idx1
};

class Walker {
 public:
  Walker(int fd, Layout* l) : fd_(fd), l_(l) {}

  bool Head(uint64_t pos, uint32_t* id, uint32_t* size, uint32_t* type = nullptr) {
    uint8_t h[12];
    size_t want = type ? 12 : 8;
    if (pos + want > l_->fileSize ||
        pread(fd_, h, want, static_cast<off_t>(pos)) != static_cast<ssize_t>(want))
      return false;
    *id = GetLE32(h);
    *size = GetLE32(h + 4);
    if (type) *type = GetLE32(h + 8);
    return true;
  }
  uint32_t Read32(uint64_t pos) {
    uint8_t b[4] = {};
    if (pread(fd_, b, 4, static_cast<off_t>(pos)) != 4) return 0;
    return GetLE32(b);
  }
  static uint64_t Next(uint64_t pos, uint32_t size) {
    return pos + 8 + static_cast<uint64_t>(size) + (size & 1);
  }

  // The first RIFF "AVI "; false when there is none.
  bool FindRiff(uint64_t* riffEnd, uint64_t* paddedEnd) {
    for (uint64_t pos = 0;;) {
      uint32_t id, size, type;
      if (!Head(pos, &id, &size, &type)) return false;
      if (id == FourCC("RIFF") && type == FourCC("AVI ")) {
        l_->riffSizePos = pos + 4;
        l_->firstChild = pos + 12;
        // A capture cut off before its sizes were written reaches to the end.
        *paddedEnd = size > 4 ? Next(pos, size) : l_->fileSize;
        *riffEnd = std::min(size > 4 ? pos + 8 + size : l_->fileSize, l_->fileSize);
        return true;
      }
      pos = Next(pos, size);
    }
  }

  void Hdrl(uint64_t pos, uint64_t end) {
    l_->hdrl = true;
    for (uint32_t id, size, type; pos + 8 <= end && Head(pos, &id, &size); pos = Next(pos, size)) {
      if (id == FourCC("avih") && !l_->avih) {
        l_->avih = true;
        l_->avihData = pos + 8;
        l_->avihShort = size < 56 || pos + 8 + 56 > end;
        l_->totalFrames = Read32(pos + 8 + 16);
      } else if (id == FourCC("LIST") && Head(pos, &id, &size, &type) && type == FourCC("strl")) {
        Strl(pos + 12, std::min(pos + 8 + size, end));
      }
    }
  }

  void Strl(uint64_t pos, uint64_t end) {
    for (uint32_t id, size; pos + 8 <= end && Head(pos, &id, &size); pos = Next(pos, size)) {
      if (id == FourCC("indx")) l_->openDml = true;
      if (id == FourCC("strh") && size >= 36 && pos + 8 + 36 <= end && !l_->strh &&
          Read32(pos + 8) == FourCC("vids")) {
        l_->strh = true;
        l_->strhData = pos + 8;
        l_->length = Read32(pos + 8 + 32);
      }
    }
  }

  void Children(uint64_t pos, uint64_t end) {
    for (uint32_t id, size, type; pos + 8 <= end && Head(pos, &id, &size); pos = Next(pos, size)) {
      if (l_->idx1) {
        // An idx1 behind the first is what an interrupted edit leaves; it
        // goes with the JUNK.
        if (!IsJunk(id) && id != FourCC("idx1")) l_->dataAfter = true;
      } else if (id == FourCC("idx1")) {
        l_->idx1 = true;
        l_->idx1Pos = pos;
        l_->idx1Size = size;
      } else if (id == FourCC("LIST") && Head(pos, &id, &size, &type)) {
        if (type == FourCC("hdrl") && !l_->hdrl) Hdrl(pos + 12, std::min(pos + 8 + size, end));
        // A list cut off before its size was written reaches to the end.
        if (size <= 4) break;
      }
    }
  }

  void AfterRiff(uint64_t pos) {
    for (uint32_t id, size, type; Head(pos, &id, &size); pos = Next(pos, size)) {
      if (id == FourCC("RIFF") && Head(pos, &id, &size, &type) && type == FourCC("AVIX"))
        l_->openDml = true;
      else if (!IsJunk(id))
        l_->dataAfter = true;
    }
  }

 private:
  int fd_;
  Layout* l_;
};

bool IsVideoEntry(const uint8_t* e, char stream) {
  return stream && avi_reader::IsVideoId(GetLE32(e), stream);
}

// The video stream's character: that of the first 00db/00dc/01db/01dc entry.
char VideoStream(const uint8_t* entries, size_t bytes) {
  for (size_t i = 0; i + 16 <= bytes; i += 16) {
    uint32_t id = GetLE32(entries + i);
    char s = Ch(id, 1);
    if ((s == '0' || s == '1') && avi_reader::IsVideoId(id, s)) return s;
  }
  return 0;
}

// The old idx1 entries, mapped read-only.
struct Idx1Map {
  void* base = MAP_FAILED;
  size_t length = 0;
  const uint8_t* data = nullptr;
  bool Map(int fd, uint64_t pos, size_t bytes) {
    const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    const uint64_t start = pos / page * page;
    length = static_cast<size_t>(pos + bytes - start);
    base = mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(start));
    if (base == MAP_FAILED) return false;
    madvise(base, length, MADV_SEQUENTIAL);
    data = static_cast<const uint8_t*>(base) + (pos - start);
    return true;
  }
  ~Idx1Map() {
    if (base != MAP_FAILED) munmap(base, length);
  }
};

uint32_t AddFrames(uint32_t count, int64_t delta) {
  return static_cast<uint32_t>(std::clamp<int64_t>(int64_t{count} + delta, 0, UINT32_MAX));
}

}  // namespace

IndexEditResult EditIndex(const std::string& path, IndexEditKind kind, uint32_t frame, int* changed,
                          int failAtStep) {
  const char* name = path.c_str();
  *changed = 0;
  auto stop = [&](IndexEditResult r, const char* format) {
    Message(MB_OK | MB_ICONSTOP, nullptr, format, name);
    return r;
  };
  const auto kRefused = IndexEditResult::kRefused, kUnreadable = IndexEditResult::kUnreadable;
  avi_reader::Fd f;
  f.fd = open(name, O_RDWR | O_CLOEXEC);
  if (f.fd < 0) {
    // A file that can be read but not written is refused; one that cannot
    // be read at all is not an AVI file we can read.
    int probe = open(name, O_RDONLY | O_CLOEXEC);
    if (probe >= 0) close(probe);
    return stop(probe >= 0 ? kRefused : kUnreadable, "%sが開けません!");
  }
  Layout l;
  struct stat st;
  if (fstat(f.fd, &st) != 0) return stop(kUnreadable, "%sがシークできません!");
  l.fileSize = static_cast<uint64_t>(st.st_size);
  Walker w(f.fd, &l);
  uint64_t riffEnd, riffPaddedEnd;
  if (!w.FindRiff(&riffEnd, &riffPaddedEnd)) return stop(kUnreadable, "%sにAVIチャンクがありません!");
  w.Children(l.firstChild, riffEnd);
  w.AfterRiff(riffPaddedEnd);
  if (!l.hdrl) return stop(kUnreadable, "%sにList/hdrlチャンクがありません!");
  if (!l.avih) return stop(kUnreadable, "%sにavihチャンクがありません!");
  if (l.avihShort) return stop(kUnreadable, "%sのavihチャンクが読み出せません!");
  if (!l.strh) return stop(kUnreadable, "%sからビデオストリームヘッダが取得できません!");
  // Edited in place, the standard indexes of an OpenDML file would go on
  // describing the old frames, and data behind idx1 would be overwritten or
  // cut off.
  if (l.openDml) return stop(kRefused, "%sはOpenDML(AVI2)形式のため、インデックスを編集できません!");
  if (!l.idx1) return stop(kRefused, "%sにidx1チャンクがありません!");
  if (l.dataAfter)
    return stop(kRefused, "%sにはidx1チャンクの後にデータがあるため、インデックスを編集できません!");

  const uint64_t idx1Data = l.idx1Pos + 8;
  if (idx1Data + l.idx1Size > l.fileSize) return stop(kRefused, "%sのidx1チャンクが読み出せません!");
  // The old entries are read where the page cache holds them, and the new
  // index is written from pieces of them: an index of millions of entries is
  // neither copied nor allocated again.
  Idx1Map map;
  const size_t bytes = l.idx1Size / 16 * 16;
  if (bytes && !map.Map(f.fd, idx1Data, bytes)) return stop(kRefused, "%sのidx1チャンクが読み出せません!");
  const uint8_t* old = map.data;
  std::vector<iovec> pieces;
  auto piece = [&](const uint8_t* from, const uint8_t* to) {
    if (from == to) return;
    if (!pieces.empty() && static_cast<uint8_t*>(pieces.back().iov_base) + pieces.back().iov_len == from)
      pieces.back().iov_len += static_cast<size_t>(to - from);
    else
      pieces.push_back({const_cast<uint8_t*>(from), static_cast<size_t>(to - from)});
  };

  const char stream = VideoStream(old, bytes);
  uint8_t null[16] = {'0', static_cast<uint8_t>(stream), 'd', 'b'};
  int64_t delta = 0;
  try {
    if (kind == IndexEditKind::kRemoveNulls) {
      const uint8_t* kept = old;
      for (size_t i = 0; i < bytes; i += 16) {
        const uint8_t* e = old + i;
        if (IsVideoEntry(e, stream) && GetLE32(e + 12) == 0) {
          piece(kept, e);
          kept = e + 16;
          --delta;
        }
      }
      // Nothing to remove: the file is not touched.
      if (delta == 0) return IndexEditResult::kDone;
      piece(kept, old + bytes);
    } else {
      size_t at = 0;
      uint32_t seen = 0;
      for (; at < bytes; at += 16)
        if (IsVideoEntry(old + at, stream) && seen++ == frame) break;
      if (at == bytes) {
        Message(MB_OK | MB_ICONSTOP, nullptr,
                "%sのidx1にはフレーム%luがありません(ビデオのエントリは%lu個です)!", name,
                static_cast<unsigned long>(frame), static_cast<unsigned long>(seen));
        return kRefused;
      }
      piece(old, old + at);
      if (kind != IndexEditKind::kDeleteFrame) pieces.push_back({null, 16});
      piece(old + at + (kind == IndexEditKind::kInsertNull ? 0 : 16), old + bytes);
      delta = kind == IndexEditKind::kDeleteFrame ? -1 : kind == IndexEditKind::kInsertNull ? 1 : 0;
    }
  } catch (const std::bad_alloc&) {
    return stop(kRefused, "必要なメモリ(AVIインデックス用)が確保できません!");
  }

  const Idx1WriteTexts kTexts = {
      "%sがシークできません!",
      "%sのindex書き込みでエラーが発生しました!",
      "%sのindexサイズ書き込みでエラーが発生しました!",
      "%sのRIFFサイズ書き込みでエラーが発生しました!",
      "%sのavih書き込みでエラーが発生しました!",
      "%sのavis/video書き込みでエラーが発生しました!",
      "%sのファイルサイズを変更できません!",
  };
  Idx1Replacement r;
  r.riffSizePos = l.riffSizePos;
  r.idx1Pos = l.idx1Pos;
  r.idx1Size = l.idx1Size;
  r.avihFramesPos = l.avihData + 16;
  r.strhLengthPos = l.strhData + 32;
  r.avihFrames = AddFrames(l.totalFrames, delta);
  r.strhLength = AddFrames(l.length, delta);
  FindJunkBeforeIdx1(f.fd, l.firstChild, &r);
  const char* failed = ReplaceIdx1(f.fd, r, pieces, failAtStep, kTexts);
  if (!failed) {
    int fd = f.fd;
    f.fd = -1;
    if (close(fd) != 0) failed = kTexts.entries;
  }
  if (failed) {
    std::string text = Fmt(failed, name) + kSaveAdvice;
    Message(MB_OK | MB_ICONSTOP, text.c_str());
    return IndexEditResult::kFailed;
  }
  *changed = kind == IndexEditKind::kRemoveNulls ? static_cast<int>(-delta) : 1;
  return IndexEditResult::kDone;
}

bool EditIndexInPlace(const std::string& path, IndexEditKind kind, uint32_t frame, int* changed,
                      bool* refused, int failAtStep) {
  IndexEditResult r = EditIndex(path, kind, frame, changed, failAtStep);
  if (refused) *refused = r == IndexEditResult::kRefused || r == IndexEditResult::kUnreadable;
  return r == IndexEditResult::kDone;
}
