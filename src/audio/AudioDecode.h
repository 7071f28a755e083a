// Compressed AVI audio decoded once into a PCM work file that belongs to the
// record; audio reads of the record go there from then on.
#pragma once
#include <cstdint>

#include "avi/OpenAvi.h"

// The work file is indexed in pieces of this many bytes: every piece fits the
// 24-bit size of an index entry in whole 16-byte units.
constexpr uint32_t kPcmPieceBytes = 16777200;

// Decodes the audio of set 0 into the work file, reopens it read-only and
// fills pIndexPCM, dwIndexPCM and dwSamplesPCM. Succeeds at once when the
// work file is open already. On failure nothing of the work file is left;
// it is reported unless Esc stopped it.
bool DecodeAudioStream(OpenAviFile* avi);
// The same with another piece size (tests).
bool DecodeAudioStream(OpenAviFile* avi, uint32_t pieceBytes);
