// Helpers shared by the AVI tests.
#pragma once
#include <string>

#include "AviBuilder.h"
#include "TestSupport.h"
#include "avi/AviReader.h"
#include "avi/OpenAvi.h"

// Opens with the decoders unless told to only name codecs, as the report does.
inline bool OpenRecord(OpenAviFile* avi, const std::string& path, int mode, bool decoders = true) {
  avi->szFileName = path;
  avi->options.videoCodecOpener = decoders ? VideoDecompressorOpener() : nullptr;
  return CloseOpenAvi(avi, mode);
}

inline std::string WriteAvi(const ScratchDir& dir, const std::string& name, const AviLayout& layout) {
  std::string path = dir.File(name);
  WriteFileBytes(path, layout.bytes);
  return path;
}

inline uint32_t Le32(const std::string& s, uint64_t at) {
  return static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8 |
         static_cast<uint8_t>(s[at + 2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}
inline void SetLe32(std::string& s, uint64_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

// Texts of the boxes shown, joined, for failure output.
inline std::string BoxTexts(const RecordingHost& host) {
  std::string all;
  for (auto& b : host.boxes) all += "[" + b.text + "] ";
  return all;
}
