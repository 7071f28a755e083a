// Builders of hand-made PCM signals and an independent check of WAVE files.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "TestSupport.h"

using Frames = std::vector<std::vector<int>>;  // frames[i][channel], signed amplitudes

// Sample bytes of the frames: 16-bit little-endian, or 8-bit as value + 128.
inline std::string Pcm(const Frames& frames, int bits) {
  std::string s;
  for (const auto& frame : frames)
    for (int v : frame) {
      if (bits == 8)
        s += static_cast<char>(v + 128);
      else
        Put16(s, static_cast<uint16_t>(static_cast<int16_t>(v)));
    }
  return s;
}

// Sample count and channels as sox reads them; -1 when sox cannot read the file.
struct SoxInfo {
  long samples = -1;
  int channels = -1;
};
inline SoxInfo Sox(const std::string& path) {
  SoxInfo info;
  std::string out;
  if (RunCommand("sox --i -s '" + path + "' 2>/dev/null", &out) != 0 || out.empty()) return info;
  info.samples = std::stol(out);
  if (RunCommand("sox --i -c '" + path + "' 2>/dev/null", &out) == 0 && !out.empty())
    info.channels = std::stoi(out);
  return info;
}
