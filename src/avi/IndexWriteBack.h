// Writing a new idx1 into the file it belongs to, in an order that leaves the
// file with exactly its old index or exactly the new one wherever the writing
// stops. The rebuilt index's write-back and the in-place index edits share it.
#pragma once
#include <sys/uio.h>

#include <cstdint>
#include <vector>

#include "avi/OpenAvi.h"

// Where the idx1 being replaced lies and what the header counts become.
struct Idx1Replacement {
  uint64_t riffSizePos = 0;  // the size field of the RIFF that holds the idx1
  uint64_t idx1Pos = 0;      // header of the idx1 in use
  uint32_t idx1Size = 0;     // its data size as stored
  // The JUNK chunks right before the idx1 (junkPos == idx1Pos: none): the new
  // idx1 goes there when it fits, so that edit after edit the file does not grow.
  uint64_t junkPos = 0;
  bool junkSeveral = false;
  uint64_t avihFramesPos = 0, strhLengthPos = 0;
  uint32_t avihFrames = 0, strhLength = 0;
};

// The message formats (with the file name) of the kinds of step.
struct Idx1WriteTexts {
  const char* seek;
  const char* entries;
  const char* size;
  const char* riffSize;
  const char* avih;
  const char* strh;
  const char* truncate;
};

// Finds the JUNK chunks that end at r->idx1Pos among the children of a RIFF,
// the first of which is at `firstChild`.
void FindJunkBeforeIdx1(int fd, uint64_t firstChild, Idx1Replacement* r);

// Whether a new idx1 of `entryBytes` can go behind `oldIdx1` (the chunk as
// found, in a file of `fileSize` bytes): the first RIFF's size must still fit.
bool Idx1FitsBehind(const ChunkInfo& oldIdx1, uint64_t fileSize, uint64_t entryBytes);

// Replaces the idx1 of the file open as `fd` by the entries (16 bytes each)
// that `pieces` hold one after another, and writes the header counts. Whatever followed the old idx1 is cut
// off, JUNK left before the new one too. Returns null on success, else the message format of the step that
// failed. failAtStep >= 0 (tests): that step fails as a failing disk would.
const char* ReplaceIdx1(int fd, const Idx1Replacement& r, const std::vector<iovec>& pieces, int failAtStep,
                        const Idx1WriteTexts& texts);

// The rebuilt index's write-back: replaces the file's idx1 `oldIdx1` by
// `entries` and writes set 0's FrameMax into the headers. On failure the
// message has been shown.
bool WriteIdx1InPlace(OpenAviFile* avi, const std::vector<uint8_t>& entries, const ChunkInfo& oldIdx1);
