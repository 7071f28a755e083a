// Quendrix's core: shortens or lengthens a PCM WAVE file by removing or
// repeating one sample frame in every period of u frames, at the place inside
// the period where the change is least audible. No Qt here; the window and
// the command line both drive AdjustWave.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Host.h"

extern const char kQuendrixCaption[];  // "Quendrix"

struct AdjustOptions {
  uint32_t range = 10000;  // N: samples per period before rounding
  uint32_t dispose = 1;    // M: samples changed per N
  bool extend = false;     // lengthen (repeat) instead of shorten (remove)
  bool keepSize = false;   // keep the data length of the input
};

// Period u = round(N / M). 0 when N or M is 0; values <= 3 are refused by
// CheckPeriod.
uint32_t PeriodOf(uint32_t range, uint32_t dispose);
// Null when the values are usable, else the message that refuses them.
const char* CheckPeriod(uint32_t range, uint32_t dispose);

// How the samples of one frame are read for the choice of position.
struct SampleLayout {
  uint32_t frameSize = 0;  // f = nAvgBytesPerSec / nSamplesPerSec
  uint16_t channels = 0;
  bool eightBit = false;  // f / channels < 2
  // Signed amplitude of channel ch in the frame at p: 8-bit as the byte minus
  // 128, otherwise the top 16 bits of the channel's little-endian slot (the
  // sample itself for 16-bit PCM).
  int Sample(const uint8_t* frame, unsigned ch) const;
};

struct Choice {
  uint32_t j = 0;         // frame inside the block
  bool fallback = false;  // no monotonic frame: the quietest was taken ("*")
};
// Chooses the frame to remove or repeat in a block of k frames of period u
// (k = u when shortening, u - 1 when lengthening; u >= 4).
Choice ChoosePosition(const uint8_t* block, uint32_t k, uint32_t u, const SampleLayout& layout);

// "%9lu%c %6hd %6hd" with two or more channels, "%9lu%c %6hd" with one.
std::string ListLine(uint64_t position, bool fallback, const uint8_t* frame, const SampleLayout& layout);

// Proposed output name: the input's file-name part without a ".wav" ending
// (any case, when the name is longer than 3 characters) plus "-.wav" when
// shortening or "+.wav" when lengthening.
std::string OutputName(const std::string& inputPath, bool extend);
// The log beside the output: extension "wav" (any case) replaced by "log",
// otherwise ".log" appended.
std::string LogName(const std::string& outputPath);

// What survives from one run to the next in a session of the program.
struct AdjustSession {
  std::string outputDir;   // folder the save dialog starts in ("" at start)
  std::string lastOutput;  // output of the last run that got that far
};

struct AdjustCallbacks {
  // Asks for the output path; false when cancelled. Unset: the host's file
  // dialog.
  std::function<bool(const FileDialogRequest&, std::string*)> chooseOutput;
  // One list line per changed position, in order.
  std::function<void(const std::string&)> addLine;
};

enum class AdjustStatus { Ok, Refused, Failed, Aborted };

// Runs one file: checks N and M, reads the input's format, asks for the
// output, writes it. Every message is shown through the host with caption
// "Quendrix" and the question icon; success beeps. A failure after the output
// was started leaves a valid WAVE file with the data written so far.
AdjustStatus AdjustWave(const std::string& inputPath, const AdjustOptions& options, AdjustSession* session,
                        const AdjustCallbacks& callbacks);

// Size of the read and write buffers; the tests shrink it to exercise refills.
extern size_t gAdjustChunkBytes;

// The same choice by the plain scan of every layout (the vector path of
// ChoosePosition must agree with it).
Choice ChoosePositionPlain(const uint8_t* block, uint32_t k, uint32_t u, const SampleLayout& layout);
