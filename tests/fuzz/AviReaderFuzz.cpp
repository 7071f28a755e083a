// libFuzzer target for the AVI reader: every input is opened as a file
// (answering "yes" to the index question, so the scan runs too) and, when it
// opens, every index entry must lie inside the input; the scan on one thread
// and on two must agree.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "avi/AviReader.h"
#include "avi/OpenAvi.h"
#include "platform/AppState.h"
#include "platform/Host.h"

namespace {

class FuzzHost : public Host {
 public:
  int MessageBox(const std::string&, const std::string&, unsigned style) override {
    unsigned type = style & MB_TYPEMASK;
    return type == MB_YESNO ? IDYES : type == MB_OKCANCEL ? IDCANCEL : IDOK;
  }
  void SetStatusText(int, const std::string&) override {}
  void SetTitle(const std::string&) override {}
  void Pump() override {}
};

int InputFd() {
  static int fd = memfd_create("avi", 0);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzHost host;
  SetHost(&host);
  int fd = InputFd();
  if (fd < 0 || ftruncate(fd, 0) != 0) std::abort();
  size_t done = 0;
  while (done < size) {
    ssize_t w = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (w <= 0) std::abort();
    done += static_cast<size_t>(w);
  }
  OpenAviFile avi;
  avi.szFileName = "/proc/self/fd/" + std::to_string(fd);
  ME.fAbort = 0;
  if (CloseOpenAvi(&avi, 1)) {
    // The counts every reader goes by describe the arrays.
    const AviStreamSet& set = avi.sets[0];
    if (set.FrameMax != set.pFrameIndex.size() || set.WaveIndexEntries != set.pWaveIndex.size() ||
        avi.pFieldShift.size() != set.FrameMax)
      std::abort();
    for (const auto* index : {&avi.sets[0].pFrameIndex, &avi.sets[0].pWaveIndex})
      for (FrameIndexEntry e : *index)
        if (IndexOffset(e) + IndexSize(e) > size) std::abort();
    // The scan over whatever the file holds, without writing: on one thread,
    // then part by part on two, which must find exactly the same.
    avi.options.scanThreads = 1;
    bool once = RebuildAviIndex(&avi, false);
    std::vector<FrameIndexEntry> video = avi.sets[0].pFrameIndex, audio = avi.sets[0].pWaveIndex;
    uint32_t samples = avi.sets[0].dwWaveSampleCounts;
    avi.options.scanThreads = 2;
    bool twice = RebuildAviIndex(&avi, false);
    if (once != twice || video != avi.sets[0].pFrameIndex || audio != avi.sets[0].pWaveIndex ||
        samples != avi.sets[0].dwWaveSampleCounts)
      std::abort();
    for (FrameIndexEntry e : avi.sets[0].pFrameIndex)
      if (IndexOffset(e) + IndexSize(e) > size) std::abort();
  }
  CloseOpenAvi(&avi, 0);
  return 0;
}
