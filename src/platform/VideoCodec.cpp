#include "platform/VideoCodec.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/CodecNames.h"
#include "platform/Format.h"
#include "platform/Riff.h"
#include "platform/RiffFormats.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/dv_profile.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr size_t kHeaderBytes = kBitmapInfoHeaderBytes;

std::string AvError(int err) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(err, text, sizeof text);
  return text;
}

std::shared_ptr<VideoDecompressor> OpenDecompressor(uint32_t fccHandler, const void* format,
                                                    size_t formatSize, std::string* error) {
  auto codec = std::make_shared<VideoDecompressor>();
  if (codec->Open(fccHandler, format, formatSize)) return codec;
  if (error) *error = codec->Error();
  return nullptr;
}

}  // namespace

VideoCodecOpener VideoDecompressorOpener() {
  return &OpenDecompressor;
}

// ---- ChunkBytes -----------------------------------------------------------

ChunkBytes::~ChunkBytes() {
  av_buffer_unref(&buf_);
}

uint8_t* ChunkBytes::Resize(size_t size) {
  if (size > static_cast<size_t>(INT_MAX) - AV_INPUT_BUFFER_PADDING_SIZE) return nullptr;
  size_t need = size + AV_INPUT_BUFFER_PADDING_SIZE;
  // The decoder may still hold a reference to the last chunk: never write
  // into a buffer someone else shares.
  if (!buf_ || !av_buffer_is_writable(buf_) || buf_->size < need) {
    av_buffer_unref(&buf_);
    size_ = 0;
    buf_ = av_buffer_alloc(need + need / 4);
    if (!buf_) return nullptr;
  }
  size_ = size;
  std::memset(buf_->data + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  return buf_->data;
}

bool ChunkBytes::Assign(const void* data, size_t size) {
  uint8_t* p = Resize(size);
  if (!p) return false;
  if (size) std::memcpy(p, data, size);
  return true;
}

const uint8_t* ChunkBytes::data() const {
  return buf_ ? buf_->data : nullptr;
}

// ---- VideoDecompressor ----------------------------------------------------

VideoDecompressor::VideoDecompressor() = default;
VideoDecompressor::~VideoDecompressor() {
  Close();
}

void VideoDecompressor::Close() {
  ClearWaiting();
  delaySeen_ = 0;
  for (AVFrame*& f : spare_) av_frame_free(&f);
  spare_.clear();
  draining_ = false;
  avcodec_free_context(&ctx_);
  avcodec_parameters_free(&params_);
  codec_ = nullptr;
  av_packet_free(&packet_);
  av_frame_free(&decoded_);
  av_frame_free(&last_);
  sws_freeContext(sws_);
  sws_ = nullptr;
  swsColorspace_ = swsRange_ = -1;
  haveLast_ = false;
  palette_.reset();
  paletteSent_ = false;
  width_ = height_ = 0;
  description_.clear();
}

bool VideoDecompressor::Open(uint32_t fccHandler, const void* format, size_t formatSize) {
  Close();
  error_.clear();
  const uint8_t* bih = static_cast<const uint8_t*>(format);
  BitmapInfo info;
  if (!format || !ParseBitmapInfo(bih, formatSize, &info)) {
    error_ = "stream format shorter than a BITMAPINFOHEADER";
    return false;
  }
  // Extra data beyond a few megabytes is damage, not codec setup.
  if (formatSize > kMaxFormatChunk) {
    error_ = "stream format too large";
    return false;
  }
  const uint16_t bitCount = info.header.biBitCount;
  const uint32_t compression = info.header.biCompression;
  if (!FrameSizeUsable(info.Width(), info.header.biHeight)) {
    error_ = Fmt("unusable frame size %dx%d", info.Width(), info.Rows());
    return false;
  }
  const int32_t width = info.Width(), height = info.Rows();

  VideoCodecChoice choice;
  const AVCodec* codec = nullptr;
  if (ChooseVideoCodec(fccHandler, compression, &choice))
    codec = avcodec_find_decoder(static_cast<AVCodecID>(choice.codecId));
  if (!codec) {
    error_ = "no decoder for " + FourCCText(fccHandler) + "/" + FourCCText(compression);
    return false;
  }

  params_ = avcodec_parameters_alloc();
  packet_ = av_packet_alloc();
  decoded_ = av_frame_alloc();
  last_ = av_frame_alloc();
  if (!params_ || !packet_ || !decoded_ || !last_) {
    Close();
    error_ = "out of memory";
    return false;
  }
  params_->codec_type = AVMEDIA_TYPE_VIDEO;
  params_->codec_id = codec->id;
  params_->width = width;
  params_->height = height;
  params_->bits_per_coded_sample = bitCount;
  // Decoders look at the bitstream tag (raw layouts, encoder workarounds),
  // which is biCompression as long as it names the same codec.
  params_->codec_tag = choice.byCompression ? compression : fccHandler;
  size_t extra = formatSize - kHeaderBytes;
  if (extra > 0) {
    params_->extradata = static_cast<uint8_t*>(av_mallocz(extra + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!params_->extradata) {
      Close();
      error_ = "out of memory";
      return false;
    }
    std::memcpy(params_->extradata, bih + kHeaderBytes, extra);
    params_->extradata_size = static_cast<int>(extra);
  }
  codec_ = codec;
  if (!OpenContext()) {
    std::string why = error_;
    Close();
    error_ = why;
    return false;
  }

  if (bitCount >= 1 && bitCount <= 8 && info.paletteEntries) {
    palette_.reset(new uint32_t[256]());
    for (size_t i = 0; i < info.paletteEntries; ++i)
      palette_[i] = 0xFF000000u | (GetLE32(info.palette + 4 * i) & 0xFFFFFF);
  }
  width_ = width;
  height_ = height;
  description_ = codec->long_name ? codec->long_name : codec->name;
  return true;
}

bool VideoDecompressor::OpenContext() {
  avcodec_free_context(&ctx_);
  paletteSent_ = false;
  damaged_ = false;
  owed_.clear();
  ctx_ = avcodec_alloc_context3(codec_);
  if (!ctx_ || avcodec_parameters_to_context(ctx_, params_) < 0) {
    avcodec_free_context(&ctx_);
    error_ = "out of memory";
    return false;
  }
  // Slice threads only: frame threads would hold pictures back, so one chunk
  // in would no longer mean one picture out, and every seek would have to
  // drain them. Without a read-ahead pipeline they gain nothing here.
  ctx_->thread_count = 0;
  ctx_->thread_type = FF_THREAD_SLICE;
  int err = avcodec_open2(ctx_, codec_, nullptr);
  if (err < 0) {
    avcodec_free_context(&ctx_);
    error_ = "cannot open decoder: " + AvError(err);
    return false;
  }
  return true;
}

void VideoDecompressor::Black(uint8_t* dest, size_t destStride) const {
  if (dest && destStride) std::memset(dest, 0, destStride * static_cast<size_t>(height_));
}

bool VideoDecompressor::Fail(const std::string& why, uint8_t* dest, size_t destStride) {
  error_ = why;
  Black(dest, destStride);
  return false;
}

void VideoDecompressor::ClearWaiting() {
  for (AVFrame* f : waiting_) {
    if (!f) continue;
    av_frame_unref(f);
    spare_.push_back(f);
  }
  waiting_.clear();
}

void VideoDecompressor::Flush(bool afresh) {
  // Damaged chunks can leave state behind that flushing keeps (parameter
  // sets, a guessed bitstream variant): then start with a fresh decoder.
  if (ctx_ && (damaged_ || afresh)) {
    OpenContext();
  } else if (ctx_) {
    avcodec_flush_buffers(ctx_);
  }
  ClearWaiting();
  draining_ = false;
  owed_.clear();
  if (last_) av_frame_unref(last_);
  haveLast_ = false;
}

// Moves every picture the decoder releases into the waiting queue.
bool VideoDecompressor::Collect() {
  for (;;) {
    AVFrame* f = decoded_;
    int err = avcodec_receive_frame(ctx_, f);
    if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return true;
    if (err < 0) {
      error_ = "decoder rejected the chunk: " + AvError(err);
      damaged_ = true;
      return false;
    }
    // Nobody drains the queue when only Decompress is used with a reordering
    // decoder out of step; keep it bounded.
    if (waiting_.size() >= kMaxWaiting) {
      AVFrame* old = waiting_.front();
      waiting_.pop_front();
      if (old) {
        av_frame_unref(old);
        spare_.push_back(old);
      }
    }
    AVFrame* slot = nullptr;
    if (!spare_.empty()) {
      slot = spare_.back();
      spare_.pop_back();
    } else if (!(slot = av_frame_alloc())) {
      av_frame_unref(f);
      error_ = "out of memory";
      return false;
    }
    av_frame_move_ref(slot, f);
    // Null frames fed before this picture's chunk come out before it.
    PassNullSlots();
    if (!owed_.empty()) owed_.pop_front();
    waiting_.push_back(slot);
    PassNullSlots();
  }
}

void VideoDecompressor::PassNullSlots() {
  while (!owed_.empty() && owed_.front()) {
    owed_.pop_front();
    waiting_.push_back(nullptr);
  }
}

void VideoDecompressor::OweUpTo(size_t keep) {
  size_t pictures = static_cast<size_t>(std::count(owed_.begin(), owed_.end(), false));
  for (; pictures > keep; --pictures) {
    PassNullSlots();
    owed_.pop_front();
    waiting_.push_back(nullptr);
  }
  PassNullSlots();
}

bool VideoDecompressor::Feed(const ChunkBytes& chunk) {
  error_.clear();
  if (!ctx_) {
    error_ = "no decoder";
    return false;
  }
  if (chunk.size() == 0) {
    // A null frame shows the picture before it in display order, which a
    // reordering decoder may still hold: it waits behind the chunks before it.
    owed_.push_back(true);
    PassNullSlots();
    return true;
  }
  if (draining_) {
    // A chunk after the end of the stream starts afresh.
    avcodec_flush_buffers(ctx_);
    draining_ = false;
    OweUpTo(0);
  }
  av_packet_unref(packet_);
  packet_->buf = av_buffer_ref(chunk.buf_);
  if (!packet_->buf) {
    error_ = "out of memory";
    return false;
  }
  packet_->data = chunk.buf_->data;
  packet_->size = static_cast<int>(chunk.size());
  packet_->flags = chunk.keyFrame ? AV_PKT_FLAG_KEY : 0;
  if (palette_ && !paletteSent_) {
    uint8_t* side = av_packet_new_side_data(packet_, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
    if (side) {
      std::memcpy(side, palette_.get(), AVPALETTE_SIZE);
      paletteSent_ = true;
    }
  }
  int err = avcodec_send_packet(ctx_, packet_);
  av_packet_unref(packet_);
  owed_.push_back(false);
  delaySeen_ = std::max(delaySeen_, ctx_->has_b_frames);
  bool ok = err >= 0;
  if (!ok) {
    error_ = "decoder rejected the chunk: " + AvError(err);
    damaged_ = true;
  }
  ok = Collect() && ok;
  // Every chunk stands for one picture. One the decoder owes beyond its
  // reordering delay (a rejected chunk, a not-coded picture) is the picture
  // before it again, so that later chunks keep their numbers.
  OweUpTo(static_cast<size_t>(std::max(ctx_->has_b_frames, 0)));
  return ok;
}

bool VideoDecompressor::Drain() {
  if (!ctx_) return false;
  if (draining_) return true;
  draining_ = true;
  int err = avcodec_send_packet(ctx_, nullptr);
  if (err < 0 && err != AVERROR_EOF) {
    error_ = "decoder cannot be drained: " + AvError(err);
    return false;
  }
  bool ok = Collect();
  // Whatever the decoder still owes now never comes.
  OweUpTo(0);
  return ok;
}

bool VideoDecompressor::NextPicture() {
  if (waiting_.empty()) return false;
  AVFrame* f = waiting_.front();
  waiting_.pop_front();
  if (!f) return true;  // null frame: the current picture stays
  av_frame_unref(last_);
  av_frame_move_ref(last_, f);
  spare_.push_back(f);
  haveLast_ = true;
  return true;
}

bool VideoDecompressor::Decompress(const void* data, size_t size, bool keyFrame, uint8_t* dest,
                                   size_t destStride) {
  if (!copy_.Assign(data, size)) return Fail("out of memory", dest, destStride);
  copy_.keyFrame = keyFrame;
  return Decompress(copy_, dest, destStride);
}

bool VideoDecompressor::Decompress(const ChunkBytes& chunk, uint8_t* dest, size_t destStride) {
  if (!ctx_) return Fail("no decoder", dest, destStride);
  if (dest && destStride < 3 * static_cast<size_t>(width_))
    return Fail("destination stride too small", nullptr, 0);
  bool ok = Feed(chunk);
  // The newest picture released is this chunk's. A chunk the decoder took
  // without giving a picture for it (damage it did not reject) has none: the
  // picture before it is not this frame.
  bool fresh = false;
  while (!waiting_.empty()) {
    fresh = waiting_.front() != nullptr;
    NextPicture();
  }
  if (!ok) return Fail(error_, dest, destStride);
  if (chunk.size() != 0 && !fresh) return Fail("decoder gave no picture for the chunk", dest, destStride);
  return RepeatLast(dest, destStride);
}

bool VideoDecompressor::IntraOnly() const {
  const AVCodecDescriptor* desc = codec_ ? avcodec_descriptor_get(codec_->id) : nullptr;
  return desc && (desc->props & AV_CODEC_PROP_INTRA_ONLY) && !(desc->props & AV_CODEC_PROP_REORDER);
}

bool VideoDecompressor::MayReorder() const {
  const AVCodecDescriptor* desc = codec_ ? avcodec_descriptor_get(codec_->id) : nullptr;
  return desc && (desc->props & AV_CODEC_PROP_REORDER);
}

bool VideoDecompressor::PictureIsKey() const {
  return haveLast_ && (last_->key_frame || last_->pict_type == AV_PICTURE_TYPE_I);
}

bool VideoDecompressor::RepeatLast(uint8_t* dest, size_t destStride) {
  if (!dest) return true;
  if (!haveLast_) {
    Black(dest, destStride);
    return true;
  }
  return Convert(last_, dest, destStride);
}

bool VideoDecompressor::Convert(const AVFrame* frame, uint8_t* dest, size_t destStride) {
  if (destStride > static_cast<size_t>(INT_MAX)) return Fail("destination stride too large", nullptr, 0);
  if (frame->width <= 0 || frame->height <= 0) return Fail("decoder gave an empty picture", dest, destStride);
  // Our own key: the scaler stores yuvj formats as their yuv twins, so its
  // cached-context check would build a new context for every MJPEG frame.
  if (!sws_ || frame->width != swsWidth_ || frame->height != swsHeight_ || frame->format != swsFormat_) {
    sws_freeContext(sws_);
    sws_ = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), width_,
                          height_, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    swsColorspace_ = swsRange_ = -1;
    if (!sws_) {
      const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format));
      return Fail(Fmt("cannot convert %s to 24-bit RGB", name ? name : "?"), dest, destStride);
    }
    swsWidth_ = frame->width;
    swsHeight_ = frame->height;
    swsFormat_ = frame->format;
  }
  // The colour matrix and range follow the picture's own tags, as the
  // ffmpeg tool's scaler does, so our pixels agree with its conversion.
  if (frame->colorspace != swsColorspace_ || frame->color_range != swsRange_) {
    int *inv = nullptr, *table = nullptr;
    int srcRange = 0, dstRange = 0, brightness = 0, contrast = 0, saturation = 0;
    if (sws_getColorspaceDetails(sws_, &inv, &srcRange, &table, &dstRange, &brightness, &contrast,
                                 &saturation) >= 0) {
      const int* coefficients = sws_getCoefficients(frame->colorspace);
      if (frame->color_range != AVCOL_RANGE_UNSPECIFIED) srcRange = frame->color_range == AVCOL_RANGE_JPEG;
      sws_setColorspaceDetails(sws_, coefficients, srcRange, table, dstRange, brightness, contrast,
                               saturation);
    }
    swsColorspace_ = frame->colorspace;
    swsRange_ = frame->color_range;
  }
  // Bottom-up rows: the source is read upside down (last row first, negative
  // strides), which is what the ffmpeg tool's vflip does before its scaler,
  // so the scaler takes the same code path and the pixels agree exactly.
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
  if (!desc) return Fail("unknown pixel format", dest, destStride);
  const uint8_t* src[4] = {};
  int srcStride[4] = {};
  for (int i = 0; i < 4; ++i) {
    if (!frame->data[i]) continue;
    src[i] = frame->data[i];
    srcStride[i] = frame->linesize[i];
    if (i > 0 && (desc->flags & AV_PIX_FMT_FLAG_PAL)) continue;  // the palette
    int chromaShift = (i == 1 || i == 2) ? desc->log2_chroma_h : 0;
    int rows = AV_CEIL_RSHIFT(frame->height, chromaShift);
    src[i] += static_cast<ptrdiff_t>(rows - 1) * frame->linesize[i];
    srcStride[i] = -frame->linesize[i];
  }
  uint8_t* dst[4] = {dest, nullptr, nullptr, nullptr};
  int dstStride[4] = {static_cast<int>(destStride), 0, 0, 0};
  int rows = sws_scale(sws_, src, srcStride, 0, frame->height, dst, dstStride);
  if (rows <= 0) return Fail("conversion to 24-bit RGB failed", dest, destStride);
  return true;
}

