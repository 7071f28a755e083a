#include "audio/WaveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/Format.h"
#include "platform/Riff.h"

namespace {

constexpr uint32_t kRiff = FourCC("RIFF"), kRf64 = FourCC("RF64"), kBw64 = FourCC("BW64"),
                   kWave = FourCC("WAVE"), kDs64 = FourCC("ds64"), kFmt = FourCC("fmt "),
                   kData = FourCC("data"), kJunk = FourCC("JUNK"), kFact = FourCC("fact");
// ds64 without its table: RIFF size, data size, sample count, table length.
constexpr uint32_t kDs64Bytes = 28;
constexpr size_t kWriteBuffer = 1 << 20;

// Reads exactly n bytes at `offset`.
bool ReadAt(int fd, uint64_t offset, void* buf, size_t n) {
  uint8_t* p = static_cast<uint8_t*>(buf);
  while (n) {
    ssize_t got = pread(fd, p, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    offset += static_cast<uint64_t>(got);
    n -= static_cast<size_t>(got);
  }
  return true;
}

// Writes exactly n bytes at `offset`; `done` counts what got through.
bool WriteAt(int fd, uint64_t offset, const void* buf, size_t n, uint64_t* done = nullptr) {
  const uint8_t* p = static_cast<const uint8_t*>(buf);
  while (n) {
    ssize_t put = pwrite(fd, p, n, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = ENOSPC;
      return false;
    }
    p += put;
    offset += static_cast<uint64_t>(put);
    n -= static_cast<size_t>(put);
    if (done) *done += static_cast<uint64_t>(put);
  }
  return true;
}

bool PrintableId(const uint8_t* p) {
  for (int i = 0; i < 4; ++i)
    if (p[i] < 0x20 || p[i] > 0x7E) return false;
  return true;
}

// The headers of an open file of `fileSize` bytes. Every size read from the
// file is checked against fileSize before it is used.
bool ParseWave(int fd, uint64_t fileSize, const std::string& path, unsigned flags, WaveFileInfo* info,
               std::string* message, std::string* note) {
  const char* name = path.c_str();
  uint8_t head[12];
  if (fileSize < 12 || !ReadAt(fd, 0, head, sizeof head)) {
    *message = Fmt("%sはWAVEファイルではありません!", name);
    return false;
  }
  const uint32_t form = GetLE32(head);
  info->rf64 = form == kRf64 || form == kBw64;
  if ((form != kRiff && !info->rf64) || GetLE32(head + 8) != kWave) {
    *message = Fmt("%sはWAVEファイルではありません!", name);
    return false;
  }

  // The walk goes to the end of the file rather than of the RIFF: writers that
  // could not seek back leave its size at 0 or at its maximum.
  bool haveDs64 = false, haveFmt = false, haveData = false;
  uint64_t ds64Data = 0, dataSize = 0;
  uint64_t pos = 12;
  while (!(haveFmt && haveData) && pos + 8 <= fileSize) {
    uint8_t h[8];
    if (!ReadAt(fd, pos, h, sizeof h)) {
      *message = Fmt("%sが読み出せません!", name);
      return false;
    }
    const uint32_t id = GetLE32(h), size32 = GetLE32(h + 4);
    const uint64_t body = pos + 8;
    uint64_t size = size32;
    if (id == kDs64 && info->rf64 && !haveDs64) {
      uint8_t d[24];
      if (size32 < sizeof d || body + sizeof d > fileSize || !ReadAt(fd, body, d, sizeof d)) {
        *message = Fmt("%sのds64チャンクが読み出せません!", name);
        return false;
      }
      ds64Data = GetLE64(d + 8);
      haveDs64 = true;
    } else if (id == kFmt && !haveFmt) {
      info->fmt.resize(size32 <= kMaxFormatChunk && size <= fileSize - body ? size32 : 0);
      if (info->fmt.size() != size32 || !ReadAt(fd, body, info->fmt.data(), size32)) {
        *message = Fmt("%sのfmtが読み出せません!", name);
        return false;
      }
      haveFmt = true;
    } else if (id == kData && !haveData) {
      // In RF64 the 32-bit field is all ones and ds64 holds the size.
      if (info->rf64 && size32 == 0xFFFFFFFFu) {
        if (!haveDs64) {
          *message = Fmt("%sにds64チャンクがありません!", name);
          return false;
        }
        size = ds64Data;
      }
      haveData = true;
      info->dataOffset = body;
      dataSize = size;
      if (haveFmt) break;
    }
    uint64_t next = size > UINT64_MAX - body - 1 ? UINT64_MAX : body + size + (size & 1);
    // Some writers leave odd chunks unpadded: take the unpadded end when only
    // it starts with a readable chunk id.
    if ((size & 1) && next + 4 <= fileSize) {
      uint8_t a[4], b[4];
      if (ReadAt(fd, next, a, 4) && !PrintableId(a) && ReadAt(fd, next - 1, b, 4) && PrintableId(b)) --next;
    }
    pos = next;
  }

  if (!haveFmt) {
    *message = Fmt("%sはfmtチャンクがありません!", name);
    return false;
  }
  // 14 bytes reach the block alignment, all a reader of blocks needs.
  if (info->fmt.size() < 14) {
    *message = Fmt("%sのfmtチャンクが小さすぎます!", name);
    return false;
  }
  info->format = ParseWaveFormatInfo(info->fmt.data(), info->fmt.size());
  const WaveFormatEx& wf = info->format.wf;
  if (wf.nChannels == 0 || wf.nSamplesPerSec == 0 || wf.nBlockAlign == 0) {
    *message =
        Fmt("%sのオーディオフォーマットが不正です(チャンネル数 %u, 毎秒 %uサンプル, ブロックサイズ %u)!",
            name, wf.nChannels, wf.nSamplesPerSec, wf.nBlockAlign);
    return false;
  }
  if ((flags & kWaveNeedPcm) && !info->IsPcm()) {
    *message =
        Fmt("%sのオーディオはPCMではありません(フォーマット 0x%04X)!", name, info->format.effectiveTag);
    return false;
  }
  if (info->rf64 && !haveDs64) {
    *message = Fmt("%sにds64チャンクがありません!", name);
    return false;
  }
  if (!haveData) {
    *message = Fmt("%sはdataチャンクがありません!", name);
    return false;
  }

  // The 18-byte form the import compares with the AVI's PCM format.
  info->compared = wf;
  if (info->IsPcm()) {
    info->compared.wFormatTag = kWaveFormatPcm;
    if (info->fmt.size() < 16)
      info->compared.wBitsPerSample = static_cast<uint16_t>(wf.nBlockAlign / wf.nChannels * 8);
    info->compared.cbSize = 0;
  } else if (info->fmt.size() < 18) {
    info->compared.cbSize = 0;
  }

  info->declaredBytes = dataSize;
  const uint64_t there = fileSize - info->dataOffset;
  if (dataSize <= there) {
    info->dataBytes = dataSize;
  } else {
    info->truncated = true;
    info->dataBytes = there - there % wf.nBlockAlign;
    if (note)
      *note = Fmt("%sのdataチャンクはファイルの終わりで切れています(%llu/%lluバイト)。ある分だけを使います.",
                  name, static_cast<unsigned long long>(info->dataBytes),
                  static_cast<unsigned long long>(dataSize));
  }
  return true;
}

int OpenForReading(const std::string& path, uint64_t* size) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  // Only regular files: a device would be read for ever.
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return -1;
  }
  *size = static_cast<uint64_t>(st.st_size);
  return fd;
}

}  // namespace

