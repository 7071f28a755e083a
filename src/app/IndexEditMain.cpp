#include "app/IndexEditMain.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "avi/AviReader.h"
#include "avi/IndexEdit.h"

const char kIndexEditUsage[] =
    "--delete-frame N, --null-frame N, --insert-null N\n"
    "           edit the idx1 index of FILE.avi in place: remove the entry of video frame N\n"
    "           (from 0), make it a null frame, or insert a null frame before it.\n"
    "--remove-null-frames\n"
    "           removes every null frame from the idx1 index of each file; prints the count.\n"
    "--rebuild-index\n"
    "           builds the index anew by scanning the chunks and writes it into the file.\n"
    "           These refuse OpenDML files and files with data behind idx1; an interrupted\n"
    "           write leaves the old index or the new one. Exit status: 0 done, 1 refused\n"
    "           or failed, 2 a file could not be read.\n";

namespace {

int Usage() {
  std::fputs("mirdex: see mirdex --help\n", stderr);
  return 2;
}

int Status(IndexEditResult r) {
  switch (r) {
    case IndexEditResult::kDone:
      return 0;
    case IndexEditResult::kUnreadable:
      return 2;
    default:
      return 1;
  }
}

// Scans the file and writes the index back without asking.
int Rebuild(const char* path) {
  OpenAviFile avi;
  avi.szFileName = path;
  avi.options.scanMissingIndexSilently = true;
  avi.options.confirmIndexWriteBack = false;
  if (!CloseOpenAvi(&avi, 1)) return 2;
  // A file whose index was not read from its own idx1 gets advice, not a write.
  bool ok = RebuildAviIndex(&avi, true) && avi.nIndexKind == kIndexIdx1;
  if (ok) std::printf("%s: index rebuilt, %u frames\n", path, avi.sets[0].FrameMax);
  CloseOpenAvi(&avi, 0);
  return ok ? 0 : 1;
}

}  // namespace

int RunIndexEdit(int argc, char** argv) {
  const char* option = argv[0];
  if (std::strcmp(option, "--remove-null-frames") == 0) {
    if (argc < 2) return Usage();
    int worst = 0;
    for (int i = 1; i < argc; ++i) {
      int removed = 0;
      IndexEditResult r = EditIndex(argv[i], IndexEditKind::kRemoveNulls, 0, &removed);
      if (r == IndexEditResult::kDone) std::printf("%s: %d null frames removed\n", argv[i], removed);
      worst = std::max(worst, Status(r));
    }
    return worst;
  }
  if (std::strcmp(option, "--rebuild-index") == 0) return argc == 2 ? Rebuild(argv[1]) : Usage();
  IndexEditKind kind;
  if (std::strcmp(option, "--delete-frame") == 0)
    kind = IndexEditKind::kDeleteFrame;
  else if (std::strcmp(option, "--null-frame") == 0)
    kind = IndexEditKind::kMakeNull;
  else if (std::strcmp(option, "--insert-null") == 0)
    kind = IndexEditKind::kInsertNull;
  else
    return -1;
  if (argc != 3) return Usage();
  char* end = nullptr;
  unsigned long long frame = std::strtoull(argv[1], &end, 10);
  if (!*argv[1] || *end || argv[1][0] == '-' || frame > UINT32_MAX) return Usage();
  int changed = 0;
  return Status(EditIndex(argv[2], kind, static_cast<uint32_t>(frame), &changed));
}
