// The view of a file through its deletion ranges (set 1): the frame and audio
// indexes with the ranges cut out, and the conversion of frame numbers
// between the full numbering (set 0) and the cut one.
#pragma once
#include <cstdint>

#include "avi/OpenAvi.h"

// Frame `frame` of set 0 as a frame of the cut view: -1 when it lies inside a
// range, otherwise the frame less the lengths of the ranges before it. The
// ranges apply whatever the switch says; callers check the switch.
int64_t deletedFrameNo(const OpenAviFile& avi, int64_t frame);
// Frame `frame` of the cut view as a frame of set 0.
int64_t UndeletedFrameNo(const OpenAviFile& avi, int64_t frame);

// on: builds set 1 from set 0 and the ranges (audio carried in whole sample
// blocks) and makes it current; off: makes set 0 current. `rate` is the
// effective frame rate of the table (0: the file's own). Every mark's lShown
// follows. False after a message when memory ran out; the previous view stays.
bool ChangeOpenAviParam(OpenAviFile* avi, bool on, double rate);
