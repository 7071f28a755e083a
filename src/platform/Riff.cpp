#include "platform/Riff.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>

std::string FourCCText(uint32_t fcc) {
  std::string s(4, '?');
  for (int i = 0; i < 4; ++i) {
    char c = static_cast<char>((fcc >> (8 * i)) & 0xFF);
    if (std::isprint(static_cast<unsigned char>(c))) s[i] = c;
  }
  return s;
}

RiffFile::~RiffFile() {
  Close();
}

bool RiffFile::Open(const std::string& path, Mode mode, size_t bufferSize) {
  Close();
  path_ = path;
  error_ = RiffError::None;
  writeFailed_ = false;
  lastOp_ = 0;
  const char* how = mode == ModeRead              ? "rbe"
                    : mode == ModeCreate          ? "w+be"
                    : mode == ModeCreateWriteOnly ? "wbe"
                                                  : "r+be";
  if (mode == ModeCreateWriteOnly) {
    // An empty file (a temporary name just made) is not truncated again:
    // ext4 writes out a file truncated to nothing as soon as it is closed,
    // taking it for a rewrite in place, and the caller would wait for that.
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || (st.st_size != 0 && ftruncate(fd, 0) != 0))) {
      close(fd);
      fd = -1;
    }
    file_ = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (fd >= 0 && !file_) close(fd);
  } else {
    file_ = std::fopen(path.c_str(), how);
  }
  if (!file_) {
    error_ = RiffError::Open;
    return false;
  }
  // Without a buffer of its own the C library keeps a block-sized one and
  // ignores the size: a new file would be written 4 KiB per call. Reading
  // keeps the small buffer, which suits the seek and read of each chunk.
  if (bufferSize && (mode == ModeCreate || mode == ModeCreateWriteOnly)) {
    buffer_.reset(new char[bufferSize]);
    std::setvbuf(file_, buffer_.get(), _IOFBF, bufferSize);
  } else if (bufferSize) {
    std::setvbuf(file_, nullptr, _IOFBF, bufferSize);
  }
  return true;
}

bool RiffFile::Close() {
  if (!file_) return true;
  bool ok = std::fflush(file_) == 0 && !writeFailed_;
  if (std::fclose(file_) != 0) ok = false;
  file_ = nullptr;
  buffer_.reset();
  return ok;
}

bool RiffFile::Flush(bool toDisk) {
  if (!file_) return false;
  if (std::fflush(file_) != 0 || writeFailed_) {
    writeFailed_ = true;
    return false;
  }
  return !toDisk || fsync(fileno(file_)) == 0;
}

bool RiffFile::Prepare(bool forWrite) {
  int op = forWrite ? 2 : 1;
  if (lastOp_ && lastOp_ != op && fseeko(file_, 0, SEEK_CUR) != 0) return false;
  lastOp_ = op;
  return true;
}

int64_t RiffFile::Read(void* buf, size_t n) {
  if (!file_ || !Prepare(false)) return -1;
  size_t got = std::fread(buf, 1, n, file_);
  if (got < n && std::ferror(file_)) {
    std::clearerr(file_);
    error_ = RiffError::Read;
    return -1;
  }
  std::clearerr(file_);
  return static_cast<int64_t>(got);
}

bool RiffFile::Write(const void* buf, size_t n) {
  if (!file_ || !Prepare(true)) return false;
  if (std::fwrite(buf, 1, n, file_) != n) {
    error_ = RiffError::Write;
    writeFailed_ = true;
    return false;
  }
  return true;
}

int64_t RiffFile::Seek(int64_t offset, int whence) {
  if (!file_) return -1;
  if (fseeko(file_, offset, whence) != 0) {
    error_ = RiffError::Seek;
    return -1;
  }
  lastOp_ = 0;
  return ftello(file_);
}

int64_t RiffFile::Tell() {
  return file_ ? ftello(file_) : -1;
}

uint64_t RiffFile::Size() {
  if (!file_) return 0;
  int64_t here = Tell();
  std::fflush(file_);
  int64_t end = fseeko(file_, 0, SEEK_END) == 0 ? ftello(file_) : 0;
  fseeko(file_, here, SEEK_SET);
  lastOp_ = 0;
  return end < 0 ? 0 : static_cast<uint64_t>(end);
}

bool RiffFile::Descend(ChunkInfo* ck, const ChunkInfo* parent, unsigned flags) {
  const uint32_t kRiff = FourCC("RIFF"), kList = FourCC("LIST");
  uint32_t wantId = ck->ckid, wantType = ck->fccType;
  uint64_t limit = parent ? parent->End() : UINT64_MAX;
  for (;;) {
    int64_t pos = Tell();
    if (pos < 0) {
      error_ = RiffError::Seek;
      return false;
    }
    if (static_cast<uint64_t>(pos) + 8 > limit) {
      error_ = RiffError::NotFound;
      return false;
    }
    uint8_t head[12];
    int64_t got = Read(head, 8);
    if (got != 8) {
      error_ = got < 0 ? RiffError::Read : RiffError::NotFound;
      return false;
    }
    ChunkInfo found;
    found.ckid = GetLE32(head);
    found.cksize = GetLE32(head + 4);
    found.dwDataOffset = static_cast<uint64_t>(pos) + 8;
    bool hasType = (found.ckid == kRiff || found.ckid == kList) && found.cksize >= 4;
    if (hasType) {
      if (Read(head + 8, 4) != 4) {
        error_ = RiffError::NotFound;
        return false;
      }
      found.fccType = GetLE32(head + 8);
    }
    bool match = true;
    if (flags & kFindRiff)
      match = found.ckid == kRiff && found.fccType == wantType;
    else if (flags & kFindList)
      match = found.ckid == kList && found.fccType == wantType;
    else if (flags & kFindChunk)
      match = found.ckid == wantId;
    if (match) {
      *ck = found;
      return true;
    }
    if (Seek(static_cast<int64_t>(found.PaddedEnd()), SEEK_SET) < 0) return false;
  }
}

bool RiffFile::Ascend(ChunkInfo* ck) {
  if (ck->dirty) {
    int64_t end = Tell();
    if (end < 0) return false;
    uint64_t size = static_cast<uint64_t>(end) - ck->dwDataOffset;
    if (size > 0xFFFFFFFFull) {
      error_ = RiffError::TooLarge;
      return false;
    }
    ck->cksize = static_cast<uint32_t>(size);
    uint8_t b[4];
    PutLE32(b, ck->cksize);
    if (Seek(static_cast<int64_t>(ck->dwDataOffset) - 4) < 0 || !Write(b, 4) || Seek(end) < 0) return false;
    if (size & 1) {
      uint8_t pad = 0;
      if (!Write(&pad, 1)) return false;
    }
    ck->dirty = false;
    return true;
  }
  return Seek(static_cast<int64_t>(ck->PaddedEnd())) >= 0;
}

bool RiffFile::CreateChunk(ChunkInfo* ck, unsigned flags) {
  int64_t pos = Tell();
  if (pos < 0) return false;
  uint8_t head[12];
  uint32_t id = ck->ckid;
  if (flags & kCreateRiff)
    id = FourCC("RIFF");
  else if (flags & kCreateList)
    id = FourCC("LIST");
  bool typed = flags & (kCreateRiff | kCreateList);
  PutLE32(head, id);
  PutLE32(head + 4, ck->cksize);
  PutLE32(head + 8, ck->fccType);
  if (!Write(head, typed ? 12 : 8)) return false;
  ck->ckid = id;
  ck->dwDataOffset = static_cast<uint64_t>(pos) + 8;
  ck->dirty = true;
  return true;
}
