#include "avi/IndexWriteBack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "avi/AviReaderInternal.h"
#include "platform/Host.h"
#include "platform/Messages.h"

namespace {

// Where the new idx1 goes: right behind the old one, or behind the entries
// of it the file holds when the old one runs past the end.
uint64_t NewIdx1Pos(const ChunkInfo& oldIdx1, uint64_t fileSize) {
  if (oldIdx1.PaddedEnd() <= fileSize) return oldIdx1.PaddedEnd();
  return oldIdx1.dwDataOffset + (fileSize - std::min(fileSize, oldIdx1.dwDataOffset)) / 16 * 16;
}

}  // namespace

bool Idx1FitsBehind(const ChunkInfo& oldIdx1, uint64_t fileSize, uint64_t entryBytes) {
  uint64_t newEnd = NewIdx1Pos(oldIdx1, fileSize) + 8 + entryBytes;
  return newEnd - 8 <= UINT32_MAX;
}

// The new idx1 is appended behind the old one, and the old one is retagged
// JUNK by a single 4-byte write. Until that write the reader finds the old
// idx1 first; after it, the new one. The header counts come last: they may
// lag behind an interrupted write, the index never does.
bool WriteIdx1InPlace(OpenAviFile* avi, const std::vector<uint8_t>& entries, const ChunkInfo& oldIdx1) {
  const char* name = avi->szFileName.c_str();
  auto fail = [&](const char* format) {
    Message(MB_OK | MB_ICONSTOP, nullptr, format, name);
    return false;
  };
  // Tests make the disk fail at a given step.
  auto Step = [avi](int step) { return step != avi->options.idx1WriteFailAtStep; };
  avi_reader::Fd f;
  f.fd = open(name, O_RDWR | O_CLOEXEC);
  if (f.fd < 0) return fail("%sが開けません!");
  struct stat st;
  if (fstat(f.fd, &st) != 0) return fail("%sがシークできません!");
  const uint64_t fileSize = static_cast<uint64_t>(st.st_size);
  const uint64_t at = NewIdx1Pos(oldIdx1, fileSize);
  const uint64_t newEnd = at + 8 + entries.size();
  if (!Idx1FitsBehind(oldIdx1, fileSize, entries.size()))
    return fail("%sにRIFFチャンクサイズ書き込みでエラーが発生しました!");
  auto put = [&](uint64_t pos, const void* p, size_t n) {
    for (size_t done = 0; done < n;) {
      ssize_t w =
          pwrite(f.fd, static_cast<const uint8_t*>(p) + done, n - done, static_cast<off_t>(pos + done));
      if (w <= 0) return false;
      done += static_cast<size_t>(w);
    }
    return true;
  };
  auto put32 = [&](uint64_t pos, uint32_t v) {
    uint8_t b[4];
    PutLE32(b, v);
    return put(pos, b, 4);
  };
  // 0: what followed the old idx1 goes; an old idx1 cut by the end of the
  // file is cut to its whole entries (it still reads the same).
  if (!Step(0) || ftruncate(f.fd, static_cast<off_t>(at)) != 0)
    return fail("%sのファイルサイズを変更できません!");
  if (oldIdx1.PaddedEnd() > fileSize &&
      !put32(oldIdx1.dwDataOffset - 4, static_cast<uint32_t>(at - oldIdx1.dwDataOffset)))
    return fail("%sにidx1チャンクサイズ書き込みでエラーが発生しました!");
  // 1: the RIFF covers what is written behind the old idx1 from here on (a
  // stop in between leaves nothing that looks like data after the index).
  if (!Step(1) || !put32(avi->dwRiffDataPos - 8, static_cast<uint32_t>(newEnd - 8)))
    return fail("%sにRIFFチャンクサイズ書き込みでエラーが発生しました!");
  // 2, 3, 4: the new idx1 behind the old one, entries first, on disk before
  // the old one is given up.
  if (!Step(2) || !put(at + 8, entries.data(), entries.size()))
    return fail("%sにidx1チャンク書き込みでエラーが発生しました!");
  uint8_t head[8];
  PutLE32(head, FourCC("idx1"));
  PutLE32(head + 4, static_cast<uint32_t>(entries.size()));
  if (!Step(3) || !put(at, head, 8)) return fail("%sにidx1チャンクサイズ書き込みでエラーが発生しました!");
  if (!Step(4) || fsync(f.fd) != 0) return fail("%sにidx1チャンク書き込みでエラーが発生しました!");
  // 5, 6: the switch.
  if (!Step(5) || !put32(oldIdx1.dwDataOffset - 8, FourCC("JUNK")))
    return fail("%sにidx1チャンク書き込みでエラーが発生しました!");
  if (!Step(6) || fsync(f.fd) != 0) return fail("%sにidx1チャンク書き込みでエラーが発生しました!");
  // 7, 8, 9: the header counts.
  uint32_t frames = avi->sets[0].FrameMax;
  if (!Step(7) || !put32(avi->dwAvihPos + 16, frames))
    return fail("%sにavihのdwTotalFrames書き込みでエラーが発生しました!");
  if (!Step(8) || !put32(avi->dwVideoStrhPos + 24, frames))
    return fail("%sにavisのdwLength書き込みでエラーが発生しました!");
  if (!Step(9) || fsync(f.fd) != 0) return fail("%sにavisのdwLength書き込みでエラーが発生しました!");
  int fd = f.fd;
  f.fd = -1;
  if (close(fd) != 0) return fail("%sにidx1チャンク書き込みでエラーが発生しました!");
  avi->sets[0].avih.dwTotalFrames = frames;
  avi->sets[0].strhVideo.dwLength = frames;
  return true;
}
