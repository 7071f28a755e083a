#include "platform/Host.h"

#include <unistd.h>

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

TerminalHost::TerminalHost(std::FILE* err, ProgressFrom from)
    : err_(err), tty_(isatty(fileno(err)) != 0), from_(from) {}

int TerminalHost::MessageBox(const std::string& text, const std::string&, unsigned style) {
  EndLine();
  std::fprintf(err_, "%s\n", text.c_str());
  unsigned type = style & MB_TYPEMASK;
  return type == MB_YESNO || type == MB_YESNOCANCEL ? IDNO : type == MB_OKCANCEL ? IDCANCEL : IDOK;
}

void TerminalHost::Show(const std::string& line) {
  if (!tty_ || line.empty()) return;
  std::fprintf(err_, "\r\033[K%s", line.c_str());
  std::fflush(err_);
  open_ = true;
}

void TerminalHost::EndLine() {
  if (open_) std::fputc('\n', err_);
  open_ = false;
}
