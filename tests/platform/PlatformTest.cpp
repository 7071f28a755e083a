#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>

#include "TestSupport.h"
#include "platform/AppState.h"
#include "platform/Messages.h"
#include "platform/Paths.h"
#include "platform/System.h"

TEST(TimeCode, NtscFramesRoundTheSecondBoundary) {
  const double r = 29.97;
  EXPECT_EQ(TimeCode(0, r), "00:00:00:00");
  EXPECT_EQ(TimeCode(30, r), "00:00:01:00");
  EXPECT_EQ(TimeCode(1798, r), "00:00:59:30");
  EXPECT_EQ(TimeCode(1799, r), "00:01:00:01");
  EXPECT_EQ(TimeCode(107892, r), "01:00:00:00");
  EXPECT_EQ(TimeCode(25 * 3661, 25.0), "01:01:01:00");
}

TEST(TimeStamp, HasTheTwoDigitFields) {
  EXPECT_TRUE(std::regex_match(TimeStamp(), std::regex(R"(\d\d-\d\d-\d\d \d\d:\d\d:\d\d)")));
}

TEST(Messages, BoxCarriesTheProgramCaptionAndIsSuppressedForUnattendedRuns) {
  ScratchDir dir;
  RecordingHost host;
  host.answers = {IDYES};
  EXPECT_EQ(Message(MB_YESNO | MB_ICONQUESTION, nullptr, "%sが開けません!", "a.avi"), IDYES);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "a.aviが開けません!");
  EXPECT_EQ(host.boxes[0].caption, "Mirdex");

  ME.nPowerOffAfter = 1;
  EXPECT_EQ(Message(MB_ICONSTOP, "x"), IDOK);  // log closed: the box is shown
  ASSERT_TRUE(OpenLog());
  EXPECT_EQ(Message(MB_ICONSTOP, "y"), 0);  // log open: no box, answer 0
  EXPECT_EQ(host.boxes.size(), 2u);
  CloseLog();
  ME.nPowerOffAfter = 0;
}

TEST(Messages, LongTextsAreCutAt1024Bytes) {
  RecordingHost host;
  std::string big(3000, 'a');
  Message(MB_OK, nullptr, "%s", big.c_str());
  EXPECT_EQ(host.boxes.at(0).text.size(), 1024u);
  Status(0, "%s", big.c_str());
  EXPECT_EQ(host.status[0].at(0).size(), 1024u);
}

TEST(Messages, LogAppendsAcrossOpenings) {
  ScratchDir dir;
  ASSERT_TRUE(OpenLog());
  Log("first %d\r\n", 1);
  CloseLog();
  Log("dropped while closed\r\n");
  ASSERT_TRUE(OpenLog());
  Log("second\r\n");
  CloseLog();
  EXPECT_EQ(ReadFileBytes(dir.File("Mirdex.log")), "first 1\r\nsecond\r\n");
}

TEST(Paths, SettingsFolderFollowsTheEnvironmentThenXdg) {
  ScratchDir dir;
  EXPECT_EQ(SettingsDir(), dir.path());
  EXPECT_EQ(SettingsPath(), dir.path() + "Mirdex.ini");
  unsetenv("MIRDEX_HOME");
  unsetenv("QUENDRIX_HOME");
  std::string oldXdg = getenv("XDG_CONFIG_HOME") ? getenv("XDG_CONFIG_HOME") : "";
  setenv("XDG_CONFIG_HOME", (dir.path() + "cfg").c_str(), 1);
  ResetPathCache();
  EXPECT_EQ(SettingsDir(), dir.path() + "cfg/mirdex/");
  EXPECT_TRUE(IsDirectory(dir.path() + "cfg/mirdex"));
  SetProgramFiles(kQuendrixFiles);
  EXPECT_EQ(SettingsPath(), dir.path() + "cfg/quendrix/Quendrix.ini");
  SetProgramFiles(kMirdexFiles);
  if (oldXdg.empty())
    unsetenv("XDG_CONFIG_HOME");
  else
    setenv("XDG_CONFIG_HOME", oldXdg.c_str(), 1);
}

