#include "audio/AudioEncode.h"

#include <algorithm>
#include <cstring>

#include "audio/AudioCodec.h"
#include "platform/Host.h"
#include "platform/Messages.h"
#include "platform/Riff.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace {

const uint32_t kCommonRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000};

// Opens the encoder of `id` for the rate and channels; `blockAlign` sets the
// block size of block-based codecs (0: theirs).
CodecContextPtr OpenEncoder(AVCodecID id, uint32_t rate, uint16_t channels, uint32_t bytesPerSec,
                            uint16_t blockAlign) {
  const AVCodec* codec = avcodec_find_encoder(id);
  if (!codec || rate == 0 || rate > INT32_MAX || channels == 0) return nullptr;
  CodecContextPtr ctx(avcodec_alloc_context3(codec));
  if (!ctx) return nullptr;
  ctx->sample_rate = static_cast<int>(rate);
  av_channel_layout_default(&ctx->ch_layout, channels);
  ctx->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
  if (bytesPerSec) ctx->bit_rate = static_cast<int64_t>(bytesPerSec) * 8;
  AVDictionary* opts = nullptr;
  if (blockAlign && (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) == 0 &&
      av_get_bits_per_sample(id) == 4)
    av_dict_set_int(&opts, "block_size", blockAlign, 0);
  int rc = avcodec_open2(ctx.get(), codec, &opts);
  av_dict_free(&opts);
  if (rc < 0) return nullptr;
  return ctx;
}

AVSampleFormat PcmSampleFormat(uint16_t bits) {
  switch (bits) {
    case 8:
      return AV_SAMPLE_FMT_U8;
    case 16:
      return AV_SAMPLE_FMT_S16;
    case 32:
      return AV_SAMPLE_FMT_S32;
    default:
      return AV_SAMPLE_FMT_NONE;
  }
}

}  // namespace

