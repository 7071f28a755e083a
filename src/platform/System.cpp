#include "platform/System.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

namespace {

bool HasCapSysNice() {
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  return (data[CAP_SYS_NICE / 32].effective & (1u << (CAP_SYS_NICE % 32))) != 0;
}

// The lowest nice value a thread may set (and so come back to): any with
// CAP_SYS_NICE, else 20 - RLIMIT_NICE, which is 20 (none) by default.
int LowestAllowedNice() {
  if (HasCapSysNice()) return -20;
  struct rlimit limit;
  if (getrlimit(RLIMIT_NICE, &limit) != 0) return 20;
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= 40) return -20;
  return 20 - static_cast<int>(limit.rlim_cur);
}

bool SetPolicy(int policy) {
  sched_param param = {};
  return sched_setscheduler(0, policy, &param) == 0;
}

}  // namespace

bool SetPriorityLevel(int level) {
  int processNice, threadNice;
  if (!PriorityNiceValues(level, &processNice, &threadNice)) return false;
  // Linux keeps nice values per thread (threads started later inherit them),
  // and an unprivileged thread may raise its nice value but never lower it
  // again. So a level is applied only in a way that can be undone: a nice
  // value we could not come back from becomes the batch policy instead,
  // which a thread may leave at any time.
  pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
  errno = 0;
  int current = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
  if (current == -1 && errno != 0) return false;
  int lowest = LowestAllowedNice();
  int policy = sched_getscheduler(0);
  if (threadNice > current && current < lowest) {
    if (policy == SCHED_OTHER) return SetPolicy(SCHED_BATCH);
    return policy == SCHED_BATCH;  // another policy chosen at start stays
  }
  bool ok = policy != SCHED_BATCH || SetPolicy(SCHED_OTHER);
  // Raising priority beyond what is allowed goes as far as it may.
  int nice = std::max(threadNice, std::min(current, lowest));
  if (nice != threadNice) ok = false;
  if (nice != current && setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) != 0) ok = false;
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

WorkFile::WorkFile(WorkFile&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
  other.path_.clear();
}

WorkFile& WorkFile::operator=(WorkFile&& other) noexcept {
  if (this != &other) {
    Remove();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
    other.path_.clear();
  }
  return *this;
}

bool WorkFile::Create(const std::string& dirIn) {
  Remove();
  std::string dir = dirIn.empty() ? TempDir() : dirIn;
  if (dir.back() != '/') dir += '/';
  std::string name = dir + "$QZXXXXXX.TMP";
  std::vector<char> buf(name.begin(), name.end());
  buf.push_back(0);
  int fd = mkostemps(buf.data(), 4, O_CLOEXEC);
  if (fd < 0) return false;
  // Another program's clean-up may hold the new, still empty file for a
  // moment; it never deletes an empty one, so waiting for it is safe.
  int rc;
  while ((rc = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
  }
  if (rc != 0) {
    unlink(buf.data());
    close(fd);
    return false;
  }
  fd_ = fd;
  path_ = buf.data();
  return true;
}

void WorkFile::Remove() {
  if (fd_ < 0) return;
  // Deleted while still locked, so no clean-up can see it unlocked first.
  unlink(path_.c_str());
  close(fd_);
  fd_ = -1;
  path_.clear();
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
    // A work file that a running program holds is locked; ours to delete is
    // only one that we can lock, and it stays locked until it is gone.
    // (Not blocking, and regular files only: a pipe of that name must not hang us.)
    int lockFd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (lockFd < 0) continue;
    struct stat st;
    if (fstat(lockFd, &st) != 0 || !S_ISREG(st.st_mode) || flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
      close(lockFd);
      continue;
    }
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
    close(lockFd);
  }
  return deleted;
}
