// Reads the audio chunks of one file in chunk order for the audio engine's
// walks. Chunks that follow each other in the file with small gaps between
// them (the small video chunks of a capture between its audio chunks) are
// read together with one positioned read of a few MiB instead of a seek and
// a read each; chunks far apart are read one by one.
#pragma once
#include <cstdint>
#include <vector>

#include "avi/OpenAvi.h"

class ChunkReader {
 public:
  // `entries` index data of `avi` and must outlive the reader. With `audio`
  // they point into the file the audio is read from (the work file when the
  // audio is decoded), else into the AVI itself.
  ChunkReader(OpenAviFile* avi, const FrameIndexEntry* entries, uint32_t count, bool audio = true);
  // Bytes [skip, skip + bytes) of entry k's data, or null when they cannot be
  // read. The bytes may be changed by the caller; they stay valid until the
  // next call. `wanted` is the data the caller will take from here on (this
  // piece included): no more is read ahead than that.
  uint8_t* Read(uint32_t k, uint32_t skip, uint32_t bytes, uint64_t wanted = UINT64_MAX);

 private:
  bool ReadAt(uint64_t offset, size_t bytes);

  OpenAviFile* avi_;
  const FrameIndexEntry* entries_;
  uint32_t count_;
  int fd_ = -1;
  std::vector<uint8_t> buf_;
  // buf_ holds the file from spanStart_ on, and with it the data of entries
  // [first_, last_] (from spanStart_ on for entry first_).
  uint64_t spanStart_ = 0;
  uint32_t first_ = 1, last_ = 0;
};
