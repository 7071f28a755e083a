// What the AVI reader knows of video codecs without loading any decoder: the
// name a decoder would give a stream, and the way to open the decoders in
// programs that have them.
//
// The decoders (VideoCodec.cpp, on libavcodec) are linked only into the parts
// of Mirdex that show pictures. Loading FFmpeg's libraries costs far more
// than reading an index, so `mirdex --report` names codecs from a table made
// from libavformat's and libavcodec's own data when the program is built.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class VideoDecompressor;

// The decoder for a stream with handler `fccHandler` and BITMAPINFOHEADER
// biCompression `compression`: the handler's codec (case ignored), else the
// one biCompression names, "dvrs" read as DV; when the handler's codec has
// no decoder, biCompression's. False when there is none. The decoders
// (VideoDecompressor::Open) and the report choose through this one rule.
struct VideoCodecChoice {
  int codecId = 0;             // libavcodec's codec id
  bool byCompression = false;  // chosen by biCompression (the bitstream tag)
  std::string description;     // the decoder's own name for it
};
bool ChooseVideoCodec(uint32_t fccHandler, uint32_t compression, VideoCodecChoice* choice);

// The description a stream's decoder gives itself; false when there is none.
bool LookUpVideoCodecName(uint32_t fccHandler, uint32_t compression, std::string* description);

// Opens a decoder for a stream format (BITMAPINFOHEADER and what follows it).
// Null when none opens, with the reason in *error. The pointer carries its
// deleter from the codec layer, so its holders need not link the decoders.
using VideoCodecOpener = std::shared_ptr<VideoDecompressor> (*)(uint32_t fccHandler, const void* format,
                                                                size_t formatSize, std::string* error);

// The codec layer's opener (VideoCodec.h: VideoDecompressorOpener) is handed
// to the AVI reader through the open options by whoever links the decoders.

// "%sのビデオコーデック%sが開けません!" with the file name and the handler as
// four characters.
std::string VideoCodecOpenErrorText(const std::string& fileName, uint32_t fccHandler);
