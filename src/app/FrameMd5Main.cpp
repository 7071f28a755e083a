// mirdex --framemd5 needs the decoders, and they live with the window in the
// library main() loads on demand; the report and the help start without them.
#include <cstdio>

#include "frame/FrameMd5.h"

extern "C" __attribute__((visibility("default"))) int MirdexFrameMd5Main(const char* path) {
  return FrameMd5(path, stdout, stderr);
}
