#include "app/Headless.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/IndexEditMain.h"
#include "avi/Report.h"
#include "edit/Marks.h"
#include "platform/Paths.h"

namespace {
const char kUsage[] =
    "Usage: mirdex [FILE.avi]\n"
    "       mirdex --report [--json] [--marks FILE.mrk] FILE.avi...\n"
    "       mirdex --framemd5 [--marks FILE.mrk] FILE.avi\n"
    "       mirdex --export-wav OUT.wav [--range A-B] [--marks FILE.mrk] FILE.avi...\n"
    "       mirdex --save OUT.avi [--range A-B]\n"
    "              [--copy | --uncompressed | --codec FOURCC | --dv-reference]\n"
    "              [--video-only] [--audio-codec NAME] [--clip TOP,BOTTOM,LEFT,RIGHT]\n"
    "              [--marks FILE.mrk] FILE.avi...\n"
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
    "--export-wav writes the audio of the files, opened one after another as one timeline,\n"
    "           to OUT.wav (PCM; compressed audio is decoded). --range A-B takes frames A to B\n"
    "           (inclusive, numbered after --marks). Exit status: 0 written, 1 failed,\n"
    "           2 a file could not be read.\n"
    "--save     writes the frames of the files, opened one after another as one timeline,\n"
    "           to a new AVI file OUT.avi with their audio: --copy keeps each chunk as stored,\n"
    "           --codec FOURCC compresses with that encoder, the default is uncompressed\n"
    "           24-bit; --dv-reference (DV files) writes records that point into them.\n"
    "           --audio-codec NAME encodes the audio with that libavcodec encoder;\n"
    "           --clip removes pixels from each side (a negative number adds black).\n"
    "           Exit status: 0 saved, 1 failed, 2 a file could not be read.\n"
    "--marks    (before the file names of --report, --framemd5, --export-wav and --save)\n"
    "           cuts the deletion ranges that FILE.mrk holds for each AVI file (sections\n"
    "           matched by resolved path) out of it, so the frames counted, printed, exported\n"
    "           or saved are those an edit keeps.\n";
}

// "A-B" with A <= B.
bool ParseRange(const char* text, long long* first, long long* last) {
  char* end = nullptr;
  long long a = std::strtoll(text, &end, 10);
  if (end == text || *end != '-' || a < 0 || !std::isdigit(static_cast<unsigned char>(end[1]))) return false;
  const char* second = end + 1;
  long long b = std::strtoll(second, &end, 10);
  if (*end || b < a || b > UINT32_MAX) return false;
  *first = a;
  *last = b;
  return true;
}

int RunHeadless(int argc, char** argv, const char** frameMd5Path, const char** markFile,
                ExportWavArgs* exportWav, std::vector<char*>* saveArgs) {
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
  if (marks && !FileReadable(marks)) {
    std::fprintf(stderr, "mirdex: cannot read the mark file %s\n", marks);
    return 2;
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
    if (std::strcmp(argv[i], "--save") == 0) {
      if (i + 2 >= argc || !saveArgs) {
        std::fputs(kUsage, stderr);
        return 2;
      }
      saveArgs->assign(argv + i + 1, argv + argc);
      return kHeadlessSave;
    }
    if (std::strcmp(argv[i], "--export-wav") == 0) {
      ExportWavArgs a;
      int k = i + 1;
      if (k < argc) a.out = argv[k++];
      if (k + 1 < argc && std::strcmp(argv[k], "--range") == 0) {
        if (!ParseRange(argv[k + 1], &a.first, &a.last)) {
          std::fprintf(stderr, "mirdex: --range needs A-B with A <= B, not %s\n", argv[k + 1]);
          return 2;
        }
        k += 2;
      }
      a.inputs.assign(argv + std::min(k, argc), argv + argc);
      if (!a.out || a.inputs.empty() || !exportWav) {
        std::fputs(kUsage, stderr);
        return 2;
      }
      *exportWav = a;
      return kHeadlessExportWav;
    }
  }
  if (marks) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  return -1;
}
