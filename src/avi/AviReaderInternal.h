// What the parts of the AVI reader share: the state of one open, chunk-id
// tests, and the steps each file provides (headers, idx1, OpenDML indexes,
// the movi scan, the idx1 write-back).
#pragma once
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "avi/OpenAvi.h"
#include "platform/Format.h"
#include "platform/Riff.h"

namespace avi_reader {

constexpr uint32_t kIdx1KeyFrame = 0x10;
constexpr uint64_t kMaxOffset = uint64_t{1} << 38;

inline char Ch(uint32_t fcc, int i) {
  return static_cast<char>((fcc >> (8 * i)) & 0xFF);
}
inline bool IsVideoId(uint32_t id, char stream) {
  return Ch(id, 0) == '0' && Ch(id, 1) == stream && Ch(id, 2) == 'd' &&
         (Ch(id, 3) == 'c' || Ch(id, 3) == 'b');
}
inline bool IsAudioId(uint32_t id, char stream) {
  return stream && Ch(id, 0) == '0' && Ch(id, 1) == stream && Ch(id, 2) == 'w' && Ch(id, 3) == 'b';
}

// The state of one open: the message composed so far, shown once at the end.
struct Opener {
  OpenAviFile* avi;
  int mode;
  const char* name;
  std::string msg;
  bool silent = false;  // already reported or cancelled
  uint64_t fileSize = 0;
  RiffFile* f = nullptr;
  // The stream character of the audio list that was taken when the header
  // lists more than one: chunks of the others are not its audio.
  char audioStream = 0;
  // Position of the movi list's type: what standard idx1 offsets count from.
  uint64_t moviType = 0;

  bool Fail(const char* format) {
    if (msg.empty() && !silent) msg = Fmt(format, name);
    return false;
  }
  bool FailText(const std::string& text) {
    if (msg.empty() && !silent) msg = text;
    return false;
  }
  bool TooLarge(uint32_t id, uint32_t size) {
    return FailText(Fmt("%sには16MiB以上のチャンク(%s, %uバイト)があるため開けません!", name,
                        FourCCText(id).c_str(), size));
  }
  // A header chunk must lie inside its parent and the file.
  bool Inside(const ChunkInfo& ck, uint64_t parentEnd) {
    uint64_t limit = std::min(parentEnd, fileSize);
    if (ck.End() > limit) {
      return FailText(Fmt("%sの%sチャンクのサイズ(%u)が親チャンクかファイルの終わりを越えています!", name,
                          FourCCText(ck.ckid).c_str(), ck.cksize));
    }
    return true;
  }
};

struct Fd {
  int fd = -1;
  Fd() = default;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

void FreeIndexes(OpenAviFile* avi);

// Finds RIFF "AVI " (parent null, from the start of the file) or the LIST
// of `type` among the children of `parent`, starting at `from`. A capture
// that was cut off before its sizes were written leaves 0 in the RIFF and
// movi sizes: such a chunk is taken to reach to the end of what holds it.
bool FindTyped(RiffFile* f, const ChunkInfo* parent, uint64_t from, uint64_t fileSize, uint32_t type,
               ChunkInfo* out);

// AviHeaders.cpp: hdrl, the stream lists and their formats; the checks of
// the formats; the codec.
bool ReadHeaders(Opener& o, ChunkInfo& riff, bool* haveVideo, bool* haveAudio, bool* havePcm);
bool CheckFormats(Opener& o, bool haveAudio);
bool OpenCodec(Opener& o);

// OpenDmlIndex.cpp: looks for "indx" in the stream list and reads it; falls
// back to plain AVI reading when it cannot be used. False only when the open
// must fail.
bool TryOpenDml(Opener& o, ChunkInfo& strl, bool video);

// Idx1Reader.cpp: the stream characters and the first video chunk from the
// movi list, then idx1 (or *missing).
bool WalkMovi(Opener& o, ChunkInfo& riff, bool haveAudio, uint64_t* firstVideoHeader);
bool ReadIdx1(Opener& o, ChunkInfo& riff, uint64_t firstVideoHeader, bool* missing);

}  // namespace avi_reader
