#include "settings/MirdexSettings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/AppState.h"
#include "platform/CpuLevel.h"
#include "platform/Format.h"
#include "platform/Profile.h"

MirdexSettings mirdexSettings;

namespace {

// Defaults need addresses that outlive the descriptors.
const int kNo = 0, kYes = 1;
const int32_t kZero = 0;
const uint32_t kU0 = 0, kU1 = 1, kU2 = 2, kU3 = 3, kU4 = 4, kU6 = 6, kU8 = 8, kU15 = 15, kU19 = 19, kU40 = 40,
               kU64 = 64, kU100 = 100, kU150 = 150, kU300 = 300, kU500 = 500;
const double kOne = 1.0;
const char kDefaultRate[] = "30000/1001";
const char kEmpty[] = "";

Setting Make(const char* section, std::string key, uint32_t flags, const void* def, void* value) {
  Setting s;
  s.section = section;
  s.key = std::move(key);
  s.flags = flags;
  s.pDefault = def;
  s.pValue = value;
  return s;
}
Setting Bool(const char* section, const char* key, int* value, const int* def = &kNo) {
  return Make(section, key, kSetBool, def, value);
}
Setting U32(const char* section, std::string key, uint32_t* value, const uint32_t* def) {
  return Make(section, std::move(key), kSet32, def, value);
}
static_assert(sizeof(int) == sizeof(int32_t));
Setting S32(const char* section, const char* key, int32_t* value, const int32_t* def = &kZero) {
  return Make(section, key, kSet32 | kSetSigned, def, value);
}
Setting Text(const char* section, std::string key, char* buf, uint32_t capacity, const char* def) {
  return Make(section, std::move(key), kSetText | capacity, def, buf);
}

void AddComposit(std::vector<Setting>& t, MirdexSettings& s) {
  static const uint32_t* const thresholdDefaults[4] = {&kU15, &kU500, &kU150, &kU0};
  static const uint32_t* const merginDefaults[3] = {&kU40, &kU4, &kU4};
  for (int i = 0; i < 4; ++i)
    t.push_back(U32("Composit", Fmt("Threshold%d", i + 1), &s.compositThreshold[i], thresholdDefaults[i]));
  for (int i = 0; i < 3; ++i)
    t.push_back(U32("Composit", Fmt("LineMergin%d", i + 1), &s.compositLineMergin[i], merginDefaults[i]));
  t.push_back(U32("Composit", "Divide", &s.compositDivide, &kU1));
  t.push_back(U32("Composit", "Bright", &s.compositBright, &kU2));
}

void AddCompare(std::vector<Setting>& t, MirdexSettings& s) {
  t.push_back(U32("Compare", "NextFrame", &s.compareNextFrame, &kU64));
  t.push_back(U32("Compare", "Threshold", &s.compareThreshold, &kU300));
  t.push_back(U32("Compare", "DropCount", &s.compareDropCount, &kU1));
  t.push_back(U32("Compare", "LineMergin", &s.compareLineMergin, &kU40));
}

void AddAverage(std::vector<Setting>& t, MirdexSettings& s) {
  t.push_back(U32("Average", "Count", &s.averageCount, &kU19));
  t.push_back(U32("Average", "Limit", &s.averageLimit, &kU3));
  t.push_back(U32("Average", "SumLimit", &s.averageSumLimit, &kU6));
  t.push_back(Bool("Average", "EnableLimit", &s.averageEnableLimit, &kYes));
  t.push_back(Bool("Average", "EnableSumLimit", &s.averageEnableSumLimit, &kYes));
}

void AddRecentFiles(std::vector<Setting>& t, MirdexSettings& s) {
  for (int i = 0; i < kRecentFileCount; ++i)
    t.push_back(Text("AviFiles", Fmt("File%d", i), s.recentFiles[i], kRecentFileCapacity, kEmpty));
}

}  // namespace

