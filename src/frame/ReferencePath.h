// Finding the file a reference chunk names. Reference records keep the name
// upper-cased (their writer ran where case did not matter); here case
// matters, so a name that does not exist as stored is looked up folder by
// folder without regard to case.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class ReferencePathCache {
 public:
  // The path to open for `name`, named in the file `referrer`: the name as
  // stored when it exists; else the one file each of its folders and its own
  // name match without regard to case; else the same tried with the name's
  // file part beside `referrer`. Several matches in one folder: the stored
  // name (which then fails to open under its own name). Nothing found: the
  // file part beside `referrer`.
  std::string Resolve(const std::string& referrer, const std::string& name);
  // Folders listed so far: a name is looked up once, until a folder it went
  // through changes (or while one has just changed).
  uint64_t Listings() const { return listings_; }

 private:
  struct Folder {
    std::string path;
    int64_t sec = 0, nsec = 0;
    ino_t inode = 0;
  };
  struct Entry {
    std::string path;
    std::vector<Folder> folders;  // every folder consulted, as it was then
  };
  enum class Match { kNone, kOne, kSeveral };
  std::string Search(const std::string& referrerDir, const std::string& name, std::vector<Folder>& folders);
  std::string WalkNoCase(const std::string& name, std::vector<Folder>& folders, bool* several);
  Match FindInFolder(const std::string& dir, const std::string& entry, std::string* found);
  static bool Note(const std::string& dir, std::vector<Folder>& folders);
  static bool Unchanged(const std::vector<Folder>& folders);
  static bool Settled(const std::vector<Folder>& folders);

  std::map<std::string, Entry> entries_;
  uint64_t listings_ = 0;
};
