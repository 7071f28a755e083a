// The libavcodec side of the audio work: format tags to codecs and back
// through libavformat's RIFF tables, and a decoder of any such format to
// 16-bit interleaved PCM of the source's channels and rate.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "platform/RiffFormats.h"

// The codec of a WAVE format tag; PCM (tag 1) is told apart by its bits.
// AV_CODEC_ID_NONE when the tables know no such tag.
AVCodecID AudioCodecIdOfTag(uint16_t tag, uint16_t bitsPerSample);
// The tag of a codec, 0 when none.
uint16_t AudioTagOfCodec(AVCodecID id);
// The tag of a format; for WAVE_FORMAT_EXTENSIBLE the one in its sub-format.
uint16_t EffectiveFormatTag(const std::vector<uint8_t>& format);

struct AvCodecContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct AvFrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct AvPacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, AvCodecContextFree>;
using FramePtr = std::unique_ptr<AVFrame, AvFrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, AvPacketFree>;

struct SwrContext;

// Decodes the chunks of one audio stream, in order, to 16-bit interleaved PCM.
class PcmDecoder {
 public:
  PcmDecoder() = default;
  ~PcmDecoder();
  PcmDecoder(const PcmDecoder&) = delete;
  PcmDecoder& operator=(const PcmDecoder&) = delete;

  // `format` is the stream's WAVEFORMATEX with its extra bytes; the output
  // has the channels and rate of `pcm`.
  bool Open(const std::vector<uint8_t>& format, const WaveFormatEx& pcm);
  // Appends the samples of `size` bytes of the stream to `out`. A damaged
  // packet is skipped as players do; false only when the codec fails.
  bool Decode(const uint8_t* data, size_t size, std::vector<uint8_t>* out);
  // Drains what the codec and the converter still hold.
  bool Finish(std::vector<uint8_t>* out);

 private:
  bool SendPacket(const uint8_t* data, size_t size, std::vector<uint8_t>* out);
  bool Receive(std::vector<uint8_t>* out);
  bool Convert(const AVFrame* frame, std::vector<uint8_t>* out);

  CodecContextPtr ctx_;
  AVCodecParserContext* parser_ = nullptr;
  FramePtr frame_;
  PacketPtr packet_;
  SwrContext* swr_ = nullptr;
  int swrFormat_ = -1, swrRate_ = 0;
  AVChannelLayout swrLayout_{};
  int channels_ = 0, rate_ = 0;
};