// ---- VideoCompressor -----------------------------------------------------

namespace {

// The pixel layout a raw-video stream of this tag stores: the decoder's
// own table decides, so what is written reads back the same way.
AVPixelFormat RawLayoutOf(uint32_t tag, int bitCount, int width, int height) {
  const AVCodec* dec = avcodec_find_decoder(AV_CODEC_ID_RAWVIDEO);
  AVCodecContext* probe = dec ? avcodec_alloc_context3(dec) : nullptr;
  if (!probe) return AV_PIX_FMT_NONE;
  probe->codec_tag = tag;
  probe->bits_per_coded_sample = bitCount;
  probe->width = width;
  probe->height = height;
  AVPixelFormat fmt = avcodec_open2(probe, dec, nullptr) >= 0 ? probe->pix_fmt : AV_PIX_FMT_NONE;
  avcodec_free_context(&probe);
  return fmt;
}

bool Supports(const AVCodec* codec, AVPixelFormat fmt) {
  if (!codec->pix_fmts) return true;
  for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
    if (*p == fmt) return true;
  return false;
}

// Frames per second from a stream's rate and scale; without them 25, or
// 30000/1001 for NTSC's 480 rows.
AVRational FrameRateOf(uint32_t rate, uint32_t scale, int height) {
  if (rate && scale)
    return {static_cast<int>(std::min<uint32_t>(rate, INT_MAX)),
            static_cast<int>(std::min<uint32_t>(scale, INT_MAX))};
  return height == 480 ? AVRational{30000, 1001} : AVRational{25, 1};
}

}  // namespace

