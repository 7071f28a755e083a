// Measures by how many samples the audio of one capture is ahead of or
// behind the audio of another at corresponding frames: landmarks (extremes,
// peaks and valleys) of an excerpt of each, offsets that the extremes and
// the peaks agree on, and further frame pairs when they do not agree.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "audio/ReadWave.h"

struct AudioLandmark {
  int64_t index = 0;
  int32_t previous = 0, value = 0, next = 0;
};

struct AudioLandmarks {
  AudioLandmark maxima[10], minima[10];  // ascending / descending by value
  AudioLandmark peaks[15], valleys[15];  // by prominence, then sorted by index
};

// The first channel as signed values (8-bit samples less 128).
std::vector<int32_t> FirstChannel(const std::vector<uint8_t>& bytes, const WaveFormatEx& wf, bool negate);
AudioLandmarks FindLandmarks(const std::vector<int32_t>& s);
// The one offset (first index − second index) that both the extremes and
// the peaks agree on; 0 when there is none or more than one.
int64_t DecideOffset(const AudioLandmarks& first, const AudioLandmarks& second);

// Comparison mode 0..5 and the options of the comparison tool.
struct AudioCompareOptions {
  int mode = 0;
  bool sameFramePairing = false;
  bool invertPolarity = false;
};

struct AudioCompareResult {
  enum Kind { kFound, kNotDecided, kAborted, kFailed, kNoRoom } kind = kFailed;
  int64_t offset = 0;  // samples, negative when the first file's audio is ahead
};

// Compares the audio of `first` at frame f1 with that of `second` at f2
// (both the tables' global frames), shows the result in the status line and
// the log, and reports failures in boxes. Both tables must be open.
AudioCompareResult CompareAudioPosition(OpenAviTable& first, OpenAviTable& second, int64_t f1, int64_t f2,
                                        const AudioCompareOptions& options = {});
