#include "platform/Paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/Format.h"

const ProgramFiles kMirdexFiles = {"Mirdex.ini", "mirdex", "MIRDEX_HOME"};
const ProgramFiles kQuendrixFiles = {"Quendrix.ini", "quendrix", "QUENDRIX_HOME"};

namespace {
const ProgramFiles* gFiles = &kMirdexFiles;
bool gSettingsDirKnown = false;
std::string gSettingsDir;

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}
}  // namespace

const std::string& ExeDir(std::string* buildDate) {
  static std::string dir;
  static std::string date;
  static bool known = false;
  if (!known) {
    known = true;
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0) {
      buf[n] = 0;
      std::string path(buf);
      dir = DirectoryPart(path);
      struct stat st;
      if (stat(path.c_str(), &st) == 0) {
        struct tm t;
        gmtime_r(&st.st_mtime, &t);
        date = Fmt("%04hd-%02hd-%02hd %02hd:%02d", static_cast<short>(t.tm_year + 1900),
                   static_cast<short>(t.tm_mon + 1), static_cast<short>(t.tm_mday),
                   static_cast<short>(t.tm_hour), t.tm_min);
      }
    }
  }
  if (buildDate) *buildDate = date;
  return dir;
}

void SetProgramFiles(const ProgramFiles& files) {
  gFiles = &files;
  ResetPathCache();
}
const ProgramFiles& CurrentProgramFiles() {
  return *gFiles;
}

void ResetPathCache() {
  gSettingsDirKnown = false;
  gSettingsDir.clear();
}

const std::string& SettingsDir() {
  if (gSettingsDirKnown) return gSettingsDir;
  gSettingsDirKnown = true;
  const char* env = std::getenv(gFiles->envVar);
  if (env && *env) {
    gSettingsDir = WithSlash(env);
  } else {
    std::string portable = ExeDir() + gFiles->iniName;
    if (!ExeDir().empty() && FileExists(portable) && access(portable.c_str(), W_OK) == 0 &&
        access(ExeDir().c_str(), W_OK) == 0) {
      gSettingsDir = ExeDir();
    } else {
      const char* xdg = std::getenv("XDG_CONFIG_HOME");
      std::string base;
      if (xdg && *xdg == '/') {
        base = xdg;
      } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && *home ? home : ".") + "/.config";
      }
      gSettingsDir = WithSlash(base) + gFiles->xdgDir + "/";
    }
  }
  MakeDirectories(gSettingsDir);
  return gSettingsDir;
}

std::string SettingsPath() {
  return SettingsDir() + gFiles->iniName;
}

std::string TempDir() {
  const char* env = std::getenv("TMPDIR");
  if (env && *env && IsDirectory(env)) return WithSlash(env);
  return "/tmp/";
}

std::string FileNamePart(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirectoryPart(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExtensionPart(const std::string& path, bool* hasDot) {
  std::string name = FileNamePart(path);
  size_t dot = name.rfind('.');
  if (hasDot) *hasDot = dot != std::string::npos;
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

bool FileReadable(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  bool readable = std::fgetc(f) != EOF || !std::ferror(f);
  std::fclose(f);
  return readable;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectories(const std::string& dir) {
  if (dir.empty()) return true;
  if (IsDirectory(dir)) return true;
  std::string trimmed = dir;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  std::string parent = DirectoryPart(trimmed);
  if (!parent.empty() && parent != trimmed) MakeDirectories(parent);
  return mkdir(trimmed.c_str(), 0755) == 0 || errno == EEXIST;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string ResolvedPath(const std::string& path) {
  auto real = [](const std::string& p) {
    char* r = realpath(p.c_str(), nullptr);
    std::string s = r ? r : "";
    std::free(r);
    return s;
  };
  if (std::string s = real(path); !s.empty()) return s;
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  std::string s = real(dir);
  if (s.empty()) return {};
  return (s == "/" ? s : s + "/") + (slash == std::string::npos ? path : path.substr(slash + 1));
}