std::vector<Setting> MirdexReadTable(MirdexSettings& s) {
  std::vector<Setting> t;
  if (ME.fHasMMX) t.push_back(Bool("Setting", "UseMMX", &ME.fUseMMX, &ME.fHasMMX));
  if (ME.fHasSSE) t.push_back(Bool("Setting", "UseSSE", &ME.fUseSSE, &ME.fHasSSE));
  t.push_back(Bool("Setting", "LogFile", &s.logFile));
  t.push_back(Text("Setting", "FrameRate", s.frameRate, sizeof s.frameRate, kDefaultRate));
  t.push_back(Text("Setting", "FrameRateList", s.frameRateList, sizeof s.frameRateList, kDefaultRate));
  t.push_back(S32("Setting", "PriorityFore", &ME.nPriorityFore));
  t.push_back(S32("Setting", "PriorityBack", &ME.nPriorityBack));
  t.push_back(U32("Setting", "PlaySync", &s.playSync, &kU0));
  t.push_back(S32("Setting", "WaveDelay", &s.waveDelay));
  t.push_back(Bool("Setting", "MixField", &s.mixField));
  t.push_back(Bool("Setting", "FitWindow", &s.fitWindow));
  t.push_back(Bool("Setting", "ShowStatus", &s.showStatus));
  t.push_back(Bool("Setting", "ShowWave", &s.showWave));
  t.push_back(Bool("Setting", "NotShow", &s.notShow));
  t.push_back(Bool("Setting", "BlinkUndo", &s.blinkUndo));
  t.push_back(U32("Setting", "Brightness", &s.brightness, &kU100));
  t.push_back(U32("Setting", "PreviewDelay", &s.previewDelay, &kU100));
  t.push_back(Bool("Setting", "FieldOrderOddToEven", &s.fieldOrderOddToEven));
  t.push_back(Bool("Setting", "DeleteRange", &s.deleteRange));
  t.push_back(U32("Setting", "EraseSize", &s.eraseSize, &kU2));
  t.push_back(U32("Setting", "EraseShape", &s.eraseShape, &kU0));
  t.push_back(U32("Setting", "NearColor", &s.nearColor, &kU8));
  t.push_back(S32("Window", "PosLeft", &s.posLeft));
  t.push_back(S32("Window", "PosTop", &s.posTop));
  t.push_back(S32("Window", "PosRight", &s.posRight));
  t.push_back(S32("Window", "PosBottom", &s.posBottom));
  t.push_back(Bool("Window", "Maximize", &s.maximize));
  t.push_back(Bool("Window", "BringTop", &s.bringTop));
  AddComposit(t, s);
  AddCompare(t, s);
  AddAverage(t, s);
  t.push_back(U32("Adjust", "WaveLimit", &s.waveLimit, &kU100));
  t.push_back(Make("Adjust", "WaveLevel", kSetDouble, &kOne, &s.waveLevel));
  t.push_back(S32("Adjust", "WaveOffsetLch", &s.waveOffsetLch));
  t.push_back(S32("Adjust", "WaveOffsetRch", &s.waveOffsetRch));
  t.push_back(Text("Adjust", "ShakeList", s.shakeList, sizeof s.shakeList, kEmpty));
  AddRecentFiles(t, s);
  return t;
}

std::vector<Setting> MirdexWriteTable(MirdexSettings& s, WindowPlacement& placement) {
  std::vector<Setting> t;
  t.push_back(Bool("Window", "Maximize", &placement.maximized));
  // A maximised or minimised window would store a rectangle nobody wants back.
  if (!placement.maximized && !placement.minimized) {
    t.push_back(S32("Window", "PosLeft", &placement.left));
    t.push_back(S32("Window", "PosTop", &placement.top));
    t.push_back(S32("Window", "PosRight", &placement.right));
    t.push_back(S32("Window", "PosBottom", &placement.bottom));
  }
  t.push_back(Bool("Window", "BringTop", &s.bringTop));
  t.push_back(Bool("Setting", "MixField", &s.mixField));
  t.push_back(Bool("Setting", "FitWindow", &s.fitWindow));
  t.push_back(Bool("Setting", "ShowStatus", &s.showStatus));
  t.push_back(Bool("Setting", "ShowWave", &s.showWave));
  t.push_back(Bool("Setting", "LogFile", &s.logFile));
  t.push_back(Bool("Setting", "NotShow", &s.notShow));
  t.push_back(Bool("Setting", "BlinkUndo", &s.blinkUndo));
  if (ME.fHasMMX) t.push_back(Bool("Setting", "UseMMX", &ME.fUseMMX, &ME.fHasMMX));
  if (ME.fHasSSE) t.push_back(Bool("Setting", "UseSSE", &ME.fUseSSE, &ME.fHasSSE));
  t.push_back(S32("Setting", "PriorityFore", &ME.nPriorityFore));
  t.push_back(S32("Setting", "PriorityBack", &ME.nPriorityBack));
  t.push_back(Text("Setting", "FrameRateList", s.frameRateList, sizeof s.frameRateList, kDefaultRate));
  t.push_back(Text("Setting", "FrameRate", s.frameRate, sizeof s.frameRate, kDefaultRate));
  t.push_back(U32("Setting", "PlaySync", &s.playSync, &kU0));
  t.push_back(S32("Setting", "WaveDelay", &s.waveDelay));
  t.push_back(U32("Adjust", "WaveLimit", &s.waveLimit, &kU100));
  t.push_back(Make("Adjust", "WaveLevel", kSetDouble, &kOne, &s.waveLevel));
  t.push_back(S32("Adjust", "WaveOffsetLch", &s.waveOffsetLch));
  t.push_back(S32("Adjust", "WaveOffsetRch", &s.waveOffsetRch));
  t.push_back(U32("Setting", "Brightness", &s.brightness, &kU100));
  AddComposit(t, s);
  AddCompare(t, s);
  AddAverage(t, s);
  t.push_back(Bool("Setting", "FieldOrderOddToEven", &s.fieldOrderOddToEven));
  t.push_back(Bool("Setting", "DeleteRange", &s.deleteRange));
  AddRecentFiles(t, s);
  return t;
}

