// The audio engine: reads the PCM audio of a table's files (their own PCM
// chunks or the decoded work file) in chunk order through the current sets,
// so deletion ranges apply, and writes it to a WAVE file, a buffer, or back
// into the files in place; measures it; checks the audio of DV files.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "avi/OpenAvi.h"

// Mode bits; the callers combine them (0x240 audio from another AVI, 0x140
// from a WAVE file, 0x48 volume rewrite, 0x50/0x60 fades, 0x88 export with
// the factor, 0x480/0x880 the frames round the current one).
enum : unsigned {
  kWaveDvCheck = 0x1,
  kWaveOffsetCheck = 0x2,
  kWaveFactorCheck = 0x4,
  kWaveVolume = 0x8,
  kWaveFadeIn = 0x10,
  kWaveFadeOut = 0x20,
  kWaveRewrite = 0x40,
  kWaveExport = 0x80,
  kWaveFromWave = 0x100,
  kWaveFromAvi = 0x200,
  kWaveAroundFrame = 0x400,
  kWaveAroundFrameShifted = 0x800,  // also shifts by 801 samples
  kWaveFrameRangeToProgramBuffer = 0x8000,
  kWaveFrameRangeToBuffer = 0x10000,
};

enum class TableAudio { kNone, kPcm, kDecoded, kNotDecoded };

enum WaveScope : int { kScopeWhole = 0, kScopeSelection = 1, kScopeCurrentFrame = 2 };
enum WaveChannel : int { kChannelBoth = 0, kChannelLeft = 1, kChannelRight = 2 };

// The output format chosen in the audio format panel of the save dialogs.
struct AudioOutputChoice {
  // On: the audio is encoded into `format` (a WAVEFORMATEX with its extra
  // bytes); off: the source PCM is copied unchanged.
  bool encodeAudio = false;
  // The save dialog's "音声なし".
  bool videoOnly = false;
  std::vector<uint8_t> format;
};

// Kept by the program while it runs (the factor, limit and offsets are also
// stored in the settings file by the window).
struct ReadWaveSettings {
  int scope = kScopeWhole;
  // Selection in global frames of the view; an end below 0 is the last frame.
  int64_t selectionFirst = 0, selectionLast = -1;
  uint32_t currentFrame = 0;
  double factor = 1.0;
  // Target level of the largest-factor check, percent of full scale.
  uint32_t targetPercent = 100;
  // Level correction subtracts the channel offsets from every sample.
  bool levelCorrection = false;
  int32_t offsetLeft = 0, offsetRight = 0;
  int channel = kChannelBoth;
  // Audio shift in samples: above 0 later (leading silence), below 0 earlier
  // (the first samples are skipped).
  int64_t shiftSamples = 0;
  // Set after a volume rewrite; the next one asks first.
  bool audioModified = false;
  // Doubles N of the frames-round-the-current-one save (10 to 20).
  bool wideAroundFrame = false;
  AudioOutputChoice output;
};

// What one run works on besides the settings.
struct ReadWaveRequest {
  // 0x80: the WAVE file written; 0x100: the WAVE file read; 0x400/0x800: the
  // folder-and-name base is the audio file's, the engine stores the name it
  // wrote here.
  std::string wavePath;
  // 0x200: the other AVI, opened by the caller with purpose 40010.
  OpenAviFile* otherAvi = nullptr;
  // 0x1: the file checked. In-place walks: null covers every opened file.
  OpenAviFile* record = nullptr;
  // 0x8000 / 0x10000: the frames of the view read.
  uint32_t firstFrame = 0, frameCount = 0;
  // 0x10000: the caller's buffer.
  std::vector<uint8_t>* buffer = nullptr;
};

// One row of the DV audio check's tally: a difference between a chunk's
// sample count and the samples of one frame, and how many chunks had it.
struct DvTallyEntry {
  int64_t difference = 0;
  uint32_t chunks = 0;
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

