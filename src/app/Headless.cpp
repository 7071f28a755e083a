#include "app/Headless.h"

#include <cstdio>
#include <cstring>

namespace {
const char kUsage[] =
    "Usage: mirdex [FILE.avi]\n"
    "       mirdex --help\n"
    "\n"
    "Opens FILE.avi (and shows Mirdex's window).\n"
    "/line:VALUE is accepted and ignored; other arguments starting with '/' are options\n"
    "unless a file or folder of that name exists.\n";
}

int RunHeadless(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  return -1;
}