BgrFrameEncoder::~BgrFrameEncoder() {
  BgrFrameEncoder::Close();
}

void BgrFrameEncoder::Close() {
  avcodec_free_context(&ctx_);
  av_frame_free(&picture_);
  av_packet_free(&packet_);
  sws_freeContext(sws_);
  sws_ = nullptr;
  pts_ = 0;
  width_ = height_ = 0;
}

bool BgrFrameEncoder::Fail(const std::string& why) {
  Close();
  error_ = why;
  return false;
}

bool BgrFrameEncoder::OpenContext(const AVCodec* codec, int width, int height, int pixFmt, int rateNum,
                                  int rateDen, uint32_t tag, int threads, AVDictionary** options) {
  ctx_ = avcodec_alloc_context3(codec);
  picture_ = av_frame_alloc();
  packet_ = av_packet_alloc();
  if (!ctx_ || !picture_ || !packet_) return Fail("out of memory");
  const AVRational fps{rateNum, rateDen};
  ctx_->width = width;
  ctx_->height = height;
  ctx_->pix_fmt = static_cast<AVPixelFormat>(pixFmt);
  ctx_->time_base = av_inv_q(fps);
  ctx_->framerate = fps;
  ctx_->codec_tag = tag;
  // Every frame stands alone and comes out as it goes in.
  ctx_->gop_size = 0;
  ctx_->max_b_frames = 0;
  ctx_->thread_count = threads;
  ctx_->thread_type = FF_THREAD_SLICE;
  ctx_->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
  const int err = avcodec_open2(ctx_, codec, options);
  if (err < 0) return Fail("cannot open encoder: " + AvError(err));
  width_ = width;
  height_ = height;
  return true;
}