bool MatchWaveFormat(const WaveFileInfo& info, const WaveFormatEx& avi, const std::string& wavePath,
                     const std::string& aviPath, std::string* message) {
  uint8_t a[kWaveFormatExBytes], b[kWaveFormatExBytes];
  StoreWaveFormat(info.compared, a);
  StoreWaveFormat(avi, b);
  if (std::memcmp(a, b, sizeof a) == 0) return true;
  *message = Fmt("%sのオーディオフォーマットは%sと一致しません!", wavePath.c_str(), aviPath.c_str());
  return false;
}

bool ReadWaveFileInfo(const std::string& path, unsigned flags, WaveFileInfo* info, std::string* message,
                      std::string* note) {
  WaveReader reader;
  if (!reader.Open(path, flags, message, note)) return false;
  *info = reader.Info();
  return true;
}

WaveReader::~WaveReader() {
  Close();
}

void WaveReader::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool WaveReader::Open(const std::string& path, unsigned flags, std::string* message, std::string* note) {
  Close();
  info_ = WaveFileInfo();
  uint64_t size = 0;
  fd_ = OpenForReading(path, &size);
  if (fd_ < 0) {
    *message = Fmt("%sが開けません!", path.c_str());
    return false;
  }
  if (!ParseWave(fd_, size, path, flags, &info_, message, note)) {
    Close();
    return false;
  }
  return true;
}

