#include "platform/Messages.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <ctime>

#include "platform/AppState.h"
#include "platform/Host.h"
#include "platform/Paths.h"

namespace {
constexpr size_t kTextLimit = 1024;
}

int Message(unsigned style, const char* text, const char* format, ...) {
  std::string composed;
  if (text) {
    composed = text;
  } else if (format) {
    va_list args;
    va_start(args, format);
    composed = VFmt(kTextLimit, format, args);
    va_end(args);
  }
  if (ME.nPowerOffAfter >= 1 && ME.hLogFile >= 0) return 0;
  return CurrentHost().MessageBox(composed, ME.programName, style);
}

void Status(int part, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string s = VFmt(kTextLimit, format, args);
  va_end(args);
  CurrentHost().SetStatusText(part, s);
}

std::string LogPath() {
  return SettingsDir() + "Mirdex.log";
}

bool OpenLog() {
  if (ME.hLogFile >= 0) return true;
  ME.hLogFile = open(LogPath().c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  return ME.hLogFile >= 0;
}

void CloseLog() {
  if (ME.hLogFile >= 0) close(ME.hLogFile);
  ME.hLogFile = -1;
}

bool LogIsOpen() {
  return ME.hLogFile >= 0;
}

void Log(const char* format, ...) {
  if (ME.hLogFile < 0) return;
  va_list args;
  va_start(args, format);
  std::string s = VFmt(kTextLimit, format, args);
  va_end(args);
  // Every entry goes to the end, so the log keeps what earlier runs wrote.
  if (lseek(ME.hLogFile, 0, SEEK_END) < 0) return;
  ssize_t written = write(ME.hLogFile, s.data(), s.size());
  (void)written;  // a failed log write is ignored
}

std::string TimeStamp() {
  time_t now = time(nullptr);
  struct tm t;
  localtime_r(&now, &t);
  return Fmt("%02hd-%02hd-%02hd %02hd:%02hd:%02hd", static_cast<short>((t.tm_year + 1900) % 100),
             static_cast<short>(t.tm_mon + 1), static_cast<short>(t.tm_mday), static_cast<short>(t.tm_hour),
             static_cast<short>(t.tm_min), static_cast<short>(t.tm_sec));
}

std::string TimeCode(int64_t frame, double rate) {
  if (!(rate > 0)) rate = 30000.0 / 1001.0;
  long s = static_cast<long>(static_cast<double>(frame) / rate);
  long hours = s / 3600, minutes = (s / 60) % 60, seconds = s % 60;
  long frames = static_cast<long>(frame - static_cast<int64_t>(rate * static_cast<double>(s) + 0.5));
  return Fmt("%02ld:%02ld:%02ld:%02ld", hours, minutes, seconds, frames);
}