bool BgrFrameEncoder::SetUpPicture() {
  picture_->format = ctx_->pix_fmt;
  picture_->width = width_;
  picture_->height = height_;
  if (av_frame_get_buffer(picture_, 0) < 0) return Fail("out of memory");
  sws_ = sws_getContext(width_, height_, AV_PIX_FMT_BGR24, width_, height_, ctx_->pix_fmt, SWS_BICUBIC,
                        nullptr, nullptr, nullptr);
  return sws_ ? true : Fail("cannot convert 24-bit RGB to the encoder's pixel layout");
}

bool BgrFrameEncoder::EncodeBgr(const uint8_t* frame, size_t stride, std::vector<uint8_t>& out,
                                bool* keyFrame) {
  out.clear();
  if (!ctx_) {
    error_ = "no encoder";
    return false;
  }
  if (!frame || stride < 3 * static_cast<size_t>(width_) || stride > static_cast<size_t>(INT_MAX)) {
    error_ = "unusable frame";
    return false;
  }
  // The encoder may still hold the last picture.
  if (av_frame_make_writable(picture_) < 0) {
    error_ = "out of memory";
    return false;
  }
  // Bottom-up rows go in top-down, as a decoder gives them.
  const uint8_t* src[4] = {frame + stride * static_cast<size_t>(height_ - 1), nullptr, nullptr, nullptr};
  int srcStride[4] = {-static_cast<int>(stride), 0, 0, 0};
  if (sws_scale(sws_, src, srcStride, 0, height_, picture_->data, picture_->linesize) <= 0) {
    error_ = "conversion from 24-bit RGB failed";
    return false;
  }
  return Encode(picture_, out, keyFrame);
}

bool BgrFrameEncoder::Encode(AVFrame* picture, std::vector<uint8_t>& out, bool* keyFrame) {
  picture->pts = pts_++;
  picture->pict_type = AV_PICTURE_TYPE_I;
  int err = avcodec_send_frame(ctx_, picture);
  if (err >= 0) err = avcodec_receive_packet(ctx_, packet_);
  if (err < 0) {
    error_ = "encoder gave no chunk: " + AvError(err);
    return false;
  }
  out.assign(packet_->data, packet_->data + packet_->size);
  if (keyFrame) *keyFrame = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
  av_packet_unref(packet_);
  return true;
}

