#include "avi/IndexWriteBack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "avi/AviReaderInternal.h"
#include "platform/Host.h"
#include "platform/Messages.h"

namespace {

// Where the new idx1 goes when it is put behind the old one: right behind it,
// or behind the entries of it the file holds when the old one runs past the end.
uint64_t NewIdx1Pos(uint64_t oldData, uint32_t oldSize, uint64_t fileSize) {
  uint64_t paddedEnd = oldData + oldSize + (oldSize & 1);
  if (paddedEnd <= fileSize) return paddedEnd;
  return oldData + (fileSize - std::min(fileSize, oldData)) / 16 * 16;
}

bool Put(int fd, uint64_t pos, const void* p, size_t n) {
  for (size_t done = 0; done < n;) {
    ssize_t w = pwrite(fd, static_cast<const uint8_t*>(p) + done, n - done, static_cast<off_t>(pos + done));
    if (w <= 0) return false;
    done += static_cast<size_t>(w);
  }
  return true;
}
// Writes the pieces one after another from `pos` on.
bool PutPieces(int fd, uint64_t pos, std::vector<iovec> v) {
  const size_t kMax = static_cast<size_t>(std::max(1L, sysconf(_SC_IOV_MAX)));
  for (size_t i = 0; i < v.size();) {
    if (v[i].iov_len == 0) {
      ++i;
      continue;
    }
    ssize_t w = pwritev(fd, &v[i], static_cast<int>(std::min(kMax, v.size() - i)), static_cast<off_t>(pos));
    if (w <= 0) return false;
    pos += static_cast<uint64_t>(w);
    for (size_t done = static_cast<size_t>(w); done > 0;) {
      size_t d = std::min(done, v[i].iov_len);
      v[i].iov_base = static_cast<uint8_t*>(v[i].iov_base) + d;
      v[i].iov_len -= d;
      done -= d;
      if (v[i].iov_len == 0) ++i;
    }
  }
  return true;
}
bool Put32(int fd, uint64_t pos, uint32_t v) {
  uint8_t b[4];
  PutLE32(b, v);
  return Put(fd, pos, b, 4);
}
bool PutHead(int fd, uint64_t pos, uint32_t id, uint32_t size) {
  uint8_t b[8];
  PutLE32(b, id);
  PutLE32(b + 4, size);
  return Put(fd, pos, b, 8);
}

bool IsJunk(uint32_t id) {
  return SameFourCCNoCase(id, FourCC("JUNK"));
}

}  // namespace

void FindJunkBeforeIdx1(int fd, uint64_t firstChild, Idx1Replacement* r) {
  r->junkPos = r->idx1Pos;
  r->junkSeveral = false;
  uint64_t runStart = 0;
  int run = 0;
  for (uint64_t pos = firstChild; pos < r->idx1Pos;) {
    uint8_t h[8];
    if (pread(fd, h, 8, static_cast<off_t>(pos)) != 8) return;
    if (IsJunk(GetLE32(h))) {
      if (run++ == 0) runStart = pos;
    } else {
      run = 0;
    }
    uint32_t size = GetLE32(h + 4);
    pos += 8 + static_cast<uint64_t>(size) + (size & 1);
    if (pos == r->idx1Pos && run > 0) {
      r->junkPos = runStart;
      r->junkSeveral = run > 1;
    }
  }
}

bool Idx1FitsBehind(const ChunkInfo& oldIdx1, uint64_t fileSize, uint64_t entryBytes) {
  uint64_t newEnd = NewIdx1Pos(oldIdx1.dwDataOffset, oldIdx1.cksize, fileSize) + 8 + entryBytes;
  return newEnd - 8 <= UINT32_MAX;
}

