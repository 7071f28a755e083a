// Writing a rebuilt idx1 into the file it was built from, in an order that
// leaves the file with exactly its old index or exactly the new one wherever
// the writing stops.
#pragma once
#include <cstdint>
#include <vector>

#include "avi/OpenAvi.h"

// Whether a new idx1 of `entryBytes` can go behind `oldIdx1` (the chunk as
// found, in a file of `fileSize` bytes): the first RIFF's size must still fit.
bool Idx1FitsBehind(const ChunkInfo& oldIdx1, uint64_t fileSize, uint64_t entryBytes);

// Replaces the file's idx1 `oldIdx1` by `entries` (16 bytes each) and writes
// set 0's FrameMax into the headers. Whatever followed the old idx1 is cut
// off. On failure the message has been shown.
bool WriteIdx1InPlace(OpenAviFile* avi, const std::vector<uint8_t>& entries, const ChunkInfo& oldIdx1);
