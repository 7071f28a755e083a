// Quendrix: shortens or lengthens a PCM WAVE file by one sample in every
// period, where it is least audible.
#include <dlfcn.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "platform/Paths.h"
#include "quendrix/CommandLine.h"
#include "quendrix/QuendrixSettings.h"

int main(int argc, char** argv) {
  // A write past the file-size limit fails with EFBIG and is reported like a
  // full disk, instead of killing the program halfway through a file.
  std::signal(SIGXFSZ, SIG_IGN);
  UseQuendrixFiles();
  std::string file;
  int status = RunCommandLine(argc, argv, &file);
  if (status >= 0) return status;

  // The window and Qt come from the library beside the executable.
  std::string lib = ExeDir() + "libquendrix_gui.so";
  void* gui = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!gui) {
    std::fprintf(stderr, "quendrix: cannot load the window library: %s\n", dlerror());
    return 1;
  }
  using GuiMain = int (*)(int, char**, const char*);
  auto guiMain = reinterpret_cast<GuiMain>(dlsym(gui, "QuendrixGuiMain"));
  if (!guiMain) {
    std::fprintf(stderr, "quendrix: %s has no entry point: %s\n", lib.c_str(), dlerror());
    return 1;
  }
  return guiMain(argc, argv, file.c_str());
}
