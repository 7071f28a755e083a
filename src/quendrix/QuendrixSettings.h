// Quendrix's persistent options: read once at start, written at close, in
// "Quendrix.ini" (the settings folder of the program).
#pragma once
#include <cstdint>
#include <vector>

#include "settings/Settings.h"

struct QuendrixSettings {
  uint32_t range = 10000;
  uint32_t dispose = 1;
  uint32_t extend = 0;
  uint32_t keepSize = 0;
  int32_t left = 0;
  uint32_t top = 0;
};

// Makes this copy of the shared code Quendrix's: its caption and its settings
// file (Quendrix.ini by the settings-folder rule of QUENDRIX_HOME). The
// program and its window library each hold a copy, so both call it first.
void UseQuendrixFiles();

// Descriptors of every setting, pointing into `values`.
std::vector<Setting> QuendrixSettingTable(QuendrixSettings* values);
void ReadQuendrixSettings(QuendrixSettings* values);
bool WriteQuendrixSettings(QuendrixSettings* values);
