// PCM encoded into a chosen audio format, block by block, for the AVI writer
// and the WAVE export; and the list of formats this machine can encode.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/RiffFormats.h"

// One format the encoders of this machine produce, for a format chooser.
struct EncodableFormat {
  uint16_t tag = 0;  // from libavformat's RIFF table
  std::string description;
  std::vector<uint32_t> rates;
  std::vector<uint16_t> channels;
  std::vector<uint16_t> bits;  // bits per sample as the format header gives them (0: none)
};
std::vector<EncodableFormat> EncodableAudioFormats();

// The WAVEFORMATEX (with its extra bytes) of a stream that the encoder of
// `tag` makes at that rate and channel count; `bits` picks the PCM width and
// `bytesPerSec` the bit rate of codecs that have one (0: the encoder's own).
// False when no encoder takes these.
bool MakeEncodedFormat(uint16_t tag, uint32_t rate, uint16_t channels, uint16_t bits, uint32_t bytesPerSec,
                       std::vector<uint8_t>* format);

// The same for a libavcodec encoder named as on the command line ("mp2",
// "pcm_alaw", ...): its WAVE tag, 16-bit input widths for PCM kinds. False
// when there is no such encoder or no tag for it.
bool MakeEncodedFormatByName(const std::string& encoder, uint32_t rate, uint16_t channels,
                             std::vector<uint8_t>* format);

class AudioEncoder {
 public:
  AudioEncoder();
  ~AudioEncoder();
  AudioEncoder(const AudioEncoder&) = delete;
  AudioEncoder& operator=(const AudioEncoder&) = delete;

  // What mode 0 encodes from (PCM) and to (a format with its extra bytes).
  WaveFormatEx source{};
  std::vector<uint8_t> destination;

  // Mode 0 initialise (inputBytes: the largest block that will be passed;
  // closes a previous encoder first), 1 a block with more to follow, 2 the
  // last block, 3 end (outputBytes, when given, receives the total written).
  // Modes 1 and 2 return the encoded bytes in the encoder's own buffer,
  // valid until the next call. Failures are reported here.
  bool EncodeAudioStream(int mode, const uint8_t* input, uint32_t inputBytes, const uint8_t** output,
                         uint32_t* outputBytes);

 private:
  struct State;
  bool Init(uint32_t largestBlock);
  bool Convert(const uint8_t* input, uint32_t inputBytes, bool last);
  std::unique_ptr<State> state_;
  uint64_t dwTotal_ = 0;
};
