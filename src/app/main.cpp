#include <dlfcn.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/Headless.h"
#include "audio/PcmExport.h"
#include "edit/Marks.h"
#include "platform/Paths.h"

namespace {
bool HasDisplay() {
  auto set = [](const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
  };
  return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

// Loads a library beside the executable, and returns `entry` from it, or
// null after a message: libmirdex_gui.so holds the window (Qt and FFmpeg),
// libmirdex_batch.so the headless forms that decode or encode (FFmpeg only).
void* LoadEntry(const char* entry, bool window = false) {
  std::string lib = ExeDir() + (window ? "libmirdex_gui.so" : "libmirdex_batch.so");
  // Lazy binding: both libraries are linked with --no-undefined, so every
  // symbol is known to resolve.
  void* handle = dlopen(lib.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "mirdex: cannot load %s: %s\n", window ? "the window library" : "the codec library",
                 dlerror());
    return nullptr;
  }
  void* fn = dlsym(handle, entry);
  if (!fn) std::fprintf(stderr, "mirdex: %s has no entry point: %s\n", lib.c_str(), dlerror());
  return fn;
}
}  // namespace

int main(int argc, char** argv) {
  // A write past the file-size limit fails with EFBIG and is reported like a
  // full disk, instead of killing the program halfway through a file.
  std::signal(SIGXFSZ, SIG_IGN);
  const char* frameMd5Path = nullptr;
  const char* markFile = nullptr;
  ExportWavArgs exportWav;
  std::vector<char*> saveArgs;
  int rc = RunHeadless(argc, argv, &frameMd5Path, &markFile, &exportWav, &saveArgs);
  if (rc >= 0) return rc;
  if (rc == kHeadlessSave) {
    auto entry = reinterpret_cast<int (*)(int, char**, const char*)>(LoadEntry("MirdexSaveAviMain"));
    return entry ? entry(static_cast<int>(saveArgs.size()), saveArgs.data(), markFile) : 2;
  }
  if (rc == kHeadlessExportWav) {
    // PCM audio is copied here; compressed audio needs the decoders.
    ExportWavRequest request;
    request.out = exportWav.out;
    request.first = exportWav.first;
    request.last = exportWav.last;
    request.inputs.assign(exportWav.inputs.begin(), exportWav.inputs.end());
    std::function<bool(OpenAviTable&)> prepare;
    if (markFile) prepare = [markFile](OpenAviTable& table) { return ViewThroughMarkFile(table, markFile); };
    if (int done = ExportPcmWav(request, stderr, prepare); done >= 0) return done;
    using Entry = int (*)(const char*, long long, long long, const char*, int, char**);
    auto entry = reinterpret_cast<Entry>(LoadEntry("MirdexExportWavMain"));
    return entry ? entry(exportWav.out, exportWav.first, exportWav.last, markFile,
                         static_cast<int>(exportWav.inputs.size()), exportWav.inputs.data())
                 : 2;
  }
  if (rc == kHeadlessFrameMd5) {
    auto frameMd5 = reinterpret_cast<int (*)(const char*, const char*)>(LoadEntry("MirdexFrameMd5Main"));
    return frameMd5 ? frameMd5(frameMd5Path, markFile) : 2;
  }
  if (!HasDisplay()) {
    std::fputs("mirdex: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); the window cannot open.\n",
               stderr);
    return 2;
  }
  auto guiMain = reinterpret_cast<int (*)(int, char**)>(LoadEntry("MirdexGuiMain", true));
  return guiMain ? guiMain(argc, argv) : 2;
}
