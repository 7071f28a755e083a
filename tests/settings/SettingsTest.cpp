#include "settings/Settings.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "platform/Paths.h"
#include "platform/Profile.h"

namespace {
Setting Make(const char* key, uint32_t flags, const void* def, void* value) {
  Setting s;
  s.section = "Setting";
  s.key = key;
  s.flags = flags;
  s.pDefault = def;
  s.pValue = value;
  return s;
}
}  // namespace

TEST(Settings, EveryTypeRoundTripsInItsTextForm) {
  ScratchDir dir;
  struct Case {
    uint32_t flags;
    uint32_t value;
    const char* text;
  };
  const Case cases[] = {
      {kSet32, 4000000000u, "4000000000"}, {kSet32 | kSetSigned, static_cast<uint32_t>(-5), "-5"},
      {kSet16 | kSetSigned, 0xFFFE, "-2"}, {kSet8 | kSetSigned, 0x80, "-128"},
      {kSet16, 0xFFFE, "65534"},           {kSet8, 200, "200"},
      {kSet32 | kSetHex, 0xAB, "AB"},      {kSet8 | kSetHex, 0x0A, "0A"},
      {kSet16 | kSetHex, 0x00AB, "00AB"},  {kSetHex, 0xAB, "000000AB"},
  };
  for (const Case& c : cases) {
    uint32_t v32 = c.value;
    uint16_t v16 = static_cast<uint16_t>(c.value);
    uint8_t v8 = static_cast<uint8_t>(c.value);
    void* p = (c.flags & kSet8)    ? static_cast<void*>(&v8)
              : (c.flags & kSet16) ? static_cast<void*>(&v16)
                                   : &v32;
    Setting s = Make("K", c.flags, nullptr, p);
    ASSERT_TRUE(Write(s));
    EXPECT_EQ(GetProfileText("Setting", "K", "", SettingsPath()), c.text) << c.text;
    v32 = 0;
    v16 = 0;
    v8 = 0;
    EXPECT_EQ(Read(s), c.value) << c.text;
    uint32_t back = (c.flags & kSet8) ? v8 : (c.flags & kSet16) ? v16 : v32;
    EXPECT_EQ(back, c.value) << c.text;
  }
  double d = 1.25, d2 = 0;
  ASSERT_TRUE(Write(Make("D", kSetDouble, nullptr, &d)));
  EXPECT_EQ(GetProfileText("Setting", "D", "", SettingsPath()), "1.250000");
  Read(Make("D", kSetDouble, nullptr, &d2));
  EXPECT_EQ(d2, 1.25);
  char text[32] = "30000/1001";
  ASSERT_TRUE(Write(Make("T", kSetText | 32, nullptr, text)));
  char back[32] = "";
  EXPECT_EQ(Read(Make("T", kSetText | 32, nullptr, back)), 10u);
  EXPECT_STREQ(back, "30000/1001");
}

TEST(Settings, MissingKeysGiveTheDefaultOfTheirType) {
  ScratchDir dir;
  const uint32_t def32 = 100;
  const uint16_t def16 = 7;
  const double defD = 1.0;
  uint32_t v = 0;
  uint16_t v16 = 0;
  double d = 0;
  EXPECT_EQ(Read(Make("Brightness", kSet32, &def32, &v)), 100u);
  EXPECT_EQ(v, 100u);
  EXPECT_EQ(Read(Make("X", kSet16, &def16, &v16)), 7u);
  Read(Make("WaveLevel", kSetDouble, &defD, &d));
  EXPECT_EQ(d, 1.0);
  EXPECT_EQ(Read(Make("None", kSet32, nullptr, nullptr)), 0u);
  char buf[32];
  EXPECT_STREQ(ReadText(Make("FrameRate", 0, "30000/1001", nullptr), buf, 32), "30000/1001");
  EXPECT_EQ(ReadText(Make("FrameRate", 0, "30000/1001", nullptr), 6), "30000");
}

