#include "platform/Format.h"

#include <cctype>
#include <cstdio>
#include <vector>

std::string CutUtf8(const std::string& text, size_t bytes) {
  if (text.size() <= bytes) return text;
  size_t end = bytes;
  // Step back over continuation bytes so the cut lands on a character start.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::string VFmt(size_t limit, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[512];
  int needed = vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (needed < 0) return std::string();
  std::string out;
  if (static_cast<size_t>(needed) < sizeof small) {
    out.assign(small, static_cast<size_t>(needed));
  } else {
    std::vector<char> big(static_cast<size_t>(needed) + 1);
    vsnprintf(big.data(), big.size(), format, args);
    out.assign(big.data(), static_cast<size_t>(needed));
  }
  return limit ? CutUtf8(out, limit) : out;
}

std::string Fmt(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string s = VFmt(0, format, args);
  va_end(args);
  return s;
}

std::string FmtLimit(size_t limit, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string s = VFmt(limit, format, args);
  va_end(args);
  return s;
}

std::string ToLowerAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && ToLowerAscii(a) == ToLowerAscii(b);
}

bool EndsWithNoCase(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && EqualsNoCase(text.substr(text.size() - tail.size()), tail);
}

size_t FindNoCase(const std::string& text, const std::string& pattern) {
  // Lower-casing ASCII keeps byte positions, so the position maps back unchanged.
  return ToLowerAscii(text).find(ToLowerAscii(pattern));
}
