// Process-level services: processor features, priority levels, power-off after
// processing, and the clean-up of stale temporary work files.
#pragma once
#include <functional>
#include <string>

// Fills ME.fHasMMX/fHasSSE and the matching fUse flags (and the vector cap
// that follows fUseSSE, see CpuLevel.h).
void DetectCpuFeatures();

// Applies a priority level -8..6 to the calling thread (its nice value), in a
// way that a later call can undo: where the thread could not lower its nice
// value again (no CAP_SYS_NICE, RLIMIT_NICE too small), a level below the
// current one becomes the batch scheduling policy instead of a higher nice
// value. False when the level is outside -8..6 (nothing changes) or could be
// applied only in part.
bool SetPriorityLevel(int level);
// The nice values a level maps to: process and thread. False outside -8..6.
bool PriorityNiceValues(int level, int* processNice, int* threadNice);

// Powers the machine off. Tests replace the routine; the default runs
// "systemctl poweroff". Returns true on success.
using PowerOffRoutine = std::function<bool()>;
void SetPowerOffRoutine(PowerOffRoutine routine);
bool PowerOff();

// A temporary work file "<tmp>/$QZxxxxxx.TMP". Its owner holds an exclusive
// flock on it for as long as the file is in use, which tells a live work file
// from the leftover of a crashed run (on Linux an open file can be deleted);
// the file is deleted when its owner lets go of it. Write it in place through
// path() (opening it again, even truncating, keeps the lock), never by
// replacing the file.
class WorkFile {
 public:
  WorkFile() = default;
  WorkFile(WorkFile&& other) noexcept;
  WorkFile& operator=(WorkFile&& other) noexcept;
  WorkFile(const WorkFile&) = delete;
  WorkFile& operator=(const WorkFile&) = delete;
  ~WorkFile() { Remove(); }

  // Creates a new, empty work file in dir (the temporary folder when empty)
  // and locks it; a file held before is removed first. False on failure.
  bool Create(const std::string& dir = std::string());
  // Deletes the file and releases it; nothing when none is held.
  void Remove();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;  // keeps the lock
  std::string path_;
};

// Deletes the work files of earlier runs: those that are RIFF WAVE files whose
// JUNK chunk starts with the program's signature and that no running program
// holds (see WorkFile). Returns how many it deleted.
int CleanupTempFiles(const std::string& dir);
extern const char kWorkFileSignature[];  // "This file is made by Mirdex"
