#include "platform/Profile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include "TestSupport.h"
#include "platform/Paths.h"

TEST(Profile, LookupIgnoresCaseTrimsBlanksAndQuotes) {
  ScratchDir dir;
  std::string f = dir.File("a.ini");
  WriteFileBytes(f, "[Setting]\r\n  LogFile  =  Yes  \r\nName=\"quoted value\"\r\n[Other]\r\nLogFile=No\r\n");
  EXPECT_EQ(GetProfileText("setting", "LOGFILE", "", f), "Yes");
  EXPECT_EQ(GetProfileText("SETTING", "name", "", f), "quoted value");
  EXPECT_EQ(GetProfileText("other", "logfile", "", f), "No");
  EXPECT_EQ(GetProfileText("Setting", "Missing", "  def  ", f), "def");
  EXPECT_EQ(GetProfileText("Nowhere", "LogFile", "x", f), "x");
  EXPECT_EQ(GetProfileText("Setting", "LogFile", "x", dir.File("missing.ini")), "x");
}

TEST(Profile, ValueIsCutToCapacity) {
  ScratchDir dir;
  std::string f = dir.File("a.ini");
  WriteFileBytes(f, "[S]\nK=abcdefgh\nJ=\xE3\x81\x82\xE3\x81\x84\n");
  char buf[5];
  EXPECT_EQ(GetProfileText("S", "K", "", buf, sizeof buf, f), 4u);
  EXPECT_STREQ(buf, "abcd");
  // A cut never leaves half of a multi-byte character behind.
  EXPECT_EQ(GetProfileText("S", "J", "", buf, sizeof buf, f), 3u);
  EXPECT_STREQ(buf, "\xE3\x81\x82");
  EXPECT_EQ(GetProfileText("S", "K", "", buf, 0, f), 0u);
}

TEST(Profile, WriteReplacesAddsAndRemoves) {
  ScratchDir dir;
  std::string f = dir.File("a.ini");
  ASSERT_TRUE(WriteProfileText("Setting", "A", "1", f));
  ASSERT_TRUE(WriteProfileText("Setting", "B", "2", f));
  ASSERT_TRUE(WriteProfileText("setting", "a", "3", f));  // same key, other case: replaced in place
  ASSERT_TRUE(WriteProfileText("/home/x/y.avi", "FrameNo", "7", f));
  EXPECT_EQ(ReadFileBytes(f), "[Setting]\r\na=3\r\nB=2\r\n[/home/x/y.avi]\r\nFrameNo=7\r\n");
  ASSERT_TRUE(WriteProfileText("Setting", "B", nullptr, f));
  ASSERT_TRUE(WriteProfileText("/home/x/y.avi", nullptr, nullptr, f));
  EXPECT_EQ(ReadFileBytes(f), "[Setting]\r\na=3\r\n");
  EXPECT_EQ(GetProfileSections(f), std::vector<std::string>{"Setting"});
}

TEST(Profile, AnyTextReadsBackAsWrittenAndInjectsNothing) {
  ScratchDir dir;
  std::string f = dir.File("a.ini");
  // Names and values a Linux path can carry, and what the line format trims or strips.
  const std::string section = "/v/a]b\n[Setting]\nLogFile=Yes\n";
  const std::vector<std::string> values = {"/v/x]\r\n[Setting]\r\nLogFile=Yes",
                                           " \tblanks\t ",
                                           "\"quoted\"",
                                           "'q'",
                                           "back\\slash\\n\\x41\\",
                                           "plain /v/a b.avi"};
  for (size_t i = 0; i < values.size(); ++i)
    ASSERT_TRUE(WriteProfileText(section, ("K" + std::to_string(i)).c_str(), values[i].c_str(), f));
  ASSERT_TRUE(WriteProfileText("Setting", "[;=key", "v", f));
  ForgetProfileCache();
  for (size_t i = 0; i < values.size(); ++i)
    EXPECT_EQ(GetProfileText(section, "K" + std::to_string(i), "", f), values[i]) << i;
  EXPECT_EQ(GetProfileText("Setting", "[;=key", "", f), "v");
  EXPECT_EQ(GetProfileText("Setting", "LogFile", "none", f), "none");
  EXPECT_EQ(GetProfileSections(f), (std::vector<std::string>{section, "Setting"}));
  EXPECT_NE(ReadFileBytes(f).find("\r\nK5=plain /v/a b.avi\r\n"), std::string::npos);
}

TEST(Profile, ChangesMadeBehindTheCacheAreSeen) {
  ScratchDir dir;
  std::string f = dir.File("a.ini");
  ASSERT_TRUE(WriteProfileText("S", "K", "1", f));
  EXPECT_EQ(GetProfileText("S", "K", "", f), "1");
  WriteFileBytes(f, "[S]\nK=22\n");
  EXPECT_EQ(GetProfileText("S", "K", "", f), "22");
}

TEST(Profile, UnreadableFileIsNeverReplaced) {
  if (geteuid() == 0) {
    // root reads every file; simulate an unreadable one with a directory of that name.
    ScratchDir dir;
    std::string f = dir.File("a.ini");
    mkdir(f.c_str(), 0755);
    WriteFileBytes(f + "/x", "keep");
    EXPECT_EQ(GetProfileText("S", "K", "def", f), "def");
    EXPECT_FALSE(WriteProfileText("S", "K", "v", f));
    EXPECT_EQ(ReadFileBytes(f + "/x"), "keep");
    return;
  }
  ScratchDir dir;
  std::string f = dir.File("a.ini");
  WriteFileBytes(f, "[S]\nK=old\nOther=1\n");
  chmod(f.c_str(), 0200);
  ForgetProfileCache();
  EXPECT_EQ(GetProfileText("S", "K", "def", f), "def");
  EXPECT_FALSE(WriteProfileText("S", "K", "new", f));
  chmod(f.c_str(), 0644);
  EXPECT_EQ(ReadFileBytes(f), "[S]\nK=old\nOther=1\n");
}

TEST(Profile, FailedWriteLeavesTheOldFile) {
  ScratchDir dir;
  std::string f = dir.File("a.ini");
  ASSERT_TRUE(WriteProfileText("S", "K", "old", f));
  // A file-size limit makes every write past 32 bytes fail, as a full disk would.
  struct rlimit old;
  getrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = {32, old.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool wrote = WriteProfileText("S", "K", std::string(100, 'n').c_str(), f);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, SIG_DFL);
  EXPECT_FALSE(wrote);
  ForgetProfileCache();
  EXPECT_EQ(GetProfileText("S", "K", "", f), "old");
  EXPECT_EQ(GetProfileSections(dir.path() + "a.ini").size(), 1u);
}

TEST(Profile, BatchWritesOnceAtTheEnd) {
  ScratchDir dir;
  std::string f = dir.File("a.ini");
  BeginProfileBatch();
  ASSERT_TRUE(WriteProfileText("S", "A", "1", f));
  ASSERT_TRUE(WriteProfileText("S", "B", "2", f));
  EXPECT_EQ(GetProfileText("S", "A", "", f), "1");  // visible to reads at once
  EXPECT_FALSE(FileExists(f));
  ASSERT_TRUE(EndProfileBatch());
  EXPECT_EQ(ReadFileBytes(f), "[S]\r\nA=1\r\nB=2\r\n");
}