bool VideoCompressor::Open(uint32_t fccHandler, const void* format, size_t formatSize, uint32_t rate,
                           uint32_t scale) {
  Close();
  error_.clear();
  const uint8_t* bih = static_cast<const uint8_t*>(format);
  BitmapInfo info;
  if (!format || !ParseBitmapInfo(bih, formatSize, &info) || formatSize > kMaxFormatChunk)
    return Fail("unusable stream format");
  if (!FrameSizeUsable(info.Width(), info.header.biHeight))
    return Fail(Fmt("unusable frame size %dx%d", info.Width(), info.Rows()));
  const int width = info.Width(), height = info.Rows();
  const uint32_t compression = info.header.biCompression;
  const int bitCount = info.header.biBitCount;
  VideoCodecChoice choice;
  if (!ChooseVideoCodec(fccHandler, compression, &choice)) return Fail("no codec for the stream");
  const AVCodecID id = static_cast<AVCodecID>(choice.codecId);
  const AVCodec* codec = avcodec_find_encoder(id);
  if (!codec) return Fail("no encoder for " + choice.description);
  if (codec->capabilities & AV_CODEC_CAP_DELAY) return Fail("the encoder holds frames back");
  const uint32_t tag = choice.byCompression ? compression : fccHandler;
  const AVRational fps = FrameRateOf(rate, scale, height);

  AVPixelFormat pixFmt = AV_PIX_FMT_NONE;
  AVDictionary* options = nullptr;
  const size_t extra = formatSize - kHeaderBytes;
  switch (id) {
    case AV_CODEC_ID_DVVIDEO: {
      // The 25 Mbit/s DV of a "dvsd" stream samples NTSC 4:1:1 and PAL
      // 4:2:0; DVCPRO 25 is 4:1:1 for both, the 50 Mbit/s and HD kinds 4:2:2.
      const bool dvcpro = SameFourCCNoCase(tag, FourCC("dv25")) || SameFourCCNoCase(tag, FourCC("dvpp"));
      const bool fifty = SameFourCCNoCase(tag, FourCC("dv50")) || SameFourCCNoCase(tag, FourCC("dv5n")) ||
                         SameFourCCNoCase(tag, FourCC("dv5p"));
      AVPixelFormat order[] = {fifty                     ? AV_PIX_FMT_YUV422P
                               : dvcpro || height == 480 ? AV_PIX_FMT_YUV411P
                                                         : AV_PIX_FMT_YUV420P,
                               AV_PIX_FMT_YUV411P, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV422P};
      for (AVPixelFormat f : order) {
        if (av_dv_codec_profile2(width, height, f, fps)) {
          pixFmt = f;
          break;
        }
      }
      if (pixFmt == AV_PIX_FMT_NONE) return Fail(Fmt("no DV profile for %dx%d", width, height));
      break;
    }
    case AV_CODEC_ID_RAWVIDEO:
      if (compression == kBiRgb || compression == kBiBitfields)
        return Fail("uncompressed RGB is not encoded");
      pixFmt = RawLayoutOf(tag, bitCount, width, height);
      break;
    case AV_CODEC_ID_MJPEG:
      pixFmt = AV_PIX_FMT_YUVJ422P;
      break;
    case AV_CODEC_ID_HUFFYUV:
    case AV_CODEC_ID_FFVHUFF:
      pixFmt = bitCount == 32   ? AV_PIX_FMT_BGRA
               : bitCount == 24 ? AV_PIX_FMT_RGB24
               : bitCount == 12 ? AV_PIX_FMT_YUV420P
                                : AV_PIX_FMT_YUV422P;
      // The predictor the stored extra data names (its low six bits).
      if (extra > 0) av_dict_set_int(&options, "pred", bih[kHeaderBytes] & 0x3F, 0);
      break;
    default:
      return Fail("writing " + choice.description + " is not supported");
  }
  if (pixFmt == AV_PIX_FMT_NONE || !Supports(codec, pixFmt)) {
    av_dict_free(&options);
    return Fail("the encoder cannot store the stream's pixel layout");
  }

  const bool opened = OpenContext(codec, width, height, pixFmt, fps.num, fps.den, tag, 1, &options);
  av_dict_free(&options);
  if (!opened) return false;
  // Chunks of a codec set up by its extra data (Huffman tables, predictor)
  // only read back right when the encoder's set-up is the stored one.
  if (extra > 0 && ctx_->extradata_size > 0 &&
      (static_cast<size_t>(ctx_->extradata_size) != extra ||
       std::memcmp(ctx_->extradata, bih + kHeaderBytes, extra) != 0))
    return Fail("the encoder's set-up differs from the stream's");
  return SetUpPicture();
}

// ---- VideoEncoder ----------------------------------------------------------

namespace {

// The encoders offered for a new file with the FOURCC each is stored under;
// UtVideo's tag names its pixel layout, so it is fixed with the layout.
struct EncoderCandidate {
  AVCodecID id;
  uint32_t fourcc;
};
const EncoderCandidate kEncoderCandidates[] = {
    {AV_CODEC_ID_DVVIDEO, FourCC("dvsd")},   {AV_CODEC_ID_MJPEG, FourCC("MJPG")},
    {AV_CODEC_ID_HUFFYUV, FourCC("HFYU")},   {AV_CODEC_ID_FFVHUFF, FourCC("FFVH")},
    {AV_CODEC_ID_FFV1, FourCC("FFV1")},      {AV_CODEC_ID_UTVIDEO, FourCC("ULRG")},
    {AV_CODEC_ID_MAGICYUV, FourCC("MAGY")},  {AV_CODEC_ID_MPEG4, FourCC("FMP4")},
    {AV_CODEC_ID_MSMPEG4V3, FourCC("DIV3")}, {AV_CODEC_ID_PNG, FourCC("MPNG")},
    {AV_CODEC_ID_JPEGLS, FourCC("MJLS")},    {AV_CODEC_ID_CINEPAK, FourCC("cvid")},
    {AV_CODEC_ID_MSVIDEO1, FourCC("CRAM")},
};

// The candidate a FOURCC names (case ignored, or through the tag table for
// other tags of the same codec), null when none.
const EncoderCandidate* CandidateFor(uint32_t fourcc) {
  for (const EncoderCandidate& c : kEncoderCandidates)
    if (SameFourCCNoCase(c.fourcc, fourcc)) return &c;
  VideoCodecChoice choice;
  if (!ChooseVideoCodec(fourcc, fourcc, &choice)) return nullptr;
  for (const EncoderCandidate& c : kEncoderCandidates)
    if (c.id == choice.codecId && c.id != AV_CODEC_ID_UTVIDEO) return &c;
  return nullptr;
}

// The named values of the encoder's own option `name` (its AVOption unit).
std::vector<std::string> NamedValues(const AVCodec* codec, const char* name) {
  std::vector<std::string> names;
  if (!codec->priv_class) return names;
  const AVClass* cls = codec->priv_class;
  const AVOption* option = av_opt_find2(&cls, name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ, nullptr);
  if (!option || !option->unit) return names;
  for (const AVOption* o = cls->option; o && o->name; ++o)
    if (o->type == AV_OPT_TYPE_CONST && o->unit && std::strcmp(o->unit, option->unit) == 0)
      names.emplace_back(o->name);
  return names;
}

std::vector<VideoEncoderSetting> SettingsOf(const AVCodec* codec) {
  std::vector<VideoEncoderSetting> list;
  auto number = [&](std::vector<std::string> keys, const char* label, int64_t lo, int64_t hi) {
    VideoEncoderSetting s;
    s.keys = std::move(keys);
    s.label = label;
    s.minimum = lo;
    s.maximum = hi;
    list.push_back(std::move(s));
  };
  // `refused`: values the encoder names but does not take for our frames.
  auto choice = [&](const char* key, const char* label, std::vector<std::string> refused = {}) {
    VideoEncoderSetting s;
    s.keys = {key};
    s.label = label;
    for (std::string& name : NamedValues(codec, key))
      if (std::find(refused.begin(), refused.end(), name) == refused.end())
        s.choices.push_back(std::move(name));
    if (!s.choices.empty()) list.push_back(std::move(s));
  };
  switch (codec->id) {
    case AV_CODEC_ID_MPEG4:
    case AV_CODEC_ID_MSMPEG4V3:
      number({"b"}, "ビットレート(bit/秒)", 8000, 200000000);
      number({"qmin", "qmax"}, "量子化(品質 1～31)", 1, 31);
      number({"g"}, "キーフレーム間隔(GOP)", 1, 600);
      break;
    case AV_CODEC_ID_MJPEG:
      number({"b"}, "ビットレート(bit/秒)", 8000, 200000000);
      number({"qmin", "qmax"}, "量子化(品質 1～31)", 1, 31);
      break;
    case AV_CODEC_ID_FFV1:
      choice("coder", "符号化");
      number({"context"}, "コンテキスト(0/1)", 0, 1);
      break;
    case AV_CODEC_ID_PNG:
      choice("pred", "予測");
      number({"compression_level"}, "圧縮レベル(0～9)", 0, 9);
      break;
    case AV_CODEC_ID_HUFFYUV:
    case AV_CODEC_ID_FFVHUFF:
      // Our frames reach it as RGB, which the median predictor refuses.
      choice("pred", "予測", {"median"});
      break;
    case AV_CODEC_ID_UTVIDEO:
      // Named, but the encoder refuses it.
      choice("pred", "予測", {"gradient"});
      break;
    case AV_CODEC_ID_MAGICYUV:
    case AV_CODEC_ID_JPEGLS:
      choice("pred", "予測");
      break;
    default:
      break;
  }
  return list;
}

}  // namespace