void ReadMirdexSettings(MirdexSettings& s) {
  static const MirdexSettings defaults;
  s = defaults;
  ME.fUseMMX = ME.fHasMMX;
  ME.fUseSSE = ME.fHasSSE;
  for (const Setting& d : MirdexReadTable(s)) Read(d);
  ApplyUseSseSetting();
}

bool WriteMirdexSettings(MirdexSettings& s, const WindowPlacement& placement) {
  WindowPlacement p = placement;
  BeginProfileBatch();
  bool ok = true;
  for (const Setting& d : MirdexWriteTable(s, p)) ok = Write(d) && ok;
  return EndProfileBatch() && ok;
}

void ReadRecentFiles(MirdexSettings& s) {
  std::vector<Setting> t;
  AddRecentFiles(t, s);
  for (const Setting& d : t) Read(d);
}

void AddRecentFile(MirdexSettings& s, const std::string& path) {
  if (path.empty()) return;
  std::string name = CutUtf8(path, kRecentFileCapacity - 1);
  int found = kRecentFileCount - 1;  // not in the list: the last entry drops out
  for (int i = 0; i < kRecentFileCount; ++i) {
    if (name == s.recentFiles[i]) {
      found = i;
      break;
    }
  }
  for (int i = found; i > 0; --i) std::memcpy(s.recentFiles[i], s.recentFiles[i - 1], kRecentFileCapacity);
  std::memcpy(s.recentFiles[0], name.c_str(), name.size() + 1);
}

RestoredRect RestoreWindowRect(const MirdexSettings& s, int currentWidth, int currentHeight) {
  RestoredRect r{s.posLeft, s.posTop, currentWidth, currentHeight};
  if (s.posRight > s.posLeft && s.posBottom > s.posTop) {
    r.width = s.posRight - s.posLeft;
    r.height = s.posBottom - s.posTop;
  }
  return r;
}

namespace {
std::vector<Setting> PerFileTable(const std::string& path, PerFileSettings& p) {
  static const int32_t kMinusOne = -1;
  std::vector<Setting> t;
  t.push_back(Make("", "FrameNo", kSet32, &kU0, &p.frameNo));
  t.push_back(Make("", "FrameZero", kSet32 | kSetSigned, &kZero, &p.frameZero));
  t.push_back(Make("", "RangeStart", kSet32 | kSetSigned, &kMinusOne, &p.rangeStart));
  t.push_back(Make("", "RangeEnd", kSet32 | kSetSigned, &kMinusOne, &p.rangeEnd));
  for (Setting& s : t) s.section = path;
  return t;
}
}  // namespace

void ReadPerFileSettings(const std::string& aviPath, PerFileSettings* p) {
  for (const Setting& s : PerFileTable(aviPath, *p)) Read(s);
}

bool WritePerFileSettings(const std::string& aviPath, const PerFileSettings& p) {
  PerFileSettings copy = p;
  BeginProfileBatch();
  bool ok = true;
  for (const Setting& s : PerFileTable(aviPath, copy)) ok = Write(s) && ok;
  return EndProfileBatch() && ok;
}
