#include "audio/ChunkReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {
// Largest read; one chunk bigger than this is read as asked.
constexpr uint64_t kSpan = 2 << 20;
// Gaps up to this are read through: copying them costs less than a call.
constexpr uint64_t kMaxGap = 16 << 10;
}  // namespace

ChunkReader::ChunkReader(OpenAviFile* avi, const FrameIndexEntry* entries, uint32_t count, bool audio)
    : avi_(avi), entries_(entries), count_(count) {
  fd_ = MyAviDescriptor(avi, audio);
  if (fd_ >= 0) posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

bool ChunkReader::ReadAt(uint64_t offset, size_t bytes) {
  buf_.resize(bytes);
  for (size_t done = 0; done < bytes;) {
    ssize_t n = pread(fd_, buf_.data() + done, bytes - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  spanStart_ = offset;
  return true;
}

uint8_t* ChunkReader::Read(uint32_t k, uint32_t skip, uint32_t bytes, uint64_t wanted) {
  if (fd_ < 0 || k >= count_ || uint64_t{skip} + bytes > IndexSize(entries_[k])) return nullptr;
  const uint64_t at = IndexOffset(entries_[k]) + skip;
  if (k >= first_ && k <= last_ && at >= spanStart_ && at + bytes <= spanStart_ + buf_.size())
    return buf_.data() + (at - spanStart_);
  first_ = 1;
  last_ = 0;
  uint64_t end = at + bytes;
  uint32_t last = k;
  uint64_t data = bytes;
  // Only whole entries that come later in the file join the span, so no two
  // pieces handed out share bytes (the caller may change them).
  if (skip + bytes == IndexSize(entries_[k])) {
    for (uint32_t j = k + 1; j < count_; ++j) {
      const uint64_t o = IndexOffset(entries_[j]), n = IndexSize(entries_[j]);
      if (n == 0) {
        last = j;
        continue;
      }
      if (o < end || o - end > kMaxGap || o + n - at > kSpan || data + n > wanted) break;
      end = o + n;
      data += n;
      last = j;
    }
  }
  if (!ReadAt(at, static_cast<size_t>(end - at))) return nullptr;
  first_ = k;
  last_ = last;
  return buf_.data();
}
