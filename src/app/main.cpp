#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/Headless.h"
#include "platform/Paths.h"

namespace {
bool HasDisplay() {
  auto set = [](const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
  };
  return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}
}  // namespace

int main(int argc, char** argv) {
  int rc = RunHeadless(argc, argv);
  if (rc >= 0) return rc;
  if (!HasDisplay()) {
    std::fputs("mirdex: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); the window cannot open.\n",
               stderr);
    return 2;
  }
  // The window and Qt come from the library beside the executable.
  std::string lib = ExeDir() + "libmirdex_gui.so";
  void* gui = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!gui) {
    std::fprintf(stderr, "mirdex: cannot load the window library: %s\n", dlerror());
    return 2;
  }
  using GuiMain = int (*)(int, char**);
  auto guiMain = reinterpret_cast<GuiMain>(dlsym(gui, "MirdexGuiMain"));
  if (!guiMain) {
    std::fprintf(stderr, "mirdex: %s has no entry point: %s\n", lib.c_str(), dlerror());
    return 2;
  }
  return guiMain(argc, argv);
}
