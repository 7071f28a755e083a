#include "platform/Host.h"

#include <cstdio>

int ConsoleHost::MessageBox(const std::string& text, const std::string& caption, unsigned style) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  unsigned type = style & MB_TYPEMASK;
  if (type == MB_YESNO || type == MB_YESNOCANCEL) return IDNO;
  return IDOK;
}

void ConsoleHost::SetStatusText(int part, const std::string& text) {
  if (!quietStatus_ && part == 0) std::fprintf(stderr, "%s\n", text.c_str());
}

namespace {
ConsoleHost gConsoleHost;
Host* gHost = &gConsoleHost;
}  // namespace

Host& CurrentHost() {
  return *gHost;
}
void SetHost(Host* host) {
  gHost = host ? host : &gConsoleHost;
}
