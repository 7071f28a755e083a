// WAVE files as the audio export and import use them: a reader for RIFF and
// RF64 (a ds64 chunk holding the 64-bit sizes) that finds fmt and data among
// whatever other chunks a recorder left, and a writer that starts as RIFF and
// turns its reserved JUNK into ds64 when the data outgrows 32-bit sizes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/RiffFormats.h"

struct WaveFileInfo {
  std::vector<uint8_t> fmt;  // the fmt chunk as stored
  WaveFormatInfo format;     // parsed from it
  // The 18 bytes the import compares: PCM (the extensible form too) as tag 1
  // with cbSize 0, wBitsPerSample from the block size when the chunk lacks it.
  WaveFormatEx compared{};
  bool rf64 = false;
  uint64_t dataOffset = 0;     // first byte of the samples
  uint64_t dataBytes = 0;      // what can be read: inside the file
  uint64_t declaredBytes = 0;  // what the header claims
  // The data chunk runs past the end of the file; dataBytes is cut to whole
  // blocks of what is there.
  bool truncated = false;

  // PCM data: tag 1, or the extensible form with the PCM sub-format.
  bool IsPcm() const { return format.effectiveTag == kWaveFormatPcm; }
  uint16_t BlockAlign() const { return format.wf.nBlockAlign; }
};

enum : unsigned {
  kWaveNeedPcm = 1,  // refuse every other format
};

// Reads the headers of the WAVE file at `path`. On failure returns false and
// sets `message` to the text that names the file. A truncated data chunk is
// read, and `note` (when given) gets the information text about it.
bool ReadWaveFileInfo(const std::string& path, unsigned flags, WaveFileInfo* info, std::string* message,
                      std::string* note = nullptr);

// True when the file's format is the AVI's, byte for byte in the 18-byte
// form; else false with the message naming both files.
bool MatchWaveFormat(const WaveFileInfo& info, const WaveFormatEx& avi, const std::string& wavePath,
                     const std::string& aviPath, std::string* message);

// The samples of an opened WAVE file, read by position within the data.
class WaveReader {
 public:
  WaveReader() = default;
  WaveReader(const WaveReader&) = delete;
  WaveReader& operator=(const WaveReader&) = delete;
  ~WaveReader();

  bool Open(const std::string& path, unsigned flags, std::string* message, std::string* note = nullptr);
  void Close();
  const WaveFileInfo& Info() const { return info_; }
  // Reads up to n bytes at `offset` from the start of the data, never beyond
  // dataBytes; bytes read or -1 on an error.
  int64_t ReadData(uint64_t offset, void* buf, size_t n);

 private:
  int fd_ = -1;
  WaveFileInfo info_;
};

// Largest RIFF size a plain RIFF header can hold.
constexpr uint64_t kWaveRiffLimit = 0xFFFFFFFFull;

// Writes RIFF WAVE: "JUNK" (28 bytes, the room a ds64 needs), "fmt ", for
// formats other than PCM "fact", and "data".
// The header always describes data the file holds: it says 0 bytes until
// Finish, and a failure on the way leaves either a shorter valid file or none.
class WaveWriter {
 public:
  // riffLimit: above it the header becomes RF64 (lowered by the tests).
  explicit WaveWriter(uint64_t riffLimit = kWaveRiffLimit) : riffLimit_(riffLimit) {}
  WaveWriter(const WaveWriter&) = delete;
  WaveWriter& operator=(const WaveWriter&) = delete;
  ~WaveWriter();

  // Creates the file with the given fmt chunk (16, 18 or 40-byte forms);
  // nBlockAlign must not be 0.
  bool Create(const std::string& path, const uint8_t* fmt, size_t fmtBytes);
  // The 18-byte WAVEFORMATEX form.
  bool Create(const std::string& path, const WaveFormatEx& wf);
  bool Append(const void* data, size_t n);
  // n zero bytes; large runs become a hole in the file where it supports one.
  bool AppendZeros(uint64_t n);
  // Writes the sizes and closes. After any failure the file is cut back to
  // the whole blocks written (DataBytes) or removed (see Fail).
  bool Finish();

  // Encoded formats: the samples per channel the data decodes to, written
  // into fact (and ds64) by Finish.
  void SetSampleFrames(uint64_t n) { sampleFrames_ = n; }
  uint64_t DataBytes() const { return dataBytes_; }
  bool Rf64() const { return rf64_; }
  const std::string& Message() const { return message_; }

 private:
  bool FlushBuffer();
  bool WriteHeader(uint64_t dataBytes);
  bool Fail();
  uint64_t RiffSize(uint64_t dataBytes) const;
  uint64_t SampleFrames(uint64_t dataBytes) const;

  uint64_t riffLimit_;
  std::string path_, message_;
  int fd_ = -1;
  bool failed_ = false, rf64_ = false, fact_ = false;
  uint64_t sampleFrames_ = 0;
  uint16_t blockAlign_ = 0;
  std::vector<uint8_t> fmt_;
  uint64_t dataStart_ = 0;
  uint64_t dataBytes_ = 0;  // appended, buffered or not
  uint64_t onDisk_ = 0;     // of those, handed to the file
  std::vector<uint8_t> buffer_;
};
