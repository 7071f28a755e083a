// Process-level services: processor features, priority levels, power-off after
// processing, and the clean-up of stale temporary work files.
#pragma once
#include <functional>
#include <string>

// Fills ME.fHasMMX/fHasSSE and the matching fUse flags (and the vector cap
// that follows fUseSSE, see CpuLevel.h).
void DetectCpuFeatures();

// Applies a priority level -8..6 to the process (nice value) and the calling
// thread; any other level changes nothing and returns false.
bool SetPriorityLevel(int level);
// The nice values a level maps to: process and thread. False outside -8..6.
bool PriorityNiceValues(int level, int* processNice, int* threadNice);

// Powers the machine off. Tests replace the routine; the default runs
// "systemctl poweroff". Returns true on success.
using PowerOffRoutine = std::function<bool()>;
void SetPowerOffRoutine(PowerOffRoutine routine);
bool PowerOff();

// Temporary work files: "<tmp>/$QZxxxxxx.TMP". MakeTempFile creates one and
// returns its path (empty on failure).
std::string MakeTempFile();
// Deletes the work files of earlier runs: those that are RIFF WAVE files whose
// JUNK chunk starts with the program's signature. Returns how many it deleted.
int CleanupTempFiles(const std::string& dir);
extern const char kWorkFileSignature[];  // "This file is made by Mirdex"
