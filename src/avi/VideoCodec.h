// The video side of the codec layer as far as opening a file needs it: find a
// decompressor for a FOURCC (through libavformat's RIFF tag table and
// libavcodec's decoders), its description text and the configure query.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

class VideoCodec {
 public:
  // A decompressor for `fccHandler` (case ignored); null when libavcodec has
  // no decoder for it.
  static std::unique_ptr<VideoCodec> Open(uint32_t fccHandler);
  // The codec's description, as a codec information query gives it.
  const std::string& Description() const { return description_; }
  // True when the codec has options the user can set. None of ours has yet.
  bool ConfigureQuery() const { return false; }
  int CodecId() const { return codecId_; }

 private:
  int codecId_ = 0;
  std::string description_;
};

// Handlers that mean uncompressed video: "DIB ", "DIB\0" and 0.
bool IsUncompressedHandler(uint32_t fccHandler);
