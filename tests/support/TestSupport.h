// Shared helpers of the tests: a host that records what the program shows and
// answers questions from a script, a scratch folder that is also the settings
// folder, and small file builders.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/CpuLevel.h"
#include "platform/Host.h"

class RecordingHost : public Host {
 public:
  struct Box {
    std::string text, caption;
    unsigned style;
  };
  RecordingHost() { SetHost(this); }
  ~RecordingHost() override { SetHost(nullptr); }

  int MessageBox(const std::string& text, const std::string& caption, unsigned style) override;
  int TimedMessageBox(const std::string& text, const std::string& caption, unsigned style,
                      unsigned timeoutMs) override;
  void SetStatusText(int part, const std::string& text) override;
  void SetTitle(const std::string& t) override {
    title = t;
    if (onTitle) onTitle();
  }
  void SetTitleSuffix(const std::string& extra) override { titleSuffixes.push_back(extra); }
  void Pump() override;
  void Beep() override { ++beeps; }
  // Comment dialogs take the front of `comments` (OK); none left: Cancel.
  bool EditComment(const std::string& prompt, std::string* comment) override {
    prompts.push_back(prompt);
    if (comments.empty()) return false;
    *comment = comments.front();
    comments.pop_front();
    return true;
  }

  std::vector<Box> boxes;
  std::vector<unsigned> timeouts;      // timeout of each timed box
  std::deque<int> answers;             // answers to give, in order; empty: IDNO/IDOK
  std::vector<std::string> status[5];  // every text set in each pane
  std::string title;
  std::deque<std::string> comments;  // what the comment dialogs answer, in order
  std::vector<std::string> prompts;  // every comment dialog's prompt
  // File dialogs take the front of `files`; none left: cancelled.
  std::deque<std::string> files;
  std::vector<FileDialogRequest> dialogs;  // every file dialog asked for
  bool ChooseFiles(const FileDialogRequest& request, std::vector<std::string>* paths) override {
    dialogs.push_back(request);
    if (files.empty()) return false;
    if (onDialog) onDialog(request);
    *paths = {files.front()};
    files.pop_front();
    return true;
  }
  std::vector<std::string> titleSuffixes;  // every suffix shown, in order
  int pumps = 0;
  int beeps = 0;
  std::function<void(int)> onPump;  // called with the pump count
  std::function<void()> onTitle;    // called after each title
  // Called for a dialog that is answered with a file: may work its panels.
  std::function<void(const FileDialogRequest&)> onDialog;
};

// A fresh folder under the temporary directory, removed with its contents at
// the end; it is also made the settings folder of the program (MIRDEX_HOME and
// QUENDRIX_HOME point at it).
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::string& path() const { return path_; }  // with a trailing '/'
  std::string File(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

std::string ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
std::string SamplePath(const std::string& name);  // a file of tests/samples

// Appends little-endian values to a byte string.
void Put16(std::string& s, uint16_t v);
void Put32(std::string& s, uint32_t v);
void PutFourCC(std::string& s, const char* fcc);
// A chunk: id, size, data and the pad byte for odd sizes.
std::string Chunk(const char* id, const std::string& data);
std::string ListChunk(const char* listId, const char* type, const std::string& body);

// A canonical PCM WAVE file.
std::string MakeWave(uint16_t channels, uint32_t rate, uint16_t bits, const std::string& data);

// Runs a shell command, returns its exit status and standard output.
int RunCommand(const std::string& command, std::string* output = nullptr);

// Caps the vector level for a scope, so that a failing assertion cannot leave
// later tests on a lower level.
class CpuLevelCapScope {
 public:
  explicit CpuLevelCapScope(VectorLevel cap) : saved_(SetCpuLevelCap(cap)) {}
  ~CpuLevelCapScope() { SetCpuLevelCap(saved_); }
  CpuLevelCapScope(const CpuLevelCapScope&) = delete;
  CpuLevelCapScope& operator=(const CpuLevelCapScope&) = delete;

 private:
  VectorLevel saved_;
};
