#include "audio/AudioCodec.h"

#include "platform/Riff.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {

// libavformat's table of RIFF audio tags, in the list form its lookups take.
struct RiffAudioTags {
  const AVCodecTag* list[2] = {avformat_get_riff_audio_tags(), nullptr};
  operator const AVCodecTag* const*() const { return list; }
};

// Codecs whose stream is cut into chunks without regard to its frames.
bool NeedsParser(AVCodecID id, bool hasExtradata) {
  switch (id) {
    case AV_CODEC_ID_MP1:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3:
    case AV_CODEC_ID_AC3:
    case AV_CODEC_ID_EAC3:
    case AV_CODEC_ID_DTS:
      return true;
    case AV_CODEC_ID_AAC:
      return !hasExtradata;  // ADTS carries its own headers; raw frames must stay whole
    default:
      return false;
  }
}

}  // namespace

AVCodecID AudioCodecIdOfTag(uint16_t tag, uint16_t bits) {
  if (tag == kWaveFormatPcm) {
    switch (bits) {
      case 8:
        return AV_CODEC_ID_PCM_U8;
      case 16:
        return AV_CODEC_ID_PCM_S16LE;
      case 24:
        return AV_CODEC_ID_PCM_S24LE;
      case 32:
        return AV_CODEC_ID_PCM_S32LE;
      default:
        return AV_CODEC_ID_NONE;
    }
  }
  return av_codec_get_id(RiffAudioTags(), tag);
}

uint16_t AudioTagOfCodec(AVCodecID id) {
  unsigned tag = 0;
  if (!av_codec_get_tag2(RiffAudioTags(), id, &tag) || tag > 0xFFFF) return 0;
  return static_cast<uint16_t>(tag);
}

uint16_t EffectiveFormatTag(const std::vector<uint8_t>& format) {
  if (format.size() < 2) return 0;
  uint16_t tag = GetLE16(format.data());
  // The sub-format GUID begins with the real tag.
  if (tag == kWaveFormatExtensible && format.size() >= 26) tag = GetLE16(format.data() + 24);
  return tag;
}

PcmDecoder::~PcmDecoder() {
  if (parser_) av_parser_close(parser_);
  swr_free(&swr_);
  av_channel_layout_uninit(&swrLayout_);
}

