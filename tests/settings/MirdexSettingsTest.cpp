#include "settings/MirdexSettings.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "TestSupport.h"
#include "platform/AppState.h"
#include "platform/CpuLevel.h"
#include "platform/Paths.h"
#include "platform/Profile.h"

namespace {

// Keys of one section in file order.
std::vector<std::string> KeysOf(const std::string& file, const std::string& section) {
  std::istringstream in(ReadFileBytes(file));
  std::vector<std::string> keys;
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inside = line == "[" + section + "]";
    } else if (inside && line.find('=') != std::string::npos) {
      keys.push_back(line.substr(0, line.find('=')));
    }
  }
  return keys;
}

std::string Value(const char* section, const char* key) {
  return GetProfileText(section, key, "<missing>", SettingsPath());
}

struct CpuGuard {
  AppState saved = ME;
  VectorLevel cap = CpuLevelCap();
  ~CpuGuard() {
    ME = saved;
    SetCpuLevelCap(cap);
  }
};

}  // namespace

TEST(MirdexSettings, MissingFileGivesEveryDefault) {
  ScratchDir dir;
  CpuGuard guard;
  ME.fHasMMX = ME.fHasSSE = 1;
  auto s = std::make_unique<MirdexSettings>();
  s->brightness = 7;  // the read starts from the defaults, not from what was there
  s->recentFiles[3][0] = 'x';
  ReadMirdexSettings(*s);
  EXPECT_EQ(ME.fUseMMX, 1);
  EXPECT_EQ(ME.fUseSSE, 1);
  EXPECT_STREQ(s->frameRate, "30000/1001");
  EXPECT_STREQ(s->frameRateList, "30000/1001");
  EXPECT_EQ(s->logFile, 0);
  EXPECT_EQ(ME.nPriorityFore, 0);
  EXPECT_EQ(s->brightness, 100u);
  EXPECT_EQ(s->previewDelay, 100u);
  EXPECT_EQ(s->eraseSize, 2u);
  EXPECT_EQ(s->eraseShape, 0u);
  EXPECT_EQ(s->nearColor, 8u);
  EXPECT_EQ(s->posRight, 0);
  const uint32_t composit[] = {15, 500, 150, 0, 40, 4, 4, 1, 2};
  const uint32_t got[] = {s->compositThreshold[0],  s->compositThreshold[1],  s->compositThreshold[2],
                          s->compositThreshold[3],  s->compositLineMergin[0], s->compositLineMergin[1],
                          s->compositLineMergin[2], s->compositDivide,        s->compositBright};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(got[i], composit[i]) << i;
  EXPECT_EQ(s->compareNextFrame, 64u);
  EXPECT_EQ(s->compareThreshold, 300u);
  EXPECT_EQ(s->compareDropCount, 1u);
  EXPECT_EQ(s->compareLineMergin, 40u);
  EXPECT_EQ(s->averageCount, 19u);
  EXPECT_EQ(s->averageLimit, 3u);
  EXPECT_EQ(s->averageSumLimit, 6u);
  EXPECT_EQ(s->averageEnableLimit, 1);
  EXPECT_EQ(s->averageEnableSumLimit, 1);
  EXPECT_EQ(s->waveLimit, 100u);
  EXPECT_EQ(s->waveLevel, 1.0);
  for (auto& f : s->recentFiles) EXPECT_STREQ(f, "");
}

// "UseSSE" off keeps every kernel on its plain variant; on again lifts that.
TEST(MirdexSettings, UseSseDecidesTheVectorLevel) {
  ScratchDir dir;
  CpuGuard guard;
  ME.fHasSSE = 1;
  ASSERT_TRUE(WriteProfileText("Setting", "UseSSE", "No", SettingsPath()));
  auto s = std::make_unique<MirdexSettings>();
  ReadMirdexSettings(*s);
  EXPECT_EQ(ME.fUseSSE, 0);
  EXPECT_EQ(CpuLevel(), VectorLevel::Plain);
  ASSERT_TRUE(WriteProfileText("Setting", "UseSSE", "Yes", SettingsPath()));
  ReadMirdexSettings(*s);
  EXPECT_EQ(CpuLevel(), DetectedCpuLevel());
}

