#include "frame/ReferencePath.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <ctime>

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0;
}

// Upper-casing by the writer touched ASCII letters only; other bytes
// (multi-byte names) must match as they are.
bool SameNoCase(const char* a, const std::string& b) {
  size_t i = 0;
  for (; a[i] && i < b.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return a[i] == 0 && i == b.size();
}

}  // namespace

bool ReferencePathCache::Note(const std::string& dir, std::vector<Folder>& folders) {
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  folders.push_back(Folder{dir, st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_ino});
  return true;
}

// A folder changed within the last seconds may change again within the
// same time stamp: what was found there cannot be kept.
bool ReferencePathCache::Settled(const std::vector<Folder>& folders) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  for (const Folder& f : folders)
    if (f.sec >= static_cast<int64_t>(now.tv_sec) - 2) return false;
  return true;
}

bool ReferencePathCache::Unchanged(const std::vector<Folder>& folders) {
  for (const Folder& f : folders) {
    struct stat st;
    if (stat(f.path.c_str(), &st) != 0 || st.st_mtim.tv_sec != f.sec || st.st_mtim.tv_nsec != f.nsec ||
        st.st_ino != f.inode)
      return false;
  }
  return true;
}

ReferencePathCache::Match ReferencePathCache::FindInFolder(const std::string& dir, const std::string& entry,
                                                           std::string* found) {
  ++listings_;
  DIR* d = opendir(dir.c_str());
  if (!d) return Match::kNone;
  Match m = Match::kNone;
  while (dirent* e = readdir(d)) {
    if (!SameNoCase(e->d_name, entry)) continue;
    if (m == Match::kOne) {
      m = Match::kSeveral;
      break;
    }
    m = Match::kOne;
    *found = e->d_name;
  }
  closedir(d);
  return m;
}

std::string ReferencePathCache::WalkNoCase(const std::string& name, std::vector<Folder>& folders,
                                           bool* several) {
  std::string path = !name.empty() && name[0] == '/' ? "/" : "";
  size_t at = 0;
  while (at < name.size()) {
    size_t end = name.find('/', at);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(at, end - at);
    at = end + 1;
    if (part.empty()) continue;
    std::string dir = path.empty() ? "." : path;
    if (!Note(dir, folders)) return {};
    if (part != "." && part != ".." && !Exists(path + part)) {
      std::string found;
      Match m = FindInFolder(dir, part, &found);
      if (m != Match::kOne) {
        *several = m == Match::kSeveral;
        return {};
      }
      part = found;
    }
    path += part;
    if (at < name.size()) path += '/';
  }
  return path;
}

std::string ReferencePathCache::Search(const std::string& referrerDir, const std::string& name,
                                       std::vector<Folder>& folders) {
  bool several = false;
  // A bare name means the folder of the referring file, not ours.
  if (name.find('/') != std::string::npos) {
    std::string path = WalkNoCase(name, folders, &several);
    if (several) return name;
    if (!path.empty()) return path;
  }
  // A bare or foreign path (a drive letter, backslashes): the file beside
  // the one that refers to it.
  std::string base = name.substr(name.find_last_of("/\\") + 1);
  std::string beside = referrerDir + base;
  if (base.empty() || !Note(referrerDir.empty() ? "." : referrerDir, folders) || Exists(beside))
    return beside;
  std::string found;
  Match m = FindInFolder(referrerDir.empty() ? "." : referrerDir, base, &found);
  if (m == Match::kOne) return referrerDir + found;
  return m == Match::kSeveral ? name : beside;
}

std::string ReferencePathCache::Resolve(const std::string& referrer, const std::string& name) {
  if (Exists(name)) return name;
  size_t slash = referrer.rfind('/');
  std::string referrerDir = slash == std::string::npos ? std::string() : referrer.substr(0, slash + 1);
  std::string key = referrerDir + '\n' + name;
  auto it = entries_.find(key);
  if (it != entries_.end() && Unchanged(it->second.folders)) return it->second.path;
  Entry e;
  e.path = Search(referrerDir, name, e.folders);
  std::string path = e.path;
  if (Settled(e.folders))
    entries_[key] = std::move(e);
  else if (it != entries_.end())
    entries_.erase(it);
  return path;
}