std::vector<VideoEncoderSetting> VideoEncoderSettings(uint32_t fourcc) {
  const EncoderCandidate* candidate = CandidateFor(fourcc);
  const AVCodec* codec = candidate ? avcodec_find_encoder(candidate->id) : nullptr;
  return codec ? SettingsOf(codec) : std::vector<VideoEncoderSetting>{};
}

std::vector<VideoEncoderInfo> VideoEncoderList() {
  std::vector<VideoEncoderInfo> list;
  for (const EncoderCandidate& c : kEncoderCandidates) {
    const AVCodec* codec = avcodec_find_encoder(c.id);
    VideoCodecChoice choice;
    // Only what our own decoders read back under the tag.
    if (!codec || !ChooseVideoCodec(c.fourcc, c.fourcc, &choice) || choice.codecId != c.id) continue;
    VideoEncoderInfo info;
    info.description = codec->long_name ? codec->long_name : codec->name;
    info.fourcc = c.fourcc;
    info.configurable = !SettingsOf(codec).empty();
    list.push_back(std::move(info));
  }
  return list;
}

VideoEncoder::~VideoEncoder() {
  VideoEncoder::Close();
}

void VideoEncoder::Close() {
  BgrFrameEncoder::Close();
  av_frame_free(&passed_);
  suggested_ = 0;
  format_.clear();
}

bool VideoEncoder::Open(uint32_t fourcc, int width, int height, uint32_t rate, uint32_t scale,
                        const std::string& options) {
  Close();
  error_.clear();
  const EncoderCandidate* candidate = CandidateFor(fourcc);
  if (!candidate) return Fail("no encoder for " + FourCCText(fourcc));
  const AVCodec* codec = avcodec_find_encoder(candidate->id);
  if (!codec) return Fail("no encoder for " + FourCCText(fourcc));
  if (width <= 0 || height <= 0 || !FrameSizeUsable(width, height))
    return Fail(Fmt("unusable frame size %dx%d", width, height));
  const AVRational fps = FrameRateOf(rate, scale, height);
  AVPixelFormat pixFmt = AV_PIX_FMT_NONE;
  switch (candidate->id) {
    case AV_CODEC_ID_DVVIDEO:
      // 25 Mbit/s DV: NTSC samples 4:1:1, PAL 4:2:0; no other size exists.
      if (width == 720 && (height == 480 || height == 576)) {
        pixFmt = height == 480 ? AV_PIX_FMT_YUV411P : AV_PIX_FMT_YUV420P;
        if (!av_dv_codec_profile2(width, height, pixFmt, fps)) pixFmt = AV_PIX_FMT_NONE;
      }
      if (pixFmt == AV_PIX_FMT_NONE) return Fail(Fmt("DV has no profile for %dx%d", width, height));
      break;
    case AV_CODEC_ID_MJPEG:
      pixFmt = AV_PIX_FMT_YUVJ422P;
      break;
    case AV_CODEC_ID_UTVIDEO:
      pixFmt = AV_PIX_FMT_GBRP;
      break;
    default:
      pixFmt = codec->pix_fmts
                   ? avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, AV_PIX_FMT_BGR24, 0, nullptr)
                   : AV_PIX_FMT_BGR24;
      break;
  }
  if (pixFmt == AV_PIX_FMT_NONE || !Supports(codec, pixFmt))
    return Fail("the encoder takes no layout made from 24-bit RGB");

  AVDictionary* dict = nullptr;
  if (!options.empty() && av_dict_parse_string(&dict, options.c_str(), "=", ":,", 0) < 0) {
    av_dict_free(&dict);
    return Fail("unusable options: " + options);
  }
  // DV codes every segment of a frame on its own, so slice threads give the
  // same bytes as one thread; other encoders would cut their frames into
  // slices of their own.
  const int threads = candidate->id == AV_CODEC_ID_DVVIDEO ? 0 : 1;
  const bool opened =
      OpenContext(codec, width, height, pixFmt, fps.num, fps.den, candidate->fourcc, threads, &dict);
  std::string unknown;
  if (const AVDictionaryEntry* e = av_dict_get(dict, "", nullptr, AV_DICT_IGNORE_SUFFIX)) unknown = e->key;
  av_dict_free(&dict);
  if (!opened) return false;
  if (!unknown.empty()) return Fail("unknown option " + unknown);
  if (!SetUpPicture()) return false;

  const size_t extra = ctx_->extradata_size > 0 ? static_cast<size_t>(ctx_->extradata_size) : 0;
  BitmapInfoHeader bi{};
  bi.biSize = static_cast<uint32_t>(kHeaderBytes + extra);
  bi.biWidth = width;
  bi.biHeight = height;
  bi.biPlanes = 1;
  bi.biBitCount = static_cast<uint16_t>(ctx_->bits_per_coded_sample > 0 ? ctx_->bits_per_coded_sample : 24);
  bi.biCompression = candidate->fourcc;
  bi.biSizeImage = static_cast<uint32_t>(BgrStride(width) * static_cast<size_t>(height));
  format_.assign(kHeaderBytes + extra, 0);
  StoreBitmapInfoHeader(bi, format_.data());
  if (extra) std::memcpy(format_.data() + kHeaderBytes, ctx_->extradata, extra);
  // DV frames have one size; the others stay below twice a 24-bit frame.
  suggested_ =
      candidate->id == AV_CODEC_ID_DVVIDEO
          ? (height == 480 ? 120000u : 144000u)
          : static_cast<uint32_t>(std::min<size_t>(2 * size_t{bi.biSizeImage} + 4096, size_t{0xFFFFFF}));
  return true;
}