TEST(MirdexSettings, CloseWritesEveryKeyInOrderAndInItsTextForm) {
  ScratchDir dir;
  CpuGuard guard;
  ME.fHasMMX = 1;
  ME.fHasSSE = 0;
  ME.fUseMMX = 0;
  ME.nPriorityFore = -3;
  ME.nPriorityBack = 6;
  auto s = std::make_unique<MirdexSettings>();
  s->waveLevel = 1.5;
  s->waveOffsetLch = -12;
  s->averageEnableLimit = 0;
  std::snprintf(s->recentFiles[0], kRecentFileCapacity, "/v/a.avi");
  WindowPlacement p{0, 0, 10, 20, 650, 500};
  ASSERT_TRUE(WriteMirdexSettings(*s, p));
  const std::string file = SettingsPath();

  EXPECT_EQ(KeysOf(file, "Window"),
            (std::vector<std::string>{"Maximize", "PosLeft", "PosTop", "PosRight", "PosBottom", "BringTop"}));
  // SSE is absent, so UseSSE is neither read nor written; PreviewDelay and the
  // eraser keys belong to whoever changes them.
  EXPECT_EQ(KeysOf(file, "Setting"),
            (std::vector<std::string>{"MixField", "FitWindow", "ShowStatus", "ShowWave", "LogFile", "NotShow",
                                      "BlinkUndo", "UseMMX", "PriorityFore", "PriorityBack", "FrameRateList",
                                      "FrameRate", "PlaySync", "WaveDelay", "Brightness",
                                      "FieldOrderOddToEven", "DeleteRange"}));
  EXPECT_EQ(KeysOf(file, "Adjust"),
            (std::vector<std::string>{"WaveLimit", "WaveLevel", "WaveOffsetLch", "WaveOffsetRch"}));
  EXPECT_EQ(KeysOf(file, "Composit"),
            (std::vector<std::string>{"Threshold1", "Threshold2", "Threshold3", "Threshold4", "LineMergin1",
                                      "LineMergin2", "LineMergin3", "Divide", "Bright"}));
  EXPECT_EQ(KeysOf(file, "Compare"),
            (std::vector<std::string>{"NextFrame", "Threshold", "DropCount", "LineMergin"}));
  EXPECT_EQ(KeysOf(file, "Average"),
            (std::vector<std::string>{"Count", "Limit", "SumLimit", "EnableLimit", "EnableSumLimit"}));
  EXPECT_EQ(KeysOf(file, "AviFiles").size(), 10u);

  EXPECT_EQ(Value("Window", "Maximize"), "No");
  EXPECT_EQ(Value("Window", "PosRight"), "650");
  EXPECT_EQ(Value("Setting", "UseMMX"), "No");
  EXPECT_EQ(Value("Setting", "PriorityFore"), "-3");
  EXPECT_EQ(Value("Setting", "FrameRate"), "30000/1001");
  EXPECT_EQ(Value("Adjust", "WaveLevel"), "1.500000");
  EXPECT_EQ(Value("Adjust", "WaveOffsetLch"), "-12");
  EXPECT_EQ(Value("Average", "EnableLimit"), "No");
  EXPECT_EQ(Value("AviFiles", "File0"), "/v/a.avi");
  EXPECT_EQ(Value("AviFiles", "File9"), "");

  // What was written comes back.
  ME.nPriorityFore = ME.nPriorityBack = 0;
  ME.fUseMMX = 1;
  auto back = std::make_unique<MirdexSettings>();
  ReadMirdexSettings(*back);
  EXPECT_EQ(ME.nPriorityFore, -3);
  EXPECT_EQ(ME.nPriorityBack, 6);
  EXPECT_EQ(ME.fUseMMX, 0);
  EXPECT_EQ(back->waveLevel, 1.5);
  EXPECT_EQ(back->waveOffsetLch, -12);
  EXPECT_EQ(back->averageEnableLimit, 0);
  EXPECT_EQ(back->posLeft, 10);
  EXPECT_EQ(back->posBottom, 500);
  EXPECT_STREQ(back->recentFiles[0], "/v/a.avi");
}

TEST(MirdexSettings, MaximisedOrMinimisedWindowKeepsTheStoredRectangle) {
  ScratchDir dir;
  auto s = std::make_unique<MirdexSettings>();
  ASSERT_TRUE(WriteMirdexSettings(*s, WindowPlacement{0, 0, 1, 2, 300, 400}));
  ASSERT_TRUE(WriteMirdexSettings(*s, WindowPlacement{1, 0, 0, 0, 5000, 5000}));
  EXPECT_EQ(Value("Window", "Maximize"), "Yes");
  EXPECT_EQ(Value("Window", "PosRight"), "300");
  ASSERT_TRUE(WriteMirdexSettings(*s, WindowPlacement{0, 1, 0, 0, 5000, 5000}));
  EXPECT_EQ(Value("Window", "Maximize"), "No");
  EXPECT_EQ(Value("Window", "PosBottom"), "400");
}

