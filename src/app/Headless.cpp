#include "app/Headless.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/IndexEditMain.h"
#include "avi/Report.h"
#include "edit/Marks.h"

namespace {
const char kUsage[] =
    "Usage: mirdex [FILE.avi]\n"
    "       mirdex --report [--json] [--marks FILE.mrk] FILE.avi...\n"
    "       mirdex --framemd5 [--marks FILE.mrk] FILE.avi\n"
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
    "           Exit status: 0 all decoded, 1 some frames failed, 2 the file could not be read.\n"
    "--marks    (before the file names of --report and --framemd5) cuts the deletion ranges\n"
    "           that FILE.mrk holds for each AVI file (sections matched by resolved path)\n"
    "           out of it, so the frames counted or printed are those an edit keeps.\n";
}

int RunHeadless(int argc, char** argv, const char** frameMd5Path, const char** markFile) {
  // "--marks FILE" is taken out wherever it stands; the forms see the rest.
  std::vector<char*> args(argv, argv + argc);
  const char* marks = nullptr;
  for (size_t i = 1; i < args.size(); ++i) {
    if (std::strcmp(args[i], "--marks") != 0) continue;
    if (i + 1 == args.size()) {
      std::fputs(kUsage, stderr);
      return 2;
    }
    marks = args[i + 1];
    args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
    --i;
  }
  if (marks) {
    // A folder opens too, and only reading it fails.
    std::FILE* f = std::fopen(marks, "rb");
    bool readable = f && (std::fgetc(f) != EOF || !std::ferror(f));
    if (f) std::fclose(f);
    if (!readable) {
      std::fprintf(stderr, "mirdex: cannot read the mark file %s\n", marks);
      return 2;
    }
  }
  if (markFile) *markFile = marks;
  argc = static_cast<int>(args.size());
  argv = args.data();
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      std::fputs(kIndexEditUsage, stdout);
      return 0;
    }
    if (int rc = RunIndexEdit(argc - i, argv + i); rc >= 0) return rc;
    if (std::strcmp(argv[i], "--report") == 0) {
      ReportPrepare prepare;
      if (marks) prepare = [marks](OpenAviTable& table) { return ViewThroughMarkFile(table, marks); };
      return RunReport(argc - i - 1, argv + i + 1, stdout, prepare);
    }
    if (std::strcmp(argv[i], "--framemd5") == 0) {
      if (i + 2 != argc) {
        std::fputs(kUsage, stderr);
        return 2;
      }
      *frameMd5Path = argv[i + 1];
      return kHeadlessFrameMd5;
    }
  }
  if (marks) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  return -1;
}
