// Writes synthetic AVI files: AVI 1.0 with idx1 (offsets relative to movi or
// absolute, or no idx1), OpenDML with super-indexes and several RIFF parts,
// 'rec ' lists, PCM or compressed audio, and the knobs to break them. The
// layout it returns says where every chunk was put, which is what tests
// compare the reader against.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct AviFrame {
  uint32_t size = 100;  // 0: a null frame
  bool key = true;
  bool dc = true;  // "00dc", else "00db"
};

struct AviAudioFormat {
  uint16_t tag = 1, channels = 2;
  uint32_t rate = 8000;
  uint16_t bits = 16, blockAlign = 4;
  uint32_t avgBytes = 32000;
  uint32_t strfSize = 16;  // 14, 16, 18 or more
};

struct AviBuildOptions {
  int32_t width = 16, height = 16;
  uint16_t bitCount = 24;
  uint32_t compression = 0;
  const char* handler = "DIB ";  // nullptr: 0
  uint32_t rate = 25, scale = 1;
  std::vector<AviFrame> frames;
  bool audio = false;
  AviAudioFormat wf;
  std::vector<uint32_t> audioSizes;  // one audio chunk after each frame, while they last
  enum Idx1 { kRelative, kAbsolute, kNone } idx1 = kRelative;
  bool idx1OnlyKeyFlags = false;  // idx1 flags every entry as a key frame
  bool openDml = false;
  uint32_t framesPerPart = 0;                // OpenDML: frames per RIFF part (0: one part)
  bool recLists = false;                     // each frame and its audio inside LIST 'rec '
  int64_t avihFrames = -1, strhLength = -1;  // -1: the frame count
  std::string afterRiff;                     // raw bytes behind the first RIFF
  uint8_t fill = 0;                          // frame data: (frame + fill) bytes
};

struct AviLayout {
  std::string bytes;
  std::vector<uint64_t> videoData;  // data position of each frame's chunk
  std::vector<uint64_t> audioData;
  uint64_t moviType = 0;            // position of the "movi" list type of part 1
  uint64_t idx1Data = 0;            // 0 when none
  uint64_t superIndex[2] = {0, 0};  // data position of the video/audio indx
  std::vector<uint64_t> stdIndex;   // header positions of ix00 chunks
  uint64_t avihData = 0, videoStrfData = 0, audioStrfData = 0;
};

AviLayout BuildAvi(const AviBuildOptions& options);
// `count` key frames of `size` bytes.
std::vector<AviFrame> Frames(size_t count, uint32_t size = 100);