bool VideoEncoder::TakesPicture(const AVFrame* picture) const {
  return ctx_ && picture && picture->format == ctx_->pix_fmt && picture->width == Width() &&
         picture->height == Height();
}

bool VideoEncoder::CompressPicture(const AVFrame* picture, std::vector<uint8_t>& out, bool* keyFrame) {
  out.clear();
  if (!TakesPicture(picture)) {
    error_ = "unusable picture";
    return false;
  }
  if ((!passed_ && !(passed_ = av_frame_alloc())) || av_frame_ref(passed_, picture) < 0) {
    error_ = "out of memory";
    return false;
  }
  const bool ok = Encode(passed_, out, keyFrame);
  av_frame_unref(passed_);
  return ok;
}

// ---- Reference chunks -----------------------------------------------------

namespace {

// A 32-bit value of a chunk that may end before it: missing bytes are 0.
uint32_t ValueAt(const uint8_t* data, size_t size, size_t offset) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4 && offset + i < size; ++i) v |= static_cast<uint32_t>(data[offset + i]) << (8 * i);
  return v;
}

std::string NameAt(const uint8_t* data, size_t size, size_t offset) {
  if (offset >= size) return {};
  const char* p = reinterpret_cast<const char*>(data + offset);
  return std::string(p, strnlen(p, size - offset));
}

}  // namespace

ReferenceCheck DetectReference(uint32_t fccHandler, const uint8_t* data, size_t size, ReferenceInfo& info) {
  info = ReferenceInfo();
  if (!data) size = 0;
  size_t nameOffset = 0;
  if (SameFourCCNoCase(fccHandler, FourCC("dvrs"))) {
    info.kind = kRefDvrs;
    info.refBase = ValueAt(data, size, 0);
    info.refFrame = ValueAt(data, size, 4);
    info.refFrame2 = ValueAt(data, size, 8);
    nameOffset = 12;
  } else if (size >= 4 && std::memcmp(data, "REF ", 4) == 0 && SameFourCCNoCase(fccHandler, FourCC("cdvc"))) {
    info.kind = kRefCdvc;
    info.refFrame = ValueAt(data, size, 4);
    nameOffset = 16;
  } else if (size >= 8 && std::memcmp(data, "RefCodec", 8) == 0) {
    uint32_t second = ValueAt(data, size, 12);
    info.kind = kRefCodec | (second & 0x40000000u ? kRefCodecFlag30 : 0) |
                (second & 0x80000000u ? kRefCodecFlag31 : 0);
    info.refFrame = ValueAt(data, size, 8);
    info.refFrame2 = second & 0x3FFFFFFFu;
    nameOffset = 16;
  } else {
    return ReferenceCheck::kNone;
  }
  info.fileName = NameAt(data, size, nameOffset);
  return info.fileName.size() >= 260 ? ReferenceCheck::kNameTooLong : ReferenceCheck::kReference;
}

bool ReferencedDataLocation(const ReferenceInfo& info, uint64_t& offset, uint32_t& size) {
  if (info.kind == kRefDvrs) {
    offset = info.refFrame;
    size = info.refFrame2;
    return true;
  }
  if (info.kind == kRefCdvc) {
    offset = static_cast<uint64_t>(info.refFrame) + 8;
    size = 120000;
    return true;
  }
  return false;
}

bool ReadReferencedData(const std::string& path, const ReferenceInfo& info, ChunkBytes& out,
                        std::string& error) {
  uint64_t offset = 0;
  uint32_t size = 0;
  if (!ReferencedDataLocation(info, offset, size)) {
    error = "reference kind has no data position";
    return false;
  }
  // A frame's size fits the index's 24 bits; anything larger is damage.
  if (size == 0 || size >= (1u << 24)) {
    error = Fmt("referenced frame size %u is not usable", size);
    return false;
  }
  // The name comes from the file: opening must not wait (a FIFO blocks until
  // a writer comes) and only a regular file may be read (not a device).
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    error = "cannot open " + path;
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    error = "not a regular file: " + path;
    return false;
  }
  uint8_t* p = out.Resize(size);
  size_t got = 0;
  while (p && got < size) {
    ssize_t n = pread(fd, p + got, size - got, static_cast<off_t>(offset + got));
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(fd);
  if (!p || got < size) {
    error = Fmt("cannot read %u bytes at %llu of ", size, static_cast<unsigned long long>(offset)) + path;
    return false;
  }
  out.keyFrame = true;
  return true;
}

// ---- FrameGetter ----------------------------------------------------------

FrameGetter::FrameGetter(VideoDecompressor& decoder, uint32_t handler, uint32_t frameCount, Source source)
    : decoder_(decoder), handler_(handler), frameCount_(frameCount), source_(std::move(source)) {}

