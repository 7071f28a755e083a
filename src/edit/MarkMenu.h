// What the Selection/Mark menu lists: one entry per mark over all open files
// (marks of the first file first) and two per deletion range, with their
// captions, and the way back from an entry's number to its mark or range.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "avi/OpenAvi.h"

struct MarkMenuCaptions {
  std::vector<std::string> marks;
  std::vector<std::string> selectRanges, deleteRanges;
};
// `relativeBase` is the relative numbering base (0: off).
MarkMenuCaptions BuildMarkMenuCaptions(const OpenAviTable& table, uint32_t relativeBase);

// Entry n of the mark list or of the range lists: the file and the index in
// its vector; file -1 when there is no such entry.
struct MarkEntry {
  int file = -1;
  size_t index = 0;
};
MarkEntry FindMarkEntry(const OpenAviTable& table, size_t n);
MarkEntry FindRangeEntry(const OpenAviTable& table, size_t n);

// Frames of set 0 in the files before `file`.
uint32_t UneditedFramesBefore(const OpenAviTable& table, int file);
