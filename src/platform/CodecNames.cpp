#include "platform/CodecNames.h"

#include <iterator>

#include "platform/Format.h"
#include "platform/Riff.h"

namespace {

struct VideoTagRow {
  uint32_t tag;
  int codec;  // row of kVideoCodecs
};
struct VideoCodecRow {
  int id;               // libavcodec's codec id
  const char* decoder;  // the decoder's description, null when there is none
};

#include "VideoCodecTable.inc"

// The codec row of a tag: an exact match first, then one with case ignored,
// both in the table's order (libavformat's own rule).
int CodecOfTag(uint32_t tag) {
  if (tag == 0) return -1;
  for (const VideoTagRow& row : kVideoTags)
    if (row.tag == tag) return row.codec;
  uint32_t up = UpperFourCC(tag);
  for (const VideoTagRow& row : kVideoTags)
    if (UpperFourCC(row.tag) == up) return row.codec;
  return -1;
}

}  // namespace

bool ChooseVideoCodec(uint32_t fccHandler, uint32_t compression, VideoCodecChoice* choice) {
  int codec = CodecOfTag(fccHandler);
  int byCompression = CodecOfTag(compression);
  if (codec < 0) codec = byCompression;
  // "dvrs" frames point at DV frames, which are what gets decoded.
  if (codec < 0 && SameFourCCNoCase(fccHandler, FourCC("dvrs"))) codec = kDvVideoRow;
  if ((codec < 0 || !kVideoCodecs[codec].decoder) && byCompression >= 0 && byCompression != codec &&
      kVideoCodecs[byCompression].decoder)
    codec = byCompression;
  if (codec < 0 || !kVideoCodecs[codec].decoder) return false;
  choice->codecId = kVideoCodecs[codec].id;
  choice->byCompression = codec == byCompression;
  choice->description = kVideoCodecs[codec].decoder;
  return true;
}

bool LookUpVideoCodecName(uint32_t fccHandler, uint32_t compression, std::string* description) {
  VideoCodecChoice choice;
  if (!ChooseVideoCodec(fccHandler, compression, &choice)) return false;
  if (description) *description = choice.description;
  return true;
}

std::string VideoCodecOpenErrorText(const std::string& fileName, uint32_t fccHandler) {
  return Fmt("%sのビデオコーデック%sが開けません!", fileName.c_str(), FourCCText(fccHandler).c_str());
}