std::vector<EncodableFormat> EncodableAudioFormats() {
  std::vector<EncodableFormat> list;
  void* it = nullptr;
  while (const AVCodec* codec = av_codec_iterate(&it)) {
    if (codec->type != AVMEDIA_TYPE_AUDIO || !av_codec_is_encoder(codec) ||
        (codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
      continue;
    uint16_t tag = AudioTagOfCodec(codec->id);
    if (tag == 0 || tag == kWaveFormatExtensible) continue;
    // Several encoders (PCM widths, alternative libraries) share a tag.
    auto found =
        std::find_if(list.begin(), list.end(), [&](const EncodableFormat& f) { return f.tag == tag; });
    if (found == list.end()) {
      EncodableFormat f;
      f.tag = tag;
      f.description = codec->long_name ? codec->long_name : codec->name;
      if (codec->supported_samplerates) {
        for (const int* r = codec->supported_samplerates; *r; ++r)
          f.rates.push_back(static_cast<uint32_t>(*r));
      } else {
        f.rates.assign(std::begin(kCommonRates), std::end(kCommonRates));
      }
      if (codec->ch_layouts) {
        for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels; ++l)
          if (std::find(f.channels.begin(), f.channels.end(), l->nb_channels) == f.channels.end())
            f.channels.push_back(static_cast<uint16_t>(l->nb_channels));
      } else {
        f.channels = {1, 2};
      }
      list.push_back(std::move(f));
      found = list.end() - 1;
    }
    uint16_t bits = static_cast<uint16_t>(av_get_bits_per_sample(codec->id));
    // Only the widths tag 1 can tell apart (little-endian, unsigned 8 bits).
    if (tag == kWaveFormatPcm && AudioCodecIdOfTag(tag, bits) != codec->id) continue;
    if (std::find(found->bits.begin(), found->bits.end(), bits) == found->bits.end())
      found->bits.push_back(bits);
  }
  for (auto& f : list) std::sort(f.bits.begin(), f.bits.end());
  return list;
}

bool MakeEncodedFormatByName(const std::string& encoder, uint32_t rate, uint16_t channels,
                             std::vector<uint8_t>* format) {
  const AVCodec* codec = avcodec_find_encoder_by_name(encoder.c_str());
  if (!codec || codec->type != AVMEDIA_TYPE_AUDIO) return false;
  uint16_t tag = AudioTagOfCodec(codec->id);
  if (!tag) return false;
  const int bits = av_get_bits_per_sample(codec->id);
  return MakeEncodedFormat(tag, rate, channels, static_cast<uint16_t>(bits >= 8 ? bits : 16), 0, format);
}

bool MakeEncodedFormat(uint16_t tag, uint32_t rate, uint16_t channels, uint16_t bits, uint32_t bytesPerSec,
                       std::vector<uint8_t>* format) {
  AVCodecID id = AudioCodecIdOfTag(tag, bits);
  if (id == AV_CODEC_ID_NONE) return false;
  CodecContextPtr ctx = OpenEncoder(id, rate, channels, bytesPerSec, 0);
  if (!ctx) return false;
  WaveFormatEx wf{};
  wf.wFormatTag = tag;
  wf.nChannels = channels;
  wf.nSamplesPerSec = rate;
  wf.wBitsPerSample = static_cast<uint16_t>(av_get_bits_per_sample(id));
  // Whole bytes per sample: PCM, A-law, µ-law; ADPCM packs samples into blocks.
  int frameBytes = av_get_bits_per_sample(id) >= 8 ? av_get_bits_per_sample(id) * channels / 8 : 0;
  std::vector<uint8_t> extra;
  if (frameBytes > 0) {  // PCM-like: one sample of every channel per block
    wf.nBlockAlign = static_cast<uint16_t>(frameBytes);
    wf.nAvgBytesPerSec = rate * wf.nBlockAlign;
  } else if (ctx->block_align > 0 && ctx->frame_size > 0) {  // blocks of a fixed sample count
    wf.nBlockAlign = static_cast<uint16_t>(ctx->block_align);
    wf.nAvgBytesPerSec =
        static_cast<uint32_t>(static_cast<uint64_t>(rate) * ctx->block_align / ctx->frame_size);
    extra.resize(2);
    PutLE16(extra.data(), static_cast<uint16_t>(ctx->frame_size));  // samples per block
  } else {                                                          // a byte stream of frames
    wf.nBlockAlign = 1;
    wf.nAvgBytesPerSec = static_cast<uint32_t>(ctx->bit_rate / 8);
    if (id == AV_CODEC_ID_MP3) {
      // The MPEG layer-3 header: id, padding flags, block size, frames per block, delay.
      extra.resize(12);
      PutLE16(extra.data(), 1);
      PutLE32(extra.data() + 2, 2);
      PutLE16(extra.data() + 6, static_cast<uint16_t>(144 * ctx->bit_rate / rate));
      PutLE16(extra.data() + 8, 1);
      PutLE16(extra.data() + 10, static_cast<uint16_t>(ctx->initial_padding));
    }
  }
  wf.cbSize = static_cast<uint16_t>(extra.size());
  format->assign(kWaveFormatExBytes, 0);
  StoreWaveFormat(wf, format->data());
  format->insert(format->end(), extra.begin(), extra.end());
  return true;
}

struct AudioEncoder::State {
  CodecContextPtr ctx;
  SwrContext* swr = nullptr;
  AVAudioFifo* fifo = nullptr;
  FramePtr frame, converted;
  PacketPtr packet;
  int frameSize = 0;
  uint32_t inBlockAlign = 0;
  int64_t pts = 0;
  bool ended = false;
  std::vector<uint8_t> out;
  ~State() {
    swr_free(&swr);
    if (fifo) av_audio_fifo_free(fifo);
  }
};

AudioEncoder::AudioEncoder() = default;
AudioEncoder::~AudioEncoder() = default;

bool AudioEncoder::EncodeAudioStream(int mode, const uint8_t* input, uint32_t inputBytes,
                                     const uint8_t** output, uint32_t* outputBytes) {
  switch (mode) {
    case 0:
      state_.reset();
      dwTotal_ = 0;
      if (Init(inputBytes)) return true;
      state_.reset();
      Message(MB_OK | MB_ICONSTOP, "オーディオのエンコード初期化に失敗しました!");
      return false;
    case 1:
    case 2: {
      bool ok = false;
      try {
        ok = state_ && Convert(input, inputBytes, mode == 2);
      } catch (const std::bad_alloc&) {
        ok = false;
      }
      if (!ok) {
        Message(MB_OK | MB_ICONSTOP, "オーディオのエンコードでエラーが発生しました!");
        return false;
      }
      if (output) *output = state_->out.data();
      if (outputBytes) *outputBytes = static_cast<uint32_t>(state_->out.size());
      dwTotal_ += state_->out.size();
      return true;
    }
    case 3:
      state_.reset();
      if (outputBytes) *outputBytes = static_cast<uint32_t>(std::min<uint64_t>(dwTotal_, UINT32_MAX));
      return true;
    default:
      return false;
  }
}

bool AudioEncoder::Init(uint32_t largestBlock) {
  if (destination.size() < kWaveFormatExBytes) return false;
  WaveFormatEx dst = ParseWaveFormat(destination.data(), destination.size());
  AVSampleFormat inFormat = PcmSampleFormat(source.wBitsPerSample);
  if (source.wFormatTag != kWaveFormatPcm || inFormat == AV_SAMPLE_FMT_NONE || source.nChannels == 0 ||
      source.nSamplesPerSec == 0 || source.nSamplesPerSec > INT32_MAX)
    return false;
  AVCodecID id = AudioCodecIdOfTag(EffectiveFormatTag(destination), dst.wBitsPerSample);
  if (id == AV_CODEC_ID_NONE) return false;
  auto s = std::make_unique<State>();
  bool pcmLike = av_get_bits_per_sample(id) >= 8;
  s->ctx =
      OpenEncoder(id, dst.nSamplesPerSec, dst.nChannels, pcmLike ? 0 : dst.nAvgBytesPerSec, dst.nBlockAlign);
  if (!s->ctx) return false;
  AVCodecContext* ctx = s->ctx.get();
  // Block codecs must make the blocks the format header announces.
  if (!pcmLike && dst.nBlockAlign > 1 && ctx->block_align > 0 && ctx->block_align != dst.nBlockAlign)
    return false;
  bool variable = (ctx->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) || ctx->frame_size <= 0;
  s->inBlockAlign = source.nChannels * source.wBitsPerSample / 8u;
  uint64_t inSamples = largestBlock / s->inBlockAlign + 1;
  s->frameSize = variable ? static_cast<int>(std::clamp<uint64_t>(inSamples, 1, 4096)) : ctx->frame_size;

  AVChannelLayout inLayout{};
  av_channel_layout_default(&inLayout, source.nChannels);
  int rc = swr_alloc_set_opts2(&s->swr, &ctx->ch_layout, ctx->sample_fmt, ctx->sample_rate, &inLayout,
                               inFormat, static_cast<int>(source.nSamplesPerSec), 0, nullptr);
  av_channel_layout_uninit(&inLayout);
  if (rc < 0 || swr_init(s->swr) < 0) return false;
  s->fifo = av_audio_fifo_alloc(ctx->sample_fmt, ctx->ch_layout.nb_channels, s->frameSize * 2);
  s->frame.reset(av_frame_alloc());
  s->converted.reset(av_frame_alloc());
  s->packet.reset(av_packet_alloc());
  if (!s->fifo || !s->frame || !s->converted || !s->packet) return false;
  state_ = std::move(s);
  return true;
}

bool AudioEncoder::Convert(const uint8_t* input, uint32_t inputBytes, bool last) {
  State& s = *state_;
  AVCodecContext* ctx = s.ctx.get();
  s.out.clear();
  if (s.ended) return false;
  auto drain = [&]() {
    for (;;) {
      int rc = avcodec_receive_packet(ctx, s.packet.get());
      if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
      if (rc < 0) return false;
      s.out.insert(s.out.end(), s.packet->data, s.packet->data + s.packet->size);
      av_packet_unref(s.packet.get());
    }
  };
  // Into the encoder's sample format, rate and channels, then into the queue.
  auto queue = [&](const uint8_t* in, int samples) {
    int room = swr_get_out_samples(s.swr, samples);
    if (room < 0) return false;
    if (room == 0) return true;
    AVFrame* c = s.converted.get();
    av_frame_unref(c);
    c->format = ctx->sample_fmt;
    c->nb_samples = room;
    if (av_channel_layout_copy(&c->ch_layout, &ctx->ch_layout) < 0 || av_frame_get_buffer(c, 0) < 0)
      return false;
    int got = swr_convert(s.swr, c->data, room, in ? &in : nullptr, samples);
    return got >= 0 && av_audio_fifo_write(s.fifo, reinterpret_cast<void**>(c->data), got) == got;
  };
  auto send = [&](int samples, bool pad) {
    AVFrame* f = s.frame.get();
    av_frame_unref(f);
    f->format = ctx->sample_fmt;
    f->nb_samples = pad ? s.frameSize : samples;
    f->sample_rate = ctx->sample_rate;
    if (av_channel_layout_copy(&f->ch_layout, &ctx->ch_layout) < 0 || av_frame_get_buffer(f, 0) < 0)
      return false;
    if (pad)
      av_samples_set_silence(f->data, samples, s.frameSize - samples, ctx->ch_layout.nb_channels,
                             ctx->sample_fmt);
    if (av_audio_fifo_read(s.fifo, reinterpret_cast<void**>(f->data), samples) != samples) return false;
    f->pts = s.pts;
    s.pts += f->nb_samples;
    return avcodec_send_frame(ctx, f) >= 0 && drain();
  };

  if (inputBytes % s.inBlockAlign) return false;
  if (inputBytes && !queue(input, static_cast<int>(inputBytes / s.inBlockAlign))) return false;
  if (last && !queue(nullptr, 0)) return false;
  while (av_audio_fifo_size(s.fifo) >= s.frameSize)
    if (!send(s.frameSize, false)) return false;
  if (!last) return true;
  s.ended = true;
  int rest = av_audio_fifo_size(s.fifo);
  if (rest > 0) {
    bool small = (ctx->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) ||
                 (ctx->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) || ctx->frame_size <= 0;
    if (!send(rest, !small)) return false;
  }
  return avcodec_send_frame(ctx, nullptr) >= 0 && drain();
}
