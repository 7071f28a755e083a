#include "avi/VideoCodec.h"

#include <cctype>

#include "platform/Riff.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

bool IsUncompressedHandler(uint32_t fcc) {
  return fcc == 0 || fcc == FourCC("DIB ") || fcc == MakeFourCC('D', 'I', 'B', 0);
}

std::unique_ptr<VideoCodec> VideoCodec::Open(uint32_t fccHandler) {
  const AVCodecTag* tables[] = {avformat_get_riff_video_tags(), nullptr};
  AVCodecID id = av_codec_get_id(tables, fccHandler);
  if (id == AV_CODEC_ID_NONE) {
    // Handlers are compared without regard to case.
    uint32_t upper = 0;
    for (int i = 0; i < 4; ++i)
      upper |= static_cast<uint32_t>(std::toupper(static_cast<int>((fccHandler >> (8 * i)) & 0xFF)))
               << (8 * i);
    id = av_codec_get_id(tables, upper);
  }
  if (id == AV_CODEC_ID_NONE) return nullptr;
  const AVCodec* codec = avcodec_find_decoder(id);
  if (!codec) return nullptr;
  auto vc = std::unique_ptr<VideoCodec>(new VideoCodec());
  vc->codecId_ = id;
  vc->description_ = codec->long_name ? codec->long_name : codec->name;
  return vc;
}