bool PcmDecoder::Open(const std::vector<uint8_t>& format, const WaveFormatEx& pcm) {
  WaveFormatEx wf = ParseWaveFormat(format.data(), format.size());
  AVCodecID id = AudioCodecIdOfTag(EffectiveFormatTag(format), wf.wBitsPerSample);
  const AVCodec* codec = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
  if (!codec || pcm.nChannels == 0 || pcm.nSamplesPerSec == 0) return false;
  ctx_.reset(avcodec_alloc_context3(codec));
  frame_.reset(av_frame_alloc());
  packet_.reset(av_packet_alloc());
  if (!ctx_ || !frame_ || !packet_) return false;
  channels_ = pcm.nChannels;
  rate_ = static_cast<int>(std::min<uint32_t>(pcm.nSamplesPerSec, INT32_MAX));
  av_channel_layout_default(&ctx_->ch_layout, wf.nChannels);
  ctx_->sample_rate = static_cast<int>(std::min<uint32_t>(wf.nSamplesPerSec, INT32_MAX));
  ctx_->block_align = wf.nBlockAlign;
  ctx_->bit_rate = static_cast<int64_t>(wf.nAvgBytesPerSec) * 8;
  ctx_->bits_per_coded_sample = wf.wBitsPerSample;
  // The extra bytes behind the 18-byte header, as far as the format holds them.
  size_t extra = std::min<size_t>(
      wf.cbSize, format.size() > kWaveFormatExBytes ? format.size() - kWaveFormatExBytes : 0);
  if (extra > 0) {
    ctx_->extradata = static_cast<uint8_t*>(av_mallocz(extra + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!ctx_->extradata) return false;
    std::memcpy(ctx_->extradata, format.data() + kWaveFormatExBytes, extra);
    ctx_->extradata_size = static_cast<int>(extra);
  }
  if (avcodec_open2(ctx_.get(), codec, nullptr) < 0) return false;
  if (NeedsParser(id, extra > 0)) parser_ = av_parser_init(id);
  return true;
}

bool PcmDecoder::Decode(const uint8_t* data, size_t size, std::vector<uint8_t>* out) {
  if (!parser_) return size == 0 || SendPacket(data, size, out);
  while (size > 0) {
    uint8_t* frameData = nullptr;
    int frameSize = 0;
    int used = av_parser_parse2(parser_, ctx_.get(), &frameData, &frameSize, data,
                                static_cast<int>(std::min<size_t>(size, INT32_MAX)), AV_NOPTS_VALUE,
                                AV_NOPTS_VALUE, 0);
    if (used < 0) return false;
    data += used;
    size -= static_cast<size_t>(used);
    if (frameSize > 0 && !SendPacket(frameData, static_cast<size_t>(frameSize), out)) return false;
    if (used == 0 && frameSize == 0) break;
  }
  return true;
}

bool PcmDecoder::Finish(std::vector<uint8_t>* out) {
  if (parser_) {
    uint8_t* frameData = nullptr;
    int frameSize = 0;
    av_parser_parse2(parser_, ctx_.get(), &frameData, &frameSize, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE,
                     0);
    if (frameSize > 0 && !SendPacket(frameData, static_cast<size_t>(frameSize), out)) return false;
  }
  if (avcodec_send_packet(ctx_.get(), nullptr) < 0) return false;
  if (!Receive(out)) return false;
  if (!swr_) return true;
  // The converter's own delay (only when it resamples).
  for (;;) {
    size_t at = out->size();
    const int room = 4096;
    out->resize(at + static_cast<size_t>(room) * 2 * channels_);
    uint8_t* dst = out->data() + at;
    int got = swr_convert(swr_, &dst, room, nullptr, 0);
    if (got < 0) return false;
    out->resize(at + static_cast<size_t>(got) * 2 * channels_);
    if (got == 0) return true;
  }
}

bool PcmDecoder::SendPacket(const uint8_t* data, size_t size, std::vector<uint8_t>* out) {
  if (av_new_packet(packet_.get(), static_cast<int>(size)) < 0) return false;
  std::memcpy(packet_->data, data, size);
  int rc = avcodec_send_packet(ctx_.get(), packet_.get());
  av_packet_unref(packet_.get());
  // A packet the codec refuses as damaged is left out, the rest goes on.
  if (rc < 0 && rc != AVERROR_INVALIDDATA) return false;
  return Receive(out);
}

bool PcmDecoder::Receive(std::vector<uint8_t>* out) {
  for (;;) {
    int rc = avcodec_receive_frame(ctx_.get(), frame_.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc == AVERROR_INVALIDDATA) continue;
    if (rc < 0) return false;
    bool ok = Convert(frame_.get(), out);
    av_frame_unref(frame_.get());
    if (!ok) return false;
  }
}

bool PcmDecoder::Convert(const AVFrame* f, std::vector<uint8_t>* out) {
  if (f->nb_samples <= 0) return true;
  if (!swr_ || swrFormat_ != f->format || swrRate_ != f->sample_rate ||
      av_channel_layout_compare(&swrLayout_, &f->ch_layout) != 0) {
    swr_free(&swr_);
    av_channel_layout_uninit(&swrLayout_);
    if (av_channel_layout_copy(&swrLayout_, &f->ch_layout) < 0) return false;
    AVChannelLayout outLayout{};
    av_channel_layout_default(&outLayout, channels_);
    int rc = swr_alloc_set_opts2(&swr_, &outLayout, AV_SAMPLE_FMT_S16, rate_, &swrLayout_,
                                 static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&outLayout);
    if (rc < 0 || swr_init(swr_) < 0) return false;
    swrFormat_ = f->format;
    swrRate_ = f->sample_rate;
  }
  int room = swr_get_out_samples(swr_, f->nb_samples);
  if (room < 0) return false;
  size_t at = out->size();
  out->resize(at + static_cast<size_t>(room) * 2 * channels_);
  uint8_t* dst = out->data() + at;
  int got = swr_convert(swr_, &dst, room, const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
  if (got < 0) return false;
  out->resize(at + static_cast<size_t>(got) * 2 * channels_);
  return true;
}
