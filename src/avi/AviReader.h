// Opening and closing an AVI file record, and rebuilding its index by
// scanning the chunks.
#pragma once
#include <cstdint>
#include <string>

#include "avi/OpenAvi.h"

// The record's options say how it is opened. Mode 0 closes; 1 opens (offers to build a missing index); 2
// opens for the table of appended files (idx1 required); 3 opens without the box about a codec that cannot be
// opened. On failure the record is closed and the message, if any, has been shown.
bool CloseOpenAvi(OpenAviFile* avi, int mode);
// Scans the chunks of the file and replaces set 0's indexes; with writeBack
// the file's idx1 is replaced in place (after a confirmation).
bool RebuildAviIndex(OpenAviFile* avi, bool writeBack);
