// The audio engine: reads the PCM audio of a table's files (their own PCM
// chunks or the decoded work file) in chunk order through the current sets,
// so deletion ranges apply, and writes it to a WAVE file or a buffer.
// Implemented modes: 0x80 WAVE export, 0x08 with it (volume factor) and
// 0x10000 (a frame range into the caller's buffer). The other modes of the
// engine (in-place rewrite, import, fades, measurements, the DV check, the
// program's playback buffer) are not built yet and are refused.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "avi/OpenAvi.h"

enum : unsigned {
  kWaveVolume = 0x8,
  kWaveExport = 0x80,
  kWaveFrameRangeToBuffer = 0x10000,
};

enum class TableAudio { kNone, kPcm, kDecoded, kNotDecoded };

enum WaveScope : int { kScopeWhole = 0, kScopeSelection = 1, kScopeCurrentFrame = 2 };

// Kept by the program while it runs.
struct ReadWaveSettings {
  int scope = kScopeWhole;
  // Selection in global frames of the view; an end below 0 is the last frame.
  int64_t selectionFirst = 0, selectionLast = -1;
  uint32_t currentFrame = 0;
  double factor = 1.0;
  // Audio shift in samples: above 0 later (leading silence), below 0 earlier
  // (the first samples are skipped).
  int64_t shiftSamples = 0;
};

// [first, end) in samples of the table's audio, counted over the current sets.
struct SampleRange {
  uint64_t first = 0, end = 0;
};

class ReadWave {
 public:
  explicit ReadWave(OpenAviTable& table) : table_(table) {}

  // The first open file with an audio stream, or null.
  OpenAviFile* AudioFile() const;
  TableAudio State() const;
  // PCM format of every operation: pwfAudio for PCM, wfPCM when decoded.
  WaveFormatEx Format() const;
  double SamplesPerFrame() const;
  // Samples the current sets of all files hold.
  uint64_t TotalSamples() const;
  SampleRange ScopeRange(const ReadWaveSettings& s) const;
  SampleRange FrameRange(uint32_t firstFrame, uint32_t count) const;

  // 1 done, 0 failed, cancelled or refused. 0x80 writes `wavePath`; 0x10000
  // fills *buffer with the audio of the frames (zero past the audio).
  int Run(unsigned mode, const ReadWaveSettings& settings, const std::string& wavePath,
          uint32_t firstFrame = 0, uint32_t frameCount = 0, std::vector<uint8_t>* buffer = nullptr);
  // The failure of the last Run ("" after success or Esc).
  const std::string& Error() const { return error_; }

 private:
  struct Chunks {
    const FrameIndexEntry* entries = nullptr;
    uint32_t count = 0;
    bool ok = true;  // false: compressed audio that was not decoded
  };
  Chunks ChunksOf(const OpenAviFile& avi) const;
  uint64_t FrameToSample(double frame) const;
  // Calls sink(bytes, n) for the samples [first, end) in order; false on a
  // read failure (error_ set), Esc (abort_ set) or when sink says stop.
  template <class Sink>
  bool Walk(SampleRange range, bool progress, Sink&& sink);
  void Progress(uint64_t done, uint64_t total);

  OpenAviTable& table_;
  std::string error_;
  bool abort_ = false;
  std::string scopeName_, opName_;
  long lastPct_ = -1;
};