TEST(MirdexSettings, DefaultYesBooleansOfTheFileFollowTheNoRule) {
  ScratchDir dir;
  WriteFileBytes(SettingsPath(),
                 "[Average]\r\nEnableLimit=0\r\nEnableSumLimit=no\r\n[Setting]\r\nLogFile=yes\r\n"
                 "MixField=1\r\nBrightness=\r\nPriorityFore=-9\r\n");
  ForgetProfileCache();
  CpuGuard guard;
  auto s = std::make_unique<MirdexSettings>();
  ReadMirdexSettings(*s);
  EXPECT_EQ(s->averageEnableLimit, 1);
  EXPECT_EQ(s->averageEnableSumLimit, 0);
  EXPECT_EQ(s->logFile, 1);
  EXPECT_EQ(s->mixField, 0);
  EXPECT_EQ(s->brightness, 100u);   // an empty value is the default
  EXPECT_EQ(ME.nPriorityFore, -9);  // kept as read; applying it changes nothing
}

TEST(MirdexSettings, WindowRectangleRestoresSizeOnlyWhenItIsAProperRectangle) {
  MirdexSettings* s = new MirdexSettings;
  s->posLeft = 100;
  s->posTop = 50;
  s->posRight = 740;
  s->posBottom = 530;
  RestoredRect r = RestoreWindowRect(*s, 300, 200);
  EXPECT_EQ(r.left, 100);
  EXPECT_EQ(r.top, 50);
  EXPECT_EQ(r.width, 640);
  EXPECT_EQ(r.height, 480);
  s->posRight = 100;  // right == left
  r = RestoreWindowRect(*s, 300, 200);
  EXPECT_EQ(r.left, 100);
  EXPECT_EQ(r.top, 50);
  EXPECT_EQ(r.width, 300);
  EXPECT_EQ(r.height, 200);
  s->posRight = 900;
  s->posBottom = 10;  // bottom above top
  r = RestoreWindowRect(*s, 300, 200);
  EXPECT_EQ(r.width, 300);
  EXPECT_EQ(r.height, 200);
  delete s;
}

TEST(MirdexSettings, RecentFilesKeepTenMostRecentFirst) {
  auto s = std::make_unique<MirdexSettings>();
  for (int i = 0; i < 11; ++i) AddRecentFile(*s, "/v/" + std::to_string(i) + ".avi");
  EXPECT_STREQ(s->recentFiles[0], "/v/10.avi");
  EXPECT_STREQ(s->recentFiles[9], "/v/1.avi");  // /v/0.avi dropped out
  AddRecentFile(*s, "/v/5.avi");                // an existing entry moves up
  EXPECT_STREQ(s->recentFiles[0], "/v/5.avi");
  EXPECT_STREQ(s->recentFiles[1], "/v/10.avi");
  EXPECT_STREQ(s->recentFiles[5], "/v/6.avi");
  EXPECT_STREQ(s->recentFiles[6], "/v/4.avi");
  EXPECT_STREQ(s->recentFiles[9], "/v/1.avi");
  AddRecentFile(*s, std::string(1000, 'a'));  // deep folders of long names: kept whole
  EXPECT_EQ(std::string(s->recentFiles[0]).size(), 1000u);
}

TEST(MirdexSettings, PerFileKeysLiveInTheFilesSection) {
  ScratchDir dir;
  PerFileSettings p;
  ReadPerFileSettings("/v/a.avi", &p);
  EXPECT_EQ(p.rangeStart, -1);
  EXPECT_EQ(p.rangeEnd, -1);
  EXPECT_EQ(p.frameNo, 0u);
  p.frameNo = 1234;
  p.frameZero = -5;
  p.rangeStart = 10;
  ASSERT_TRUE(WritePerFileSettings("/v/a.avi", p));
  EXPECT_EQ(GetProfileText("/v/a.avi", "FrameZero", "", SettingsPath()), "-5");
  PerFileSettings q;
  ReadPerFileSettings("/v/a.avi", &q);
  EXPECT_EQ(q.frameNo, 1234u);
  EXPECT_EQ(q.frameZero, -5);
  EXPECT_EQ(q.rangeStart, 10);
  EXPECT_EQ(q.rangeEnd, -1);
}