int64_t WaveReader::ReadData(uint64_t offset, void* buf, size_t n) {
  if (fd_ < 0) return -1;
  if (offset >= info_.dataBytes) return 0;
  n = static_cast<size_t>(std::min<uint64_t>(n, info_.dataBytes - offset));
  return ReadAt(fd_, info_.dataOffset + offset, buf, n) ? static_cast<int64_t>(n) : -1;
}

// ---- writer ----

WaveWriter::~WaveWriter() {
  // Whatever was appended is kept, with the sizes to match.
  if (fd_ >= 0) Finish();
}

bool WaveWriter::Create(const std::string& path, const WaveFormatEx& wf) {
  uint8_t b[kWaveFormatExBytes];
  StoreWaveFormat(wf, b);
  return Create(path, b, sizeof b);
}

bool WaveWriter::Create(const std::string& path, const uint8_t* fmt, size_t fmtBytes) {
  path_ = path;
  const WaveFormatEx wf = ParseWaveFormat(fmt, fmtBytes);
  if (fmtBytes < 16 || fmtBytes > kMaxFormatChunk || wf.nBlockAlign == 0) {
    message_ = Fmt("%sのfmt書き込みでエラーが発生しました!", path.c_str());
    failed_ = true;
    return false;
  }
  blockAlign_ = wf.nBlockAlign;
  // Encoded data says its length in samples in a fact chunk; PCM needs none.
  fact_ = ParseWaveFormatInfo(fmt, fmtBytes).effectiveTag != kWaveFormatPcm;
  dataStart_ = 12 + 8 + kDs64Bytes + 8 + fmtBytes + (fmtBytes & 1) + (fact_ ? 12 : 0) + 8;
  fmt_.assign(fmt, fmt + fmtBytes);
  buffer_.reserve(kWriteBuffer);
  fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    message_ = Fmt("%sが開けません!", path.c_str());
    failed_ = true;
    return false;
  }
  // A header that says "no data" from the start: a crash leaves a valid file.
  bool ok = WriteHeader(0);
  if (!ok) {
    close(fd_);
    fd_ = -1;
    unlink(path.c_str());
    message_ = Fmt("%sにRIFFチャンクを作成できません!", path.c_str());
    failed_ = true;
  }
  return ok;
}

uint64_t WaveWriter::SampleFrames(uint64_t dataBytes) const {
  if (!fact_) return dataBytes / blockAlign_;
  // Until the end the header describes no data.
  return dataBytes ? sampleFrames_ : 0;
}

uint64_t WaveWriter::RiffSize(uint64_t dataBytes) const {
  return dataStart_ - 8 + dataBytes + (dataBytes & 1);
}

bool WaveWriter::WriteHeader(uint64_t dataBytes) {
  std::vector<uint8_t> h(dataStart_, 0);
  std::memcpy(h.data() + 56, fmt_.data(), fmt_.size());
  const uint64_t riff = RiffSize(dataBytes);
  rf64_ = riff > riffLimit_;
  PutLE32(&h[0], rf64_ ? kRf64 : kRiff);
  PutLE32(&h[4], rf64_ ? 0xFFFFFFFFu : static_cast<uint32_t>(riff));
  PutLE32(&h[8], kWave);
  PutLE32(&h[12], rf64_ ? kDs64 : kJunk);
  PutLE32(&h[16], kDs64Bytes);
  if (rf64_) {
    PutLE64(&h[20], riff);
    PutLE64(&h[28], dataBytes);
    PutLE64(&h[36], SampleFrames(dataBytes));  // the table stays empty
  }
  PutLE32(&h[48], kFmt);
  PutLE32(&h[52], static_cast<uint32_t>(fmt_.size()));
  if (fact_) {
    const size_t at = 56 + fmt_.size() + (fmt_.size() & 1);
    PutLE32(&h[at], kFact);
    PutLE32(&h[at + 4], 4);
    PutLE32(&h[at + 8], static_cast<uint32_t>(std::min<uint64_t>(SampleFrames(dataBytes), 0xFFFFFFFFu)));
  }
  PutLE32(&h[dataStart_ - 8], kData);
  PutLE32(&h[dataStart_ - 4], rf64_ ? 0xFFFFFFFFu : static_cast<uint32_t>(dataBytes));
  return WriteAt(fd_, 0, h.data(), h.size());
}

