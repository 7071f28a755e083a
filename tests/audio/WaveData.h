// The data chunk of a WAVE file a test wrote, or "unreadable: " and why.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "audio/WaveFile.h"

inline std::string WaveData(const std::string& path) {
  WaveReader r;
  std::string msg;
  if (!r.Open(path, 0, &msg)) return "unreadable: " + msg;
  std::string data(r.Info().dataBytes, '\0');
  EXPECT_EQ(r.ReadData(0, data.data(), data.size()), static_cast<int64_t>(data.size()));
  return data;
}