  // 1 done, 0 failed, cancelled or refused. The measurements store what the
  // user accepts in `settings`; a volume rewrite sets audioModified.
  int Run(unsigned mode, ReadWaveSettings& settings, ReadWaveRequest& request);
  // The WAVE export and the frame-range read in one call.
  int Run(unsigned mode, ReadWaveSettings& settings, const std::string& wavePath, uint32_t firstFrame = 0,
          uint32_t frameCount = 0, std::vector<uint8_t>* buffer = nullptr);
  // The program's audio buffer that 0x8000 fills (for the AVI writer): its
  // length is nBlockAlign × the samples of the frames.
  const std::vector<uint8_t>& AudioBuffer() const { return audioBuffer_; }
  // The failure of the last Run ("" after success or Esc).
  const std::string& Error() const { return error_; }
  // The last DV audio check's ten most frequent differences, most frequent
  // first (ties: the smaller difference first).
  const std::vector<DvTallyEntry>& DvTally() const { return dvTally_; }

 private:
  struct Chunks {
    const FrameIndexEntry* entries = nullptr;
    uint32_t count = 0;
    bool ok = true;  // false: compressed audio that was not decoded
  };
  // One piece of audio read by Walk: the file it came from and where, so an
  // in-place rewrite can write it back. `data` may be changed by the sink.
  struct Piece {
    OpenAviFile* avi;
    uint64_t offset;  // position of data[0] in the file (or its work file)
    uint8_t* data;
    uint32_t bytes;
  };
  using Sink = std::function<bool(const Piece&)>;

  Chunks ChunksOf(const OpenAviFile& avi) const;
  // Samples before each audio chunk of file `i` (one more value than
  // chunks: the last is the file's total), worked out once per index: the
  // waveform reads a frame at a time and must not count every chunk each
  // time.
  struct ChunkStarts {
    const OpenAviFile* avi = nullptr;
    const FrameIndexEntry* entries = nullptr;
    unsigned long long stamp = 0;
    uint32_t count = 0;
    uint16_t blockAlign = 0;
    std::vector<uint64_t> start{0};
  };
  const ChunkStarts& StartsOf(int i) const;
  uint64_t FrameToSample(double frame) const;
  // Calls sink for the samples [first, end) in order, in whole blocks; false
  // on a read failure (error_ set), Esc (abort_ set) or when sink says stop.
  bool Walk(SampleRange range, bool progress, const Sink& sink);
  void Progress(uint64_t done, uint64_t total);
  // Names the operation for the status line and the title.
  void Begin(int scope, const std::string& opName);
  // Status line, beep and the error box at the end of an operation.
  int End(bool ok, bool quiet = false);

  // Modes with 0x40 (volume, fades, import from WAVE or another AVI).
  int RunRewrite(unsigned mode, ReadWaveSettings& settings, ReadWaveRequest& request);
  // Modes 0x1, 0x2 and 0x4.
  int RunMeasure(unsigned mode, ReadWaveSettings& settings, ReadWaveRequest& request);
  // Modes 0x80, 0x88, 0x480, 0x880.
  int RunExport(unsigned mode, ReadWaveSettings& settings, ReadWaveRequest& request);
  int MeasureFactor(ReadWaveSettings& settings);
  int MeasureOffsets(ReadWaveSettings& settings);
  int CheckDvAudio(ReadWaveRequest& request);
  // The name the operation log gives the table's audio.
  std::string AviName() const;
  // First and last global frame of the settings' scope.
  void ScopeFrames(const ReadWaveSettings& s, long* first, long* last) const;

  OpenAviTable& table_;
  std::string error_;
  bool abort_ = false;
  std::vector<uint8_t> audioBuffer_;
  mutable std::vector<ChunkStarts> starts_;
  std::vector<DvTallyEntry> dvTally_;
  std::string scopeName_, opName_;
  long lastPct_ = -1;
};
