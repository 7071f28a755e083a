// mirdex --framemd5 needs the decoders, and they live in the codec library
// main() loads on demand; the report and the help start without them.
#include <cstdio>

#include "edit/Marks.h"
#include "frame/FrameMd5.h"

// `markFile` null: every frame of the file.
extern "C" __attribute__((visibility("default"))) int MirdexFrameMd5Main(const char* path,
                                                                         const char* markFile) {
  if (!markFile) return FrameMd5(path, stdout, stderr);
  return FrameMd5(path, stdout, stderr,
                  [markFile](OpenAviTable& table) { return ViewThroughMarkFile(table, markFile); });
}
