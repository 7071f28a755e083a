#include "app/Headless.h"

#include <cstdio>
#include <cstring>

#include "app/IndexEditMain.h"
#include "avi/Report.h"

namespace {
const char kUsage[] =
    "Usage: mirdex [FILE.avi]\n"
    "       mirdex --report [--json] FILE.avi...\n"
    "       mirdex --framemd5 FILE.avi\n"
    "       mirdex --delete-frame N|--null-frame N|--insert-null N FILE.avi\n"
    "       mirdex --remove-null-frames FILE.avi...\n"
    "       mirdex --rebuild-index FILE.avi\n"
    "       mirdex --help\n"
    "\n"
    "Without an option, opens Mirdex's window (and FILE.avi in it).\n"
    "/line:VALUE is accepted and ignored; other arguments starting with '/' are options\n"
    "unless a file or folder of that name exists.\n"
    "\n"
    "--report   checks each AVI file without a window: container, index, frames, key and\n"
    "           null frames, audio, and every problem found. Files without an idx1 index\n"
    "           are indexed by scanning; nothing is written. --json prints a JSON array.\n"
    "           Exit status: 0 clean, 1 problems found, 2 a file could not be read.\n"
    "--framemd5 prints \"N,MD5\" for every frame: the MD5 of the decoded 24-bit frame, rows\n"
    "           bottom-up, blue-green-red, 3*width bytes per row (a null frame is black).\n"
    "           Exit status: 0 all decoded, 1 some frames failed, 2 the file could not be read.\n";
}

int RunHeadless(int argc, char** argv, const char** frameMd5Path) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      std::fputs(kIndexEditUsage, stdout);
      return 0;
    }
    if (int rc = RunIndexEdit(argc - i, argv + i); rc >= 0) return rc;
    if (std::strcmp(argv[i], "--report") == 0) return RunReport(argc - i - 1, argv + i + 1);
    if (std::strcmp(argv[i], "--framemd5") == 0) {
      if (i + 2 != argc) {
        std::fputs(kUsage, stderr);
        return 2;
      }
      *frameMd5Path = argv[i + 1];
      return kHeadlessFrameMd5;
    }
  }
  return -1;
}