bool WaveWriter::FlushBuffer() {
  if (buffer_.empty()) return true;
  bool ok = WriteAt(fd_, dataStart_ + onDisk_, buffer_.data(), buffer_.size(), &onDisk_);
  buffer_.clear();
  return ok || Fail();
}

bool WaveWriter::Append(const void* data, size_t n) {
  if (failed_ || fd_ < 0) return false;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  dataBytes_ += n;
  if (buffer_.size() + n <= kWriteBuffer) {
    buffer_.insert(buffer_.end(), p, p + n);
    return true;
  }
  if (!FlushBuffer()) return false;
  if (n < kWriteBuffer) {
    buffer_.assign(p, p + n);
    return true;
  }
  return WriteAt(fd_, dataStart_ + onDisk_, p, n, &onDisk_) || Fail();
}

bool WaveWriter::AppendZeros(uint64_t n) {
  if (failed_ || fd_ < 0) return false;
  if (n < kWriteBuffer) {
    if (buffer_.size() + n > kWriteBuffer && !FlushBuffer()) return false;
    buffer_.resize(buffer_.size() + static_cast<size_t>(n), 0);
    dataBytes_ += n;
    return true;
  }
  if (!FlushBuffer()) return false;
  // Leave a hole: the next write, or the length set by Finish, makes it part
  // of the file.
  onDisk_ += n;
  dataBytes_ += n;
  return true;
}

bool WaveWriter::Finish() {
  if (fd_ < 0) return !failed_;
  if (failed_) return false;
  if (!FlushBuffer()) return false;
  // The length covers a trailing hole and the pad byte of odd data.
  const uint64_t end = dataStart_ + dataBytes_ + (dataBytes_ & 1);
  if (ftruncate(fd_, static_cast<off_t>(end)) != 0) return Fail();
  if (!WriteHeader(dataBytes_)) return Fail();
  int rc = close(fd_);
  fd_ = -1;
  if (rc != 0) {
    // The data may not all have reached the disk; nothing is left to mend.
    failed_ = true;
    message_ = Fmt("%sのdata書き込みでエラーが発生しました!", path_.c_str());
    return false;
  }
  return true;
}

// A failure half way. The file is cut back to the whole blocks that reached
// it and its header rewritten for them, so it stays a valid, shorter WAVE:
// what got through before a disk filled up is worth keeping, and the header
// area exists already, so rewriting it needs no new space. Only when that
// cut or header write fails too is the file removed, since its header would
// otherwise claim data it lacks or be half written.
bool WaveWriter::Fail() {
  failed_ = true;
  buffer_.clear();
  if (fd_ < 0) return false;
  struct stat st;
  uint64_t have = 0;
  if (fstat(fd_, &st) == 0 && static_cast<uint64_t>(st.st_size) > dataStart_)
    have = std::min<uint64_t>(onDisk_, static_cast<uint64_t>(st.st_size) - dataStart_);
  uint64_t whole = have - have % blockAlign_;
  // Odd data needs its pad byte; drop a block rather than grow the file.
  if ((whole & 1) && whole + 1 > have) whole -= blockAlign_;
  bool kept = ftruncate(fd_, static_cast<off_t>(dataStart_ + whole + (whole & 1))) == 0 && WriteHeader(whole);
  kept = close(fd_) == 0 && kept;
  fd_ = -1;
  dataBytes_ = onDisk_ = kept ? whole : 0;
  if (!kept) unlink(path_.c_str());
  message_ = Fmt("%sのdata書き込みでエラーが発生しました!", path_.c_str());
  return false;
}
