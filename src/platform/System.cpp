#include "platform/System.h"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/AppState.h"
#include "platform/CpuLevel.h"
#include "platform/Paths.h"
#include "platform/Riff.h"

const char kWorkFileSignature[] = "This file is made by Mirdex";

void DetectCpuFeatures() {
  ME.fHasMMX = CpuHasMmx() ? 1 : 0;
  ME.fHasSSE = CpuHasSse() ? 1 : 0;
  ME.fUseMMX = ME.fHasMMX;
  ME.fUseSSE = ME.fHasSSE;
  ApplyUseSseSetting();
}

bool PriorityNiceValues(int level, int* processNice, int* threadNice) {
  if (level < -8 || level > 6) return false;
  // Priority classes IDLE / NORMAL / HIGH become base nice values 19 / 0 / -10;
  // the thread's relative priority shifts its own nice value around that base.
  static const int kClass[15] = {19, 19, 19, 19, 19, 19, 0, 0, 0, 0, 0, -10, -10, -10, -10};
  static const int kThread[15] = {-15, -2, -1, 0, 1, 2, -2, -1, 0, 1, 2, -1, 0, 1, 2};
  int i = level + 8;
  int base = kClass[i];
  int t = kThread[i];
  int nice = t == -15 ? 19 : base - 3 * t;
  if (nice > 19) nice = 19;
  if (nice < -20) nice = -20;
  *processNice = base;
  *threadNice = nice;
  return true;
}

bool SetPriorityLevel(int level) {
  int processNice, threadNice;
  if (!PriorityNiceValues(level, &processNice, &threadNice)) return false;
  // Raising priority needs privileges; a refusal leaves the current level.
  bool ok = setpriority(PRIO_PROCESS, 0, processNice) == 0;
  pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
  ok = setpriority(PRIO_PROCESS, static_cast<id_t>(tid), threadNice) == 0 && ok;
  return ok;
}

namespace {
PowerOffRoutine gPowerOff;
}

void SetPowerOffRoutine(PowerOffRoutine routine) {
  gPowerOff = std::move(routine);
}

bool PowerOff() {
  if (gPowerOff) return gPowerOff();
  return std::system("systemctl poweroff") == 0;
}

std::string MakeTempFile() {
  std::string name = TempDir() + "$QZXXXXXX.TMP";
  std::vector<char> buf(name.begin(), name.end());
  buf.push_back(0);
  int fd = mkstemps(buf.data(), 4);
  if (fd < 0) return std::string();
  close(fd);
  return std::string(buf.data());
}

int CleanupTempFiles(const std::string& dirIn) {
  std::string dir = dirIn.empty() ? "./" : dirIn;
  if (dir.back() != '/') dir += '/';
  DIR* d = opendir(dir.c_str());
  if (!d) return 0;
  std::vector<std::string> names;
  while (struct dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n.size() >= 7 && n.compare(0, 3, "$QZ") == 0 && n.compare(n.size() - 4, 4, ".TMP") == 0)
      names.push_back(n);
  }
  closedir(d);
  int deleted = 0;
  for (const std::string& n : names) {
    std::string path = dir + n;
    bool ours = false;
    {
      RiffFile f;
      if (!f.Open(path, RiffFile::ModeRead, 4096)) continue;
      ChunkInfo riff, junk;
      riff.fccType = FourCC("WAVE");
      junk.ckid = FourCC("JUNK");
      char text[28];
      if (f.Descend(&riff, nullptr, kFindRiff) && f.Descend(&junk, &riff, kFindChunk) && junk.cksize >= 27 &&
          f.ReadExact(text, 28 <= junk.cksize ? 28 : 27)) {
        ours = std::memcmp(text, kWorkFileSignature, 27) == 0;
      }
    }
    if (ours && unlink(path.c_str()) == 0) ++deleted;
  }
  return deleted;
}
