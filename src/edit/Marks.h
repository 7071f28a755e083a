// Frame marks and deletion ranges of the open files, the frame selection,
// and their storage in profile files (the settings file or a mark file).
#pragma once
#include <cstdint>
#include <string>

#include "avi/OpenAvi.h"

// How SetMark is given its frame (bits 1-2) and whether it removes (bit 0).
enum : int {
  kMarkRemove = 1,
  kMarkLocalCurrent = 0,    // number in the file's current view
  kMarkGlobalCurrent = 2,   // global number of the current view
  kMarkLocalUnedited = 4,   // number in the file's set 0
  kMarkGlobalUnedited = 6,  // global number over set 0
};
constexpr size_t kMaxCommentLength = 71;

// Adds (or, with kMarkRemove, removes) the mark of a frame; for the global
// forms `file` is found from the number. Adding to a marked frame replaces
// its comment. False when nothing was removed, the frame is outside the
// files, or memory ran out (after a message).
bool SetMark(OpenAviTable& table, int file, int64_t frame, const std::string& comment, int flags);
// Adds the range [first, last] to the file's ranges, merging what overlaps.
// Numbers are of the file's current view unless `unedited`; -1 means the
// first or the last frame. `comment` null: the user is asked (Host), and a
// cancel adds nothing and returns false; a given comment is joined to those
// of the ranges it merges with. The deletion view is not rebuilt.
bool AddDeleteRange(OpenAviTable& table, int file, int64_t first, int64_t last, const std::string* comment,
                    bool unedited);

// The stored forms: "12,a||b|40," for marks, "3,9,cut|20,25," for ranges.
std::string FormatFrameMarks(const OpenAviFile& avi);
std::string FormatDeleteRanges(const OpenAviFile& avi);
// Adds what the stored forms hold to the file; entries outside the file are
// dropped.
void ParseFrameMarks(OpenAviTable& table, int file, const std::string& value);
void ParseDeleteRanges(OpenAviTable& table, int file, const std::string& value);

// Writes (save) or reads the file's marks and ranges under the section named
// by its path in the profile file `path` (empty: the program's settings
// file). Reading rebuilds the deletion view while the ranges are on. False
// when the file could not be written.
bool SerializeMarks(OpenAviTable& table, int file, const std::string& path, bool save);
// A mark file for files named on a command line: each open file takes the
// section whose path resolves to the same absolute path. False (message
// shown) when the mark file cannot be read.
bool LoadMarkFileByResolvedPaths(OpenAviTable& table, const std::string& markFile);
// The headless forms: loads the mark file as above, switches deletion
// ranges on and rebuilds every file's view, so the files show the frames an
// edit keeps. False when the mark file cannot be read or memory ran out.
bool ViewThroughMarkFile(OpenAviTable& table, const std::string& markFile);
