// Helpers of the edit tests: tables of records filled by hand.
#pragma once
#include <string>
#include <vector>

#include "TestSupport.h"
#include "avi/OpenAvi.h"
#include "edit/Marks.h"

// Open-looking records of `sizes` frames each, every frame with an index
// entry of its own; no file behind them (`name`: the first record's name).
inline void MemoryTable(OpenAviTable& t, const std::vector<uint32_t>& sizes, const std::string& name = "") {
  t.AllocOpenAviTable(static_cast<int>(sizes.size()));
  t.nOpenAvi = static_cast<int>(sizes.size());
  for (size_t i = 0; i < sizes.size(); ++i) {
    OpenAviFile& avi = t.pOpenAviList[i];
    avi.szFileName = "/nowhere/file" + std::to_string(i) + ".avi";
    avi.nAudioKind = 1;
    avi.sets[0].FrameMax = sizes[i];
    for (uint32_t f = 0; f < sizes[i]; ++f)
      avi.sets[0].pFrameIndex.push_back(MakeIndexEntry((i + 1) * 100000 + f * 64, 10 + f, true, f % 3 != 0));
  }
  if (!name.empty()) t.pOpenAviList[0].szFileName = name;
  t.SelectOpenAvi(0);
}
