// Opening and closing an AVI file record, and rebuilding its index by
// scanning the chunks.
#pragma once
#include <cstdint>
#include <string>

#include "avi/OpenAvi.h"

// Mode 0 closes; 1 opens (offers to build a missing index); 2 opens for the
// table of appended files (idx1 required); 3 opens without the box about a
// codec that cannot be opened. On failure the record is closed and the
// message, if any, has been shown.
bool CloseOpenAvi(OpenAviFile* avi, int mode);
// Scans the chunks of the file and replaces set 0's indexes; with writeBack
// the file's idx1 is replaced in place (after a confirmation).
bool RebuildAviIndex(OpenAviFile* avi, bool writeBack);

// What the audio and index-editing code plug in (null: not available yet).
extern bool (*gDecodeAudioStreamHook)(OpenAviFile* avi);
extern bool (*gChangeOpenAviParamHook)(OpenAviFile* avi);

// Headless use (the report): a missing idx1 is indexed by scanning without a
// question, and nothing is written.
extern bool gScanMissingIndexSilently;

// Facts the reader learns on the way that the record does not keep.
struct AviReadNotes {
  bool openDmlTried = false;           // an indx was found
  std::string openDmlFallback;         // reason when the indx could not be used
  bool idx1Clamped = false;            // idx1 runs past the end of the file
  bool scanStoppedAtCutChunk = false;  // the scan met a chunk cut by the end of the file
  uint64_t cutChunkPos = 0;
  uint64_t fileSize = 0;
};
extern AviReadNotes gLastReadNotes;

// Test hook for the in-place index write: when >= 0, the write sequence
// fails at that step (0 = first step) as if the disk had failed there.
extern int gIdx1WriteFailAtStep;

// Threads the index scan may use for files of several RIFF parts: 0 (the
// default) one per processor when the file is in the page cache, 1 every
// file on the calling thread, 2 or more that many whatever the cache holds.
extern unsigned gScanThreads;