bool FrameGetter::FeedChunk(uint32_t frame, bool& rejected) {
  rejected = false;
  if (!source_.readChunk || !source_.readChunk(frame, chunk_)) {
    error_ = Fmt("chunk of frame %u cannot be read", frame);
    return false;
  }
  const ChunkBytes* input = &chunk_;
  ReferenceInfo ref;
  switch (chunk_.size() ? DetectReference(handler_, chunk_.data(), chunk_.size(), ref)
                        : ReferenceCheck::kNone) {
    case ReferenceCheck::kNone:
      break;
    case ReferenceCheck::kNameTooLong:
      error_ = "referenced file name too long: " + ref.fileName;
      return false;
    case ReferenceCheck::kReference: {
      std::string why = "no way to read referenced files";
      if (!source_.resolveReference || !source_.resolveReference(ref, ref_, why)) {
        error_ = why;
        return false;
      }
      input = &ref_;
      break;
    }
  }
  if (input->size()) ++decodes_;
  if (!decoder_.Feed(*input)) {
    // The decoder stood in a gap for the picture; a player goes on, and so
    // do we unless this was the frame asked for.
    error_ = decoder_.Error();
    rejected = true;
  }
  return true;
}

bool FrameGetter::GetFrame(uint32_t frame, uint8_t* dest, size_t destStride) {
  auto fail = [&](const std::string& why) {
    if (!why.empty()) error_ = why;
    position_ = -1;
    if (dest) std::memset(dest, 0, destStride * static_cast<size_t>(decoder_.Height()));
    return false;
  };
  error_.clear();
  if (!decoder_.IsOpen()) return fail("no decoder");
  if (frame >= frameCount_) return fail(Fmt("frame %u is past the stream's %u frames", frame, frameCount_));
  if (position_ == frame) {
    if (rejectedAt_ == frame) {
      error_ = rejectedWhy_;
      if (dest) std::memset(dest, 0, destStride * static_cast<size_t>(decoder_.Height()));
      return false;
    }
    return decoder_.RepeatLast(dest, destStride) || fail(decoder_.Error());
  }

  // The nearest key frame at or before `frame`, unless the decoder already
  // stands after it: then going on from there costs less.
  auto keyBefore = [&](uint32_t k, int64_t stop) {
    while (static_cast<int64_t>(k) > stop && k > 0 &&
           ((source_.isKeyFrame && !source_.isKeyFrame(k)) || notKey_.count(k)))
      --k;
    return k;
  };
  int64_t stopAt = position_ >= 0 && position_ < frame ? position_ : -1;
  uint32_t start = keyBefore(frame, stopAt);
  // A key frame right after the position costs as much from there, and a
  // reordering decoder would need the chunks before it again.
  if (stopAt >= 0 && start == stopAt + 1) start = static_cast<uint32_t>(stopAt);
  bool fresh = static_cast<int64_t>(start) != stopAt;
  position_ = -1;
  rejectedAt_ = -1;

  // Whether a decoder reorders may show only some chunks in: the first seek
  // into the middle of a stream of a codec that can first decodes the
  // stream's opening chunks.
  if (fresh && start > 0 && !probed_ && decoder_.DelaySeen() == 0 && decoder_.MayReorder()) {
    probed_ = true;
    decoder_.Flush(true);
    bool bad = false;
    for (uint32_t k = 0; k < std::min(frameCount_, kProbeChunks) && decoder_.DelaySeen() == 0; ++k) {
      if (!FeedChunk(k, bad)) break;
      while (decoder_.NextPicture()) {
      }
    }
    error_.clear();
  }
  // A reordering decoder gives the pictures of sequential decoding only once
  // its state has settled: how many pictures it holds back at a key frame
  // depends on the chunks before it (DivX streams that resend a header
  // announcing no B-frames with each key frame). So it starts one key frame
  // earlier.
  int delayBefore = decoder_.DelaySeen();
  if (fresh && start > 0 && delayBefore > 0) start = keyBefore(start - 1, -1);
  bool rejected = false;
  uint32_t back = 1;
  for (;;) {
    if (fresh) {
      // From the first chunk the decoder starts as new, as in a decode from
      // the start: what it learns on the way (DivX streams that announce no
      // B-frames and then have packed ones) changes the pictures it gives.
      decoder_.Flush(start == 0);
      nextChunk_ = start;
      nextPicture_ = start;
      drained_ = false;
    }
    // Pictures come out in display order, a reordering decoder some chunks
    // after their own; the n-th picture out is frame n.
    bool badStart = false;
    rejected = false;
    while (nextPicture_ <= frame) {
      bool hadPicture = decoder_.HasPicture();
      if (decoder_.NextPicture()) {
        // After a seek the first picture must be one a decoder can start
        // from: an index that flags a delta frame as key (or a null frame)
        // gives a picture built on nothing.
        if (fresh && !hadPicture && decoder_.HasPicture() && !decoder_.PictureIsKey()) {
          badStart = true;
          notKey_.insert(start);
        }
        ++nextPicture_;
        continue;
      }
      if (nextChunk_ < frameCount_) {
        bool bad = false;
        if (!FeedChunk(nextChunk_, bad)) return fail("");
        if (bad && nextChunk_ == frame) rejected = true;
        ++nextChunk_;
      } else if (!drained_) {
        drained_ = true;
        if (!decoder_.Drain()) return fail(decoder_.Error());
      } else {
        return fail(Fmt("the decoder gave no picture for frame %u", frame));
      }
    }
    // Frames before the first picture after a seek belong to chunks that
    // need pictures from before the key frame (B-frames stored after it), so
    // they are not known from here either.
    if (fresh && !decoder_.HasPicture()) badStart = true;
    // The decoder found out only now that it reorders.
    if (fresh && delayBefore == 0 && decoder_.DelaySeen() > 0) {
      delayBefore = decoder_.DelaySeen();
      badStart = true;
    }
    if (!badStart || start == 0) break;
    // Wider steps each time, so that an index flagging every chunk as key
    // costs a few times the distance to the real key frame, not its square.
    start = keyBefore(start > back ? start - back : 0, -1);
    back *= 2;
  }
  // A rejected chunk still moved the decoder on: keep the position so that
  // the next step costs one decode, but show this frame as failed.
  position_ = frame;
  if (rejected) {
    rejectedAt_ = frame;
    rejectedWhy_ = error_;
    if (dest) std::memset(dest, 0, destStride * static_cast<size_t>(decoder_.Height()));
    return false;
  }
  if (!decoder_.RepeatLast(dest, destStride)) return fail(decoder_.Error());
  return true;
}
