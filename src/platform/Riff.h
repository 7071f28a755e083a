// Buffered file I/O with 64-bit positions and RIFF chunk navigation in the
// manner of the classic multimedia-file calls: descend into a chunk (optionally
// searching for a RIFF form, a LIST type or a chunk id), ascend out of it, and
// create chunks whose sizes are fixed up and padded to even length on ascend.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}
constexpr uint32_t FourCC(const char (&s)[5]) {
  return MakeFourCC(s[0], s[1], s[2], s[3]);
}
// The FOURCC with its ASCII letters upper-cased, and comparison with case
// ignored (handlers are written either way).
constexpr uint32_t UpperFourCC(uint32_t fcc) {
  uint32_t out = 0;
  for (int i = 0; i < 4; ++i) {
    uint32_t c = (fcc >> (8 * i)) & 0xFF;
    if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
    out |= c << (8 * i);
  }
  return out;
}
constexpr bool SameFourCCNoCase(uint32_t a, uint32_t b) {
  return UpperFourCC(a) == UpperFourCC(b);
}
// Four printable characters of a FOURCC (non-printable bytes become '?').
std::string FourCCText(uint32_t fcc);

inline uint16_t GetLE16(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}
inline uint32_t GetLE32(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}
inline uint64_t GetLE64(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return GetLE32(b) | (static_cast<uint64_t>(GetLE32(b + 4)) << 32);
}
inline void PutLE16(void* p, uint16_t v) {
  uint8_t* b = static_cast<uint8_t*>(p);
  b[0] = static_cast<uint8_t>(v);
  b[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLE32(void* p, uint32_t v) {
  uint8_t* b = static_cast<uint8_t*>(p);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutLE64(void* p, uint64_t v) {
  PutLE32(p, static_cast<uint32_t>(v));
  PutLE32(static_cast<uint8_t*>(p) + 4, static_cast<uint32_t>(v >> 32));
}

struct ChunkInfo {
  uint32_t ckid = 0;
  uint32_t cksize = 0;        // as stored; for RIFF and LIST it includes fccType
  uint32_t fccType = 0;       // form or list type (RIFF and LIST only)
  uint64_t dwDataOffset = 0;  // position of the data (of fccType for RIFF and LIST)
  bool dirty = false;         // created here: size is fixed up on ascend
  uint64_t End() const { return dwDataOffset + cksize; }
  uint64_t PaddedEnd() const { return dwDataOffset + cksize + (cksize & 1); }
};

enum : unsigned {
  kFindChunk = 0x10,  // search for ckid
  kFindRiff = 0x20,   // search for RIFF with fccType
  kFindList = 0x40,   // search for LIST with fccType
  kCreateRiff = 0x20,
  kCreateList = 0x40,
};

enum class RiffError { None, NotFound, Read, Write, Seek, Open, TooLarge };

class RiffFile {
 public:
  // ModeCreateWriteOnly: a file that is never read back, so a seek does not
  // read ahead into the buffer (the C library does for readable streams).
  enum Mode { ModeRead, ModeCreate, ModeReadWrite, ModeCreateWriteOnly };

  RiffFile() = default;
  RiffFile(const RiffFile&) = delete;
  RiffFile& operator=(const RiffFile&) = delete;
  ~RiffFile();

  bool Open(const std::string& path, Mode mode, size_t bufferSize = 1 << 20);
  bool IsOpen() const { return file_ != nullptr; }
  // Flushes and closes; false when anything written could not reach the file.
  bool Close();
  // Writes buffered data; with toDisk also asks the system to store it.
  bool Flush(bool toDisk = false);

  // Bytes read (fewer at the end of the file), or -1 on an error.
  int64_t Read(void* buf, size_t n);
  bool ReadExact(void* buf, size_t n) { return Read(buf, n) == static_cast<int64_t>(n); }
  bool Write(const void* buf, size_t n);
  // New position, or -1.
  int64_t Seek(int64_t offset, int whence = SEEK_SET);
  int64_t Tell();
  uint64_t Size();

  // Reads the chunk header at the current position, searching forward as the
  // flags say within `parent` (or the whole file). On success the position is
  // at the data (behind fccType for RIFF and LIST).
  bool Descend(ChunkInfo* ck, const ChunkInfo* parent, unsigned flags);
  // Leaves `ck`: a created chunk gets its size written and an even pad byte;
  // the position moves behind the (padded) chunk.
  bool Ascend(ChunkInfo* ck);
  // Writes a chunk header at the current position (ckid, cksize, and fccType
  // for kCreateRiff / kCreateList) and marks the chunk for fix-up.
  bool CreateChunk(ChunkInfo* ck, unsigned flags);

  // The underlying descriptor, for bulk transfers that bypass the buffer
  // (flush first, and Seek afterwards); -1 when closed.
  int Descriptor() const { return file_ ? fileno(file_) : -1; }

  RiffError LastError() const { return error_; }
  const std::string& Path() const { return path_; }

 private:
  bool Prepare(bool forWrite);
  std::FILE* file_ = nullptr;
  // The stream's buffer when created for writing (see Open).
  std::unique_ptr<char[]> buffer_;
  std::string path_;
  RiffError error_ = RiffError::None;
  int lastOp_ = 0;  // 1 read, 2 write: stdio needs a seek between the two
  bool writeFailed_ = false;
};