// The switch from the old index to the new one is a single 4-byte write of a
// chunk id: before it the reader finds the old idx1 first, after it the new
// one. Everything the new one needs is on disk before that write, and only
// JUNK, or an idx1 that is no longer the first, is cut off after it. The
// header counts come after the switch: they may lag behind an interrupted
// write, the index never does.
const char* ReplaceIdx1(int fd, const Idx1Replacement& r, const std::vector<iovec>& pieces, int failAtStep,
                        const Idx1WriteTexts& t) {
  int step = 0;
  // Tests make the disk fail at a given step.
  auto go = [&] { return step++ != failAtStep; };
  auto sync = [&] { return go() && fsync(fd) == 0; };
  struct stat st;
  if (fstat(fd, &st) != 0) return t.seek;
  const uint64_t fileSize = static_cast<uint64_t>(st.st_size);
  uint64_t n = 0;
  for (const iovec& v : pieces) n += v.iov_len;
  const uint64_t oldData = r.idx1Pos + 8;
  const uint64_t space = r.idx1Pos - r.junkPos;
  // A rest of the JUNK space needs room for a JUNK header of its own.
  const bool front = space == 8 + n || space >= 16 + n;
  uint64_t newEnd;
  if (front) {
    const uint64_t at = r.junkPos;
    newEnd = at + 8 + n;
    // 0: the JUNK chunks become one, so that the new entries cover no header
    // the file is still walked by.
    if (!go() || (r.junkSeveral && !Put32(fd, at + 4, static_cast<uint32_t>(space - 8)))) return t.size;
    // 1, 2: the entries and the JUNK header of the rest, inside the JUNK.
    if (!go() || !PutPieces(fd, at + 8, pieces) ||
        (space > 8 + n && !PutHead(fd, newEnd, FourCC("JUNK"), static_cast<uint32_t>(space - 16 - n))))
      return t.entries;
    if (!sync()) return t.entries;
    // 3, 4: the JUNK shrinks to the entries; the rest follows it.
    if (!go() || !Put32(fd, at + 4, static_cast<uint32_t>(n))) return t.size;
    if (!sync()) return t.size;
    // 5, 6: the switch; 7: the old idx1 is given up (until then it follows the
    // new one, which the reader finds first).
    if (!go() || !Put32(fd, at, FourCC("idx1"))) return t.entries;
    if (!sync()) return t.entries;
    if (!go() || !Put32(fd, r.idx1Pos, FourCC("JUNK"))) return t.entries;
  } else {
    const uint64_t at = NewIdx1Pos(oldData, r.idx1Size, fileSize);
    newEnd = at + 8 + n;
    if (newEnd - r.riffSizePos - 4 > UINT32_MAX) return t.riffSize;
    // 0: what followed the old idx1 goes; an old idx1 cut by the end of the
    // file is cut to its whole entries (it still reads the same).
    if (!go() || ftruncate(fd, static_cast<off_t>(at)) != 0) return t.truncate;
    if (oldData + r.idx1Size > fileSize && !Put32(fd, r.idx1Pos + 4, static_cast<uint32_t>(at - oldData)))
      return t.size;
    // 1: the RIFF covers what is written behind the old idx1 from here on.
    if (!go() || !Put32(fd, r.riffSizePos, static_cast<uint32_t>(newEnd - r.riffSizePos - 4)))
      return t.riffSize;
    // 2, 3, 4: the new idx1 behind the old one, on disk before the old one is
    // given up. Its header comes first: a stop in between leaves an idx1 the
    // reader never reaches, not a chunk of nothing.
    if (!go() || !PutHead(fd, at, FourCC("idx1"), static_cast<uint32_t>(n))) return t.size;
    if (!go() || !PutPieces(fd, at + 8, pieces)) return t.entries;
    if (!sync()) return t.entries;
    // 5: the switch.
    if (!go() || !Put32(fd, r.idx1Pos, FourCC("JUNK"))) return t.entries;
  }
  if (!sync()) return t.entries;
  if (!go() || !Put32(fd, r.avihFramesPos, r.avihFrames)) return t.avih;
  if (!go() || !Put32(fd, r.strhLengthPos, r.strhLength)) return t.strh;
  if (!sync()) return t.strh;
  if (front) {
    // Everything behind the new idx1 is JUNK now: out of the RIFF first, then
    // off the file.
    if (!go() || !Put32(fd, r.riffSizePos, static_cast<uint32_t>(newEnd - r.riffSizePos - 4)))
      return t.riffSize;
    if (!sync()) return t.riffSize;
    if (!go() || ftruncate(fd, static_cast<off_t>(newEnd)) != 0) return t.truncate;
  }
  return nullptr;
}

bool WriteIdx1InPlace(OpenAviFile* avi, const std::vector<uint8_t>& entries, const ChunkInfo& oldIdx1) {
  const Idx1WriteTexts kTexts = {
      "%sがシークできません!",
      "%sにidx1チャンク書き込みでエラーが発生しました!",
      "%sにidx1チャンクサイズ書き込みでエラーが発生しました!",
      "%sにRIFFチャンクサイズ書き込みでエラーが発生しました!",
      "%sにavihのdwTotalFrames書き込みでエラーが発生しました!",
      "%sにavisのdwLength書き込みでエラーが発生しました!",
      "%sのファイルサイズを変更できません!",
  };
  const char* name = avi->szFileName.c_str();
  avi_reader::Fd f;
  f.fd = open(name, O_RDWR | O_CLOEXEC);
  const char* failed = f.fd < 0 ? "%sが開けません!" : nullptr;
  if (!failed) {
    const uint32_t frames = avi->sets[0].FrameMax;
    Idx1Replacement r;
    r.riffSizePos = avi->dwRiffDataPos - 8;
    r.idx1Pos = oldIdx1.dwDataOffset - 8;
    r.idx1Size = oldIdx1.cksize;
    r.avihFramesPos = avi->dwAvihPos + 16;
    r.strhLengthPos = avi->dwVideoStrhPos + 24;
    r.avihFrames = r.strhLength = frames;
    FindJunkBeforeIdx1(f.fd, avi->dwRiffDataPos, &r);
    iovec all{const_cast<uint8_t*>(entries.data()), entries.size()};
    failed = ReplaceIdx1(f.fd, r, {all}, avi->options.idx1WriteFailAtStep, kTexts);
    if (!failed) {
      int fd = f.fd;
      f.fd = -1;
      if (close(fd) != 0) failed = kTexts.entries;
    }
    if (!failed) {
      avi->sets[0].avih.dwTotalFrames = frames;
      avi->sets[0].strhVideo.dwLength = frames;
    }
  }
  if (failed) Message(MB_OK | MB_ICONSTOP, nullptr, failed, name);
  return !failed;
}
