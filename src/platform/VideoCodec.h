// The video side of the codec layer: a decompressor per handler FOURCC backed
// by libavcodec, delivering 24-bit BGR bottom-up rows; a frame getter for
// streams with delta frames; and the classification of reference chunks
// (frames that only point into another AVI file).
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/CodecNames.h"

struct AVBufferRef;
struct AVCodec;
struct AVCodecContext;
struct AVCodecParameters;
struct AVDictionary;
struct AVFrame;
struct AVPacket;
struct SwsContext;

// Row stride of a 24-bit frame: 3·W rounded up to a multiple of 4.
inline size_t BgrStride(int width) {
  return (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
}

// The bytes of one chunk, kept with the zeroed input padding libavcodec needs
// so that a chunk read here is decoded without another copy. size() 0 means a
// null frame.
class ChunkBytes {
 public:
  ChunkBytes() = default;
  ~ChunkBytes();
  ChunkBytes(const ChunkBytes&) = delete;
  ChunkBytes& operator=(const ChunkBytes&) = delete;

  // Room for `size` bytes followed by zeroed padding; returns where to write
  // them, or null when the memory cannot be had. Earlier contents are lost.
  uint8_t* Resize(size_t size);
  bool Assign(const void* data, size_t size);
  const uint8_t* data() const;
  size_t size() const { return size_; }

  bool keyFrame = false;

 private:
  friend class VideoDecompressor;
  AVBufferRef* buf_ = nullptr;
  size_t size_ = 0;
};

class VideoDecompressor {
 public:
  VideoDecompressor();
  ~VideoDecompressor();
  VideoDecompressor(const VideoDecompressor&) = delete;
  VideoDecompressor& operator=(const VideoDecompressor&) = delete;

  // Opens a decoder for the stream handler `fccHandler` (case ignored) and the
  // stream format (BITMAPINFOHEADER, then extra data or palette). A handler
  // of 0 or one libavformat's tag table does not know falls back to
  // biCompression. False with Error() set when no decoder can be opened.
  bool Open(uint32_t fccHandler, const void* format, size_t formatSize);
  void Close();
  bool IsOpen() const { return ctx_ != nullptr; }

  // The codec's name for the window title.
  const std::string& Description() const { return description_; }
  // Whether the codec has options the user can set (none of ours has).
  bool Configurable() const { return false; }
  // Whether every chunk of the codec stands alone, whatever an index says.
  bool IntraOnly() const;
  // Why the last Open or Decompress failed.
  const std::string& Error() const { return error_; }

  int Width() const { return width_; }
  int Height() const { return height_; }  // |biHeight|
  size_t Stride() const { return BgrStride(width_); }
  size_t FrameBytes() const { return Stride() * static_cast<size_t>(height_); }

  // Decodes one chunk and writes the picture into `dest` as 24-bit BGR rows,
  // bottom-up, `destStride` bytes apart (at least 3·W), Height() rows. A null
  // dest decodes without converting (frames skipped on the way to another).
  // One chunk in, one picture out: a decoder that holds pictures back
  // (reordering delay) yields the newest picture it has released so far,
  // black before the first one; the frame getter keeps display order instead.
  // A null chunk repeats the current picture. On failure dest is black and
  // false is returned with Error() set.
  bool Decompress(const ChunkBytes& chunk, uint8_t* dest, size_t destStride);
  bool Decompress(const void* data, size_t size, bool keyFrame, uint8_t* dest, size_t destStride);
  // Converts the current picture again (black when there is none).
  bool RepeatLast(uint8_t* dest, size_t destStride);
  // Drops every picture (references, waiting ones, the current one), as
  // before decoding from a key frame elsewhere in the stream. With `afresh`
  // or after a rejected chunk the decoder is opened anew, forgetting what it
  // learned about the stream too.
  void Flush(bool afresh = false);

  // The parts of Decompress for callers that keep pictures in display order
  // (the frame getter): Feed decodes one chunk (size 0 queues "the picture
  // before again") and queues the pictures it releases; Drain releases what
  // a reordering decoder still holds at the end of the stream; NextPicture
  // makes the oldest waiting picture the current one.
  bool Feed(const ChunkBytes& chunk);
  bool Drain();
  bool NextPicture();
  size_t Waiting() const { return waiting_.size(); }
  // Whether a picture has come out since the last flush, and whether that
  // current picture is one the decoder could start from.
  bool HasPicture() const { return haveLast_; }
  // That picture as the decoder gave it, before the conversion to BGR.
  const AVFrame* Picture() const { return haveLast_ ? last_ : nullptr; }
  // The largest reordering delay the decoder has had since it was opened,
  // and whether the codec can reorder at all.
  int DelaySeen() const { return delaySeen_; }
  bool MayReorder() const;
  bool PictureIsKey() const;

 private:
  bool Fail(const std::string& why, uint8_t* dest, size_t destStride);
  bool Convert(const AVFrame* frame, uint8_t* dest, size_t destStride);
  void Black(uint8_t* dest, size_t destStride) const;
  bool Collect();
  void PassNullSlots();
  void OweUpTo(size_t keep);
  void ClearWaiting();
  static constexpr size_t kMaxWaiting = 32;

  bool OpenContext();

  const AVCodec* codec_ = nullptr;
  AVCodecParameters* params_ = nullptr;  // to open the decoder afresh
  AVCodecContext* ctx_ = nullptr;
  bool damaged_ = false;  // a chunk was rejected since the decoder opened
  AVPacket* packet_ = nullptr;
  AVFrame* decoded_ = nullptr;  // receives pictures from the decoder
  AVFrame* last_ = nullptr;     // the newest picture given out
  bool haveLast_ = false;
  std::deque<AVFrame*> waiting_;  // released, not yet shown; null = null frame
  std::vector<AVFrame*> spare_;
  bool draining_ = false;
  // Chunks fed whose place in display order is still open, oldest first;
  // true for a null frame. Pictures fill them in order; a null frame's place
  // follows once the pictures before it are out.
  std::deque<bool> owed_;
  int delaySeen_ = 0;
  SwsContext* sws_ = nullptr;
  int swsWidth_ = 0, swsHeight_ = 0, swsFormat_ = -1;  // what sws_ was made for
  int swsColorspace_ = -1, swsRange_ = -1;
  std::unique_ptr<uint32_t[]> palette_;  // sent with the first chunk
  bool paletteSent_ = false;
  ChunkBytes copy_;  // chunks handed over as plain bytes
  int width_ = 0, height_ = 0;
  std::string description_, error_;
};

// The other direction: an encoder per handler FOURCC writing the chunks a
// stream of that handler stores, from 24-bit BGR bottom-up frames. DV (the
// profile from the size and rate), the packed and planar YUV layouts of raw
// video, MJPEG and HuffYUV. Uncompressed RGB is the frame layer's own
// conversion (Convert.h), not an encoder's.
// What both encoders of 24-bit frames share: the codec context, the picture
// that BGR frames are converted into, one chunk out for every frame in.
class BgrFrameEncoder {
 public:
  BgrFrameEncoder(const BgrFrameEncoder&) = delete;
  BgrFrameEncoder& operator=(const BgrFrameEncoder&) = delete;

  virtual void Close();
  bool IsOpen() const { return ctx_ != nullptr; }
  const std::string& Error() const { return error_; }
  int Width() const { return width_; }
  int Height() const { return height_; }

 protected:
  BgrFrameEncoder() = default;
  virtual ~BgrFrameEncoder();
  bool Fail(const std::string& why);
  // Opens `codec` for `width` × `height` pictures in `pixFmt`, stored under
  // `tag`, every frame a key frame; `threads` 0 lets the codec choose. What
  // the codec did not take of `options` stays in it.
  bool OpenContext(const AVCodec* codec, int width, int height, int pixFmt, int rateNum, int rateDen,
                   uint32_t tag, int threads, AVDictionary** options);
  // The picture the frames are converted into (after OpenContext).
  bool SetUpPicture();
  // One bottom-up 24-bit frame, rows `stride` bytes apart.
  bool EncodeBgr(const uint8_t* frame, size_t stride, std::vector<uint8_t>& out, bool* keyFrame);
  bool Encode(AVFrame* picture, std::vector<uint8_t>& out, bool* keyFrame);

  AVCodecContext* ctx_ = nullptr;
  std::string error_;

 private:
  AVFrame* picture_ = nullptr;
  AVPacket* packet_ = nullptr;
  SwsContext* sws_ = nullptr;
  int64_t pts_ = 0;
  int width_ = 0, height_ = 0;
};

class VideoCompressor : public BgrFrameEncoder {
 public:
  VideoCompressor() = default;
  ~VideoCompressor() override = default;

  // Opens an encoder for handler `fccHandler` (case ignored; 0 or an unknown
  // one falls back to biCompression, as the decoder does) and the stored
  // format (BITMAPINFOHEADER, then extra data). `rate`/`scale` are the
  // stream's frames per second (0: from the frame size). False with Error()
  // set when no encoder fits the stored format.
  bool Open(uint32_t fccHandler, const void* format, size_t formatSize, uint32_t rate = 0,
            uint32_t scale = 0);

  // Compresses one frame (Width() × Height(), rows `stride` bytes apart,
  // bottom-up) into `out`, the bytes of one chunk.
  bool Compress(const uint8_t* frame, size_t stride, std::vector<uint8_t>& out) {
    return EncodeBgr(frame, stride, out, nullptr);
  }
};

// The opener to hand to the AVI reader (AviOpenOptions::videoCodecOpener) in
// programs that decode.
VideoCodecOpener VideoDecompressorOpener();

// ---- Reference chunks ----------------------------------------------------

enum : int {
  kRefNone = 0,
  kRefCdvc = 1,         // "REF " chunk of a "cdvc" stream
  kRefCodec = 2,        // chunk starting with "RefCodec"
  kRefCodecFlag30 = 4,  // added to kRefCodec for bit 30 of the second value
  kRefCodecFlag31 = 8,  // bit 31: the reference is to an uncompressed frame
  kRefDvrs = 0x20,      // any chunk of a "dvrs" stream
};

struct ReferenceInfo {
  int kind = kRefNone;
  uint32_t refFrame = 0, refFrame2 = 0, refBase = 0;
  std::string fileName;
};

enum class ReferenceCheck { kNone, kReference, kNameTooLong };

// Classifies a chunk of a stream with handler `fccHandler`. Values past the
// end of a short chunk read as 0 and the name stops at the end of the data.
// kNameTooLong: the name has 260 characters or more (info.fileName holds it
// for the message "%sの参照ファイル名%sが長すぎます!").
ReferenceCheck DetectReference(uint32_t fccHandler, const uint8_t* data, size_t size, ReferenceInfo& info);

// Where the frame data of a reference lies in the referenced file: "dvrs"
// records give offset and size; "REF " records give the chunk header's
// offset, the data following 8 bytes later, 120,000 bytes of it. False for
// kinds whose target is not a position ("RefCodec").
bool ReferencedDataLocation(const ReferenceInfo& info, uint64_t& offset, uint32_t& size);

// Reads the referenced frame data from the file at `path` (the caller maps the
// recorded name to a path) into `out` as a key frame.
bool ReadReferencedData(const std::string& path, const ReferenceInfo& info, ChunkBytes& out,
                        std::string& error);

// ---- Frame getter ----------------------------------------------------------

// Reads frames of a stream with delta frames: decodes from the nearest key
// frame at or before the frame asked for, or on from where the decoder stands
// when that is closer, so that stepping forward costs one decode. Frame n is
// the n-th picture out of the decoder, so streams whose decoder reorders
// (B-frames stored in decode order) are shown in display order; the decoder
// is fed as many chunks ahead as its delay needs. A null chunk keeps its own
// place: it shows the picture shown before it. Key flags are not trusted
// blindly: a start whose first picture is not a key picture, or that leaves
// the frame asked for before the first picture (B-frames stored after a key
// frame), is retried from an earlier key frame, so a jump gives the pixels of
// sequential decoding.
class FrameGetter {
 public:
  struct Source {
    // Key-frame flag of chunk `frame` from the index (no reading).
    std::function<bool(uint32_t frame)> isKeyFrame;
    // Reads chunk `frame` into `chunk` (size 0: null frame). False: unreadable.
    std::function<bool(uint32_t frame, ChunkBytes& chunk)> readChunk;
    // Optional: replaces a reference chunk by the referenced frame's data.
    // Without it a reference chunk cannot be decoded.
    std::function<bool(const ReferenceInfo& ref, ChunkBytes& chunk, std::string& error)> resolveReference;
  };

  // `handler` is the stream handler, used to recognise reference chunks.
  FrameGetter(VideoDecompressor& decoder, uint32_t handler, uint32_t frameCount, Source source);

  // Writes frame `frame` into dest (BGR bottom-up, destStride apart). Null
  // frames repeat the picture before them. On failure dest is black and false
  // is returned with Error() set.
  bool GetFrame(uint32_t frame, uint8_t* dest, size_t destStride);
  // Forgets the position (and the chunks found not to be key frames after
  // all): call it when the index changed or the decoder was used or flushed
  // by anyone else.
  void Invalidate() {
    position_ = -1;
    notKey_.clear();
  }
  // Chunks handed to the decoder so far.
  uint64_t Decodes() const { return decodes_; }
  const std::string& Error() const { return error_; }

 private:
  bool FeedChunk(uint32_t frame, bool& rejected);

  VideoDecompressor& decoder_;
  uint32_t handler_, frameCount_;
  Source source_;
  ChunkBytes chunk_, ref_;
  int64_t position_ = -1;     // frame whose picture is current, -1 none
  uint32_t nextChunk_ = 0;    // next chunk to feed
  uint32_t nextPicture_ = 0;  // frame number of the next picture out
  bool drained_ = false;
  int64_t rejectedAt_ = -1;    // frame whose chunk the decoder rejected
  std::set<uint32_t> notKey_;  // flagged key, but decoding could not start there
  bool probed_ = false;        // the opening chunks were decoded to learn the delay
  static constexpr uint32_t kProbeChunks = 12;
  std::string rejectedWhy_;
  uint64_t decodes_ = 0;
  std::string error_;
};

// ---- Encoders for a new file ---------------------------------------------

// A video encoder that takes 24-bit frames and writes a stream our own
// decoders read back under an AVI FOURCC.
struct VideoEncoderInfo {
  std::string description;
  uint32_t fourcc = 0;
  // Whether it has options for the configure step.
  bool configurable = false;
};
// Every such encoder this machine's libavcodec has, in a fixed order.
std::vector<VideoEncoderInfo> VideoEncoderList();

// One main setting of an encoder for its configure dialog. The value goes
// into the options text as "key=value" for every key (a fixed quantizer is
// qmin and qmax at once); a choice offers the encoder's named values.
struct VideoEncoderSetting {
  std::vector<std::string> keys;
  std::string label;
  int64_t minimum = 0, maximum = 0;
  std::vector<std::string> choices;  // empty: a number
};
// The main settings of the encoder stored under `fourcc`; none when it has
// nothing worth setting (the configurable flag of the list follows this).
std::vector<VideoEncoderSetting> VideoEncoderSettings(uint32_t fourcc);

// Compresses 24-bit BGR bottom-up frames of one size into the chunks of a
// new stream: every frame on its own (a key frame), so any frame can start
// decoding, as a frame-at-a-time compressor gives them.
class VideoEncoder : public BgrFrameEncoder {
 public:
  VideoEncoder() = default;
  ~VideoEncoder() override;

  // `rate`/`scale` frames per second (0: 25, or 30000/1001 for 480 rows).
  // `options`: the configure step's text, "name=value" pairs separated by
  // ':' or ','. DV takes 720×480 and 720×576 only. False with Error() set.
  bool Open(uint32_t fourcc, int width, int height, uint32_t rate, uint32_t scale,
            const std::string& options = {});
  void Close() override;
  // The stream format: BITMAPINFOHEADER and the encoder's extra data.
  const std::vector<uint8_t>& Format() const { return format_; }
  // The extra data alone (what a decoder must be given besides the chunks).
  size_t ExtraBytes() const { return format_.size() > 40 ? format_.size() - 40 : 0; }
  // A chunk never needs more than this (the stream header's buffer size).
  uint32_t SuggestedBufferSize() const { return suggested_; }

  bool Compress(const uint8_t* frame, size_t stride, std::vector<uint8_t>& out, bool* keyFrame = nullptr) {
    return EncodeBgr(frame, stride, out, keyFrame);
  }
  // Whether a decoder's picture is in this encoder's own layout and size,
  // and so can be compressed as it is, without a round trip through BGR.
  bool TakesPicture(const AVFrame* picture) const;
  bool CompressPicture(const AVFrame* picture, std::vector<uint8_t>& out, bool* keyFrame = nullptr);

 private:
  AVFrame* passed_ = nullptr;  // a reference to a picture given as it is
  uint32_t suggested_ = 0;
  std::vector<uint8_t> format_;
};