TEST(Settings, BooleanDefaultsDecideWhichTextsCount) {
  ScratchDir dir;
  const int yes = 1, no = 0;
  auto readWith = [&](const char* text, const int* def) {
    WriteProfileText("Setting", "B", text, SettingsPath());
    int v = -1;
    Read(Make("B", kSetBool, def, &v));
    return v;
  };
  EXPECT_EQ(readWith("No", &yes), 0);
  EXPECT_EQ(readWith("no", &yes), 0);
  EXPECT_EQ(readWith("0", &yes), 1);
  EXPECT_EQ(readWith("false", &yes), 1);
  EXPECT_EQ(readWith("Yes", &no), 1);
  EXPECT_EQ(readWith("yEs", &no), 1);
  EXPECT_EQ(readWith("1", &no), 0);
  EXPECT_EQ(readWith("1", nullptr), 0);
  WriteProfileText("Setting", "B", nullptr, SettingsPath());
  int v = -1;
  EXPECT_EQ(Read(Make("B", kSetBool, &yes, &v)), 1u);
  EXPECT_EQ(Read(Make("B", kSetBool, &no, &v)), 0u);
  ASSERT_TRUE(WriteValue(Make("B", kSetBool, nullptr, nullptr), 5));
  EXPECT_EQ(GetProfileText("Setting", "B", "", SettingsPath()), "Yes");
}

TEST(Settings, OwnFileNamesResolveInTheSettingsFolderUnlessAbsolute) {
  ScratchDir dir;
  Setting s = Make("FrameMark", kSetText | 100, nullptr, nullptr);
  s.fileName = "marks.mrk";
  EXPECT_EQ(SettingFile(s), dir.path() + "marks.mrk");
  s.fileName = "/elsewhere/x.mrk";
  EXPECT_EQ(SettingFile(s), "/elsewhere/x.mrk");
}

TEST(Settings, CaseInsensitiveSearch) {
  EXPECT_EQ(FindTextNoCase("Video.AVI", "avi"), 6);
  EXPECT_EQ(FindTextNoCase("abc", "x"), -1);
  EXPECT_EQ(FindTextNoCase("ABC", ""), 0);
}

TEST(SettingsTidy, DropsSectionsOfVanishedFilesAndSqueezesBlankLines) {
  ScratchDir dir;
  std::string kept = dir.File("kept.avi");
  WriteFileBytes(kept, "x");
  std::string gone = dir.File("gone.avi");
  std::string original = "[Setting]\r\nLogFile=Yes\r\n\r\n\r\n\r\n[" + gone + "]\r\nFrameNo=5\r\n\r\n[" +
                         kept + "]\r\nFrameNo=6\r\n\r\n[window]\r\nPosLeft=1\r\n[Unknown]\r\nA=1\r\n";
  WriteFileBytes(SettingsPath(), original);
  ASSERT_TRUE(TidySettings(kMirdexFixedSections));
  EXPECT_EQ(ReadFileBytes(SettingsPath()),
            "[Setting]\r\nLogFile=Yes\r\n\r\n[" + kept + "]\r\nFrameNo=6\r\n\r\n[window]\r\nPosLeft=1\r\n");
  EXPECT_EQ(ReadFileBytes(SettingsPath() + ".bak"), original);
  EXPECT_FALSE(FileExists(SettingsPath() + ".new"));
  // A second tidy replaces the old backup.
  ASSERT_TRUE(TidySettings(kMirdexFixedSections));
  EXPECT_NE(ReadFileBytes(SettingsPath() + ".bak"), original);
}

TEST(SettingsTidy, KeepsEscapedSectionsAndLongLinesWhole) {
  ScratchDir dir;
  std::string odd = dir.File("a]b\n[c.avi");  // legal on Linux, and it exists
  WriteFileBytes(odd, "x");
  // Past 32767 bytes the line goes on with what looks like a header.
  std::string longValue =
      std::string(32761, 'v') + "[" + dir.File("gone.avi") + "]\n" + std::string(8000, 'w');
  ASSERT_TRUE(WriteProfileText(odd, "Shake", longValue.c_str(), SettingsPath()));
  ASSERT_TRUE(WriteProfileText(odd, "FrameNo", "5", SettingsPath()));
  ASSERT_TRUE(TidySettings(kMirdexFixedSections));
  EXPECT_EQ(GetProfileSections(SettingsPath()), std::vector<std::string>{odd});
  EXPECT_EQ(GetProfileText(odd, "Shake", "", SettingsPath()), longValue);
  EXPECT_EQ(GetProfileText(odd, "FrameNo", "", SettingsPath()), "5");
}

TEST(SettingsTidy, NothingHappensWithoutAFile) {
  ScratchDir dir;
  EXPECT_FALSE(TidySettings(kMirdexFixedSections));
  EXPECT_FALSE(FileExists(SettingsPath()));
  EXPECT_FALSE(FileExists(SettingsPath() + ".new"));
}
