// mirdex --export-wav decodes compressed audio, so it runs in the codec
// library main() loads on demand, like --framemd5.
#include <cstdio>

#include "audio/ExportWav.h"
#include "edit/Marks.h"

// `first` < 0: the whole audio; `markFile` null: no mark file.
extern "C" __attribute__((visibility("default"))) int MirdexExportWavMain(const char* out, long long first,
                                                                          long long last,
                                                                          const char* markFile, int count,
                                                                          char** inputs) {
  ExportWavRequest request;
  request.out = out;
  request.first = first;
  request.last = last;
  request.inputs.assign(inputs, inputs + count);
  if (!markFile) return ExportWav(request, stderr);
  return ExportWav(request, stderr,
                   [markFile](OpenAviTable& table) { return ViewThroughMarkFile(table, markFile); });
}
