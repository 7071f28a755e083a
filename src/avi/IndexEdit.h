// The index commands of the video menu: they edit the idx1 of an AVI file in
// place (delete a frame's entry, make it a null frame, insert a null frame,
// remove every null frame), reading the file afresh rather than trusting an
// index in memory.
#pragma once
#include <cstdint>
#include <string>

enum class IndexEditKind { kDeleteFrame, kMakeNull, kInsertNull, kRemoveNulls };

enum class IndexEditResult {
  kDone,
  kRefused,     // nothing written: the file cannot be edited safely, or the frame is not there
  kFailed,      // a write failed; the file has its old index or the new one
  kUnreadable,  // nothing written: not an AVI file that can be read
};

// Edits the idx1 of the AVI file `path` in place. `frame` counts the video
// entries of idx1 from 0 (ignored for kRemoveNulls). *changed: entries removed
// for kRemoveNulls (0: the file was not touched), else 1. On anything but
// kDone a message box has been shown. failAtStep >= 0 (tests): the write fails
// at that step as a failing disk would.
IndexEditResult EditIndex(const std::string& path, IndexEditKind kind, uint32_t frame, int* changed,
                          int failAtStep = -1);

// The same; false on failure, and *refused tells a refusal (nothing written)
// from a failed write.
bool EditIndexInPlace(const std::string& path, IndexEditKind kind, uint32_t frame, int* changed,
                      bool* refused = nullptr, int failAtStep = -1);