TEST(Paths, NameParts) {
  EXPECT_EQ(FileNamePart("/a/b/c.avi"), "c.avi");
  EXPECT_EQ(DirectoryPart("/a/b/c.avi"), "/a/b/");
  EXPECT_EQ(ExtensionPart("/a.b/c"), "");
  EXPECT_EQ(ExtensionPart("/a/c.tar.WAV"), "WAV");
  std::string date;
  EXPECT_FALSE(ExeDir(&date).empty());
  EXPECT_TRUE(std::regex_match(date, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d)")));
}

// How a save tells an output name that leads to an opened file: through a
// link to its folder, also before the output exists.
TEST(Paths, ResolvedPathFollowsLinksAlsoForANewFile) {
  ScratchDir dir;
  ASSERT_TRUE(MakeDirectories(dir.File("real")));
  ASSERT_EQ(symlink(dir.File("real").c_str(), dir.File("link").c_str()), 0);
  const std::string real = ResolvedPath(dir.File("real"));
  ASSERT_FALSE(real.empty());
  EXPECT_EQ(ResolvedPath(dir.File("link/new.avi")), real + "/new.avi");
  ASSERT_TRUE(WriteFileBytes(dir.File("real/old.avi"), "x"));
  EXPECT_EQ(ResolvedPath(dir.File("link/./old.avi")), real + "/old.avi");
  EXPECT_TRUE(SameFile(dir.File("link/old.avi"), dir.File("real/old.avi")));
  EXPECT_EQ(ResolvedPath(dir.File("missing/new.avi")), "");
}

TEST(Priority, LevelsOutsideTheTableChangeNothing) {
  int p, t;
  EXPECT_FALSE(PriorityNiceValues(7, &p, &t));
  EXPECT_FALSE(PriorityNiceValues(-9, &p, &t));
  EXPECT_FALSE(SetPriorityLevel(7));
  ASSERT_TRUE(PriorityNiceValues(0, &p, &t));
  EXPECT_EQ(p, 0);
  EXPECT_EQ(t, 0);
  // Each step up never lowers the priority (a lower nice value is a higher priority).
  int prev = 100;
  for (int level = -8; level <= 6; ++level) {
    ASSERT_TRUE(PriorityNiceValues(level, &p, &t));
    EXPECT_LE(t, prev) << level;
    prev = t;
  }
}

TEST(Priority, BackgroundLevelCanBeLeftAgainWithoutPrivileges) {
  // As a user runs the program: a child without root and without a nice allowance.
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    struct rlimit none = {0, 0};
    if (setrlimit(RLIMIT_NICE, &none) != 0) _exit(3);
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                           setresuid(65534, 65534, 65534) != 0))
      _exit(3);
    int nice = getpriority(PRIO_PROCESS, 0), policy = sched_getscheduler(0);
    SetPriorityLevel(-8);
    bool lowered = getpriority(PRIO_PROCESS, 0) > nice || sched_getscheduler(0) != policy;
    SetPriorityLevel(0);
    bool back = getpriority(PRIO_PROCESS, 0) == nice && sched_getscheduler(0) == policy;
    _exit(!lowered ? 1 : !back ? 2 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "cannot drop privileges here";
  EXPECT_NE(WEXITSTATUS(status), 1) << "the background level changed nothing";
  EXPECT_NE(WEXITSTATUS(status), 2) << "the normal level did not come back";
}

TEST(PowerOff, RoutineCanBeReplaced) {
  int calls = 0;
  SetPowerOffRoutine([&] { return ++calls == 1; });
  EXPECT_TRUE(PowerOff());
  EXPECT_FALSE(PowerOff());
  SetPowerOffRoutine(nullptr);
}

TEST(TempFiles, OnlyOurSignedWorkFilesAreDeleted) {
  ScratchDir dir;
  std::string ours = dir.File("$QZ0001.TMP"), other = dir.File("$QZ0002.TMP"),
              plain = dir.File("$QZ0003.TMP"), notMatching = dir.File("QZ0004.TMP");
  std::string junk = std::string("This file is made by Mirdex") + '\0';
  WriteFileBytes(ours, ListChunk("RIFF", "WAVE", Chunk("JUNK", junk) + Chunk("data", "")));
  WriteFileBytes(other, ListChunk("RIFF", "WAVE", Chunk("JUNK", std::string(28, 'x'))));
  WriteFileBytes(plain, "not a riff file at all");
  WriteFileBytes(notMatching, ListChunk("RIFF", "WAVE", Chunk("JUNK", junk)));
  EXPECT_EQ(CleanupTempFiles(dir.path()), 1);
  EXPECT_FALSE(FileExists(ours));
  EXPECT_TRUE(FileExists(other));
  EXPECT_TRUE(FileExists(plain));
  EXPECT_TRUE(FileExists(notMatching));
}

TEST(TempFiles, WorkFilesInUseSurviveTheCleanUp) {
  ScratchDir dir;
  std::string wave =
      ListChunk("RIFF", "WAVE", Chunk("JUNK", std::string("This file is made by Mirdex") + '\0'));
  // Another running program's work file, locked by its open descriptor, and a
  // crashed run's leftover that nobody holds.
  std::string live = dir.File("$QZ0001.TMP"), stale = dir.File("$QZ0002.TMP");
  WriteFileBytes(live, wave);
  WriteFileBytes(stale, wave);
  int fd = open(live.c_str(), O_RDONLY);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  WorkFile made;
  ASSERT_TRUE(made.Create(dir.path()));
  std::string madePath = made.path();
  EXPECT_EQ(FileNamePart(madePath).substr(0, 3), "$QZ");
  EXPECT_EQ(madePath.substr(madePath.size() - 4), ".TMP");
  WriteFileBytes(madePath, wave);  // written in place, as the audio decoder does
  EXPECT_EQ(CleanupTempFiles(dir.path()), 1);
  EXPECT_TRUE(FileExists(live));
  EXPECT_FALSE(FileExists(stale));
  EXPECT_TRUE(FileExists(madePath));
  {
    WorkFile moved = std::move(made);  // the lock goes with the descriptor
    EXPECT_EQ(CleanupTempFiles(dir.path()), 0);
  }
  EXPECT_FALSE(FileExists(madePath));
  close(fd);
  EXPECT_EQ(CleanupTempFiles(dir.path()), 1);
  EXPECT_FALSE(FileExists(live));
}
