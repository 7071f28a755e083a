// A new AVI file with one video stream and optionally one audio stream,
// written chunk by chunk. Up to the part limit (1 GiB) it is an AVI 1.0 file
// with an idx1; the headers carry JUNK chunks reserved for the OpenDML
// headers, which every AVI 1.0 reader skips. Past the limit the file goes on
// in "AVIX" parts: each part gets an ix## standard index per stream, each
// stream an indx super-index, the hdrl an odml/dmlh with the total frame
// count, and the first part keeps its idx1 for AVI 1.0 readers.
//
// The file is written under a temporary name in the output's folder and
// renamed at Finish, so an earlier file of that name survives a failed save.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "avi/BlockWriter.h"
#include "platform/Riff.h"
#include "platform/RiffFormats.h"

struct AviOutputHeaders {
  MainAVIHeader avih{};
  AVIStreamHeader videoHeader{};
  std::vector<uint8_t> videoFormat;  // the video strf
  bool audio = false;
  AVIStreamHeader audioHeader{};
  std::vector<uint8_t> audioFormat;  // WAVEFORMATEX and its cbSize extra bytes
};

constexpr uint32_t kAviIfKeyframe = 0x10;

class AviOutput {
 public:
  AviOutput() = default;
  AviOutput(const AviOutput&) = delete;
  AviOutput& operator=(const AviOutput&) = delete;
  // Removes the temporary file unless Finish renamed it.
  ~AviOutput();

  // Size of one RIFF part before the file continues in the next (tests make
  // it small). Set before Create.
  uint64_t partLimit = uint64_t{1} << 30;
  // Super-index slots reserved per stream: the number of parts the file can
  // have (512 × 1 GiB).
  uint32_t maxParts = 512;

  // Writes everything up to the opening of the "movi" list.
  bool Create(const std::string& path, const AviOutputHeaders& headers);
  // One "01wb" chunk (key frame).
  bool WriteAudio(const void* data, uint32_t bytes);
  // One video chunk ("00db" or "00dc") with its idx1 flags.
  bool WriteVideo(uint32_t ckid, const void* data, uint32_t bytes, uint32_t flags);
  // A video chunk whose data lies at `offset` of the descriptor `fd`, read
  // straight into the output's blocks. 1 written; 0 the source gave fewer
  // bytes (nothing written): the caller reads the frame itself, which names
  // the fault; -1 failed (Error()).
  int CopyVideo(uint32_t ckid, int fd, uint64_t offset, uint32_t bytes, uint32_t flags);
  // A null frame: an index entry of length 0 and offset 0, no chunk.
  bool WriteNullVideo(uint32_t ckid);

  // Closes the movi list and the parts, writes the indexes, and corrects the
  // video frame counts when they differ from the planned ones; the audio
  // strh's dwLength is written when given. Then the file takes its name.
  bool Finish(std::optional<uint32_t> audioLength = std::nullopt);
  // Gives up: the temporary file is removed, an earlier file of the name
  // stays as it was.
  void Abandon();

  // The first failure, naming the output file.
  const std::string& Error() const { return error_; }
  uint32_t VideoFrames() const { return videoFrames_; }
  uint64_t AudioBytes() const { return audioBytes_; }
  // RIFF parts so far (1: an AVI 1.0 file).
  int Parts() const { return static_cast<int>(parts_.size()); }

 private:
  struct Entry {
    uint32_t ckid, flags;
    uint64_t position;  // of the chunk header; 0 for a null frame
    uint32_t size;
  };
  struct Part {
    uint64_t riffPos = 0;  // ChunkInfo of the RIFF and its movi list
    std::vector<Entry> video, audio;
  };
  struct SuperEntry {
    uint64_t offset;
    uint32_t size, duration;
  };

  bool Fail(const char* format);
  bool Chunk(uint32_t ckid, const void* data, uint32_t bytes);
  // A chunk of the movi data, through the blocks.
  bool StreamChunk(uint32_t ckid, const void* data, uint32_t bytes);
  // Between the movi data (blocks_) and headers or indexes (file_).
  bool LeaveStream();
  void EnterStream();
  bool MakeRoom(uint64_t bytes);
  void AddVideoEntry(const Entry& e);
  bool WriteStandardIndex(bool video);
  bool ClosePart(bool last);
  bool OpenNextPart();
  bool WriteIdx1();
  bool PatchHeaders(std::optional<uint32_t> audioLength);

  std::string path_, temp_;
  RiffFile file_;
  AviOutputHeaders headers_;
  ChunkInfo riff_{}, movi_{};
  uint64_t moviPos_ = 0;  // the "movi" form type of the current part
  uint64_t avihData_ = 0, videoStrh_ = 0, audioStrh_ = 0;
  uint64_t videoIndxSlot_ = 0, audioIndxSlot_ = 0, odmlSlot_ = 0;
  std::vector<Part> parts_;
  std::vector<SuperEntry> videoSuper_, audioSuper_;
  std::vector<Entry> idx1_;  // the first part's entries in file order
  uint32_t videoFrames_ = 0;
  uint64_t audioBytes_ = 0;
  uint32_t firstPartFrames_ = 0;
  bool failed_ = false, done_ = false;
  std::string error_;
  // Last: it stops writing before file_ closes.
  BlockWriter blocks_;
};
