// Audio playback of the shown files through the wave-out device, two buffers
// of 30 frames each, with the picture following the played position; and the
// sample reads it shares with the audio position comparison.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "audio/ReadWave.h"
#include "platform/WaveOut.h"

// Reads the samples [first, first + count) of the table's audio through the
// engine's frame-range reads into `out` (nBlockAlign bytes each); samples
// before 0 or past the audio are zero. False when the engine failed.
bool ReadSamples(ReadWave& engine, int64_t first, uint64_t count, std::vector<uint8_t>* out);

// What playback needs from the program around it.
struct AudioPlayHooks {
  WaveOutFactory makeDevice;
  // The frame the window shows, and showing one (the go-to-frame move).
  std::function<uint32_t()> currentFrame;
  std::function<void(uint32_t frame)> goToFrame;
  // The busy state of the menus and controls (on while playing) and the
  // abort question, which playback turns off.
  std::function<void(bool busy)> setInterfaceBusy;
  // Posts the play command again for later.
  std::function<void(int command)> postAgain;
  // Milliseconds of a steady clock, and a short rest while waiting for the
  // device; tests replace both.
  std::function<uint64_t()> ticks;
  std::function<void()> rest;
};

class AudioPlayer {
 public:
  AudioPlayer(OpenAviTable& table, AudioPlayHooks hooks);

  // Commands 42000 (frames first..last from the current frame) and 42001
  // (the selection). `playSync` frames are added to the frame shown;
  // `waveDelayMs` above 0 makes the sound come that much later than the
  // picture, below 0 earlier.
  void Play(int command, uint32_t first, uint32_t last, uint32_t playSync, int32_t waveDelayMs);
  // The internal text of the last failure ("" when none); the user sees only
  // the general message.
  const std::string& LastError() const { return error_; }
  // Frames each queued buffer started at, in the order written (tests).
  const std::vector<uint32_t>& BufferStarts() const { return bufferStarts_; }

 private:
  bool Fill(WaveHeader& h, int64_t firstSample);
  void Finish(WaveOut* device, WaveHeader* h, bool opened);

  OpenAviTable& table_;
  AudioPlayHooks hooks_;
  ReadWave engine_;
  int command_ = 0;
  bool windingUp_ = false;
  std::string error_;
  std::vector<uint32_t> bufferStarts_;
  std::vector<uint8_t> scratch_;
  double samplesPerFrame_ = 0;
  uint16_t blockAlign_ = 0;
  int64_t delaySamples_ = 0;
};
