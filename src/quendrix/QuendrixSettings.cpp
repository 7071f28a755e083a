#include "quendrix/QuendrixSettings.h"

#include "platform/AppState.h"
#include "platform/Paths.h"

namespace {
const uint32_t kDefRange = 10000, kDefDispose = 1, kZero = 0;
const int32_t kDefLeft = 0;
}  // namespace

void UseQuendrixFiles() {
  ME.programName = "Quendrix";
  SetProgramFiles(kQuendrixFiles);
}

std::vector<Setting> QuendrixSettingTable(QuendrixSettings* v) {
  return {
      {"Setting", "Range", &kDefRange, &v->range, "", kSet32},
      {"Setting", "Dispose", &kDefDispose, &v->dispose, "", kSet32},
      {"Setting", "Extend", &kZero, &v->extend, "", kSet32},
      {"Setting", "KeepSize", &kZero, &v->keepSize, "", kSet32},
      {"Window", "Left", &kDefLeft, &v->left, "", kSet32 | kSetSigned},
      {"Window", "Top", &kZero, &v->top, "", kSet32},
  };
}

void ReadQuendrixSettings(QuendrixSettings* values) {
  for (const Setting& s : QuendrixSettingTable(values)) Read(s);
}

bool WriteQuendrixSettings(QuendrixSettings* values) {
  bool ok = true;
  for (const Setting& s : QuendrixSettingTable(values)) ok = Write(s) && ok;
  return ok;
}
