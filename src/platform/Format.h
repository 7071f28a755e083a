// printf-style formatting of the program's message texts into std::string.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <string>

#define MX_PRINTF(fmtIndex, argIndex) __attribute__((format(printf, fmtIndex, argIndex)))

// Formats like snprintf; the result is cut at `limit` bytes (0 = no limit) on a
// UTF-8 character boundary so that a cut text never ends in half a character.
std::string Fmt(const char* format, ...) MX_PRINTF(1, 2);
std::string FmtLimit(size_t limit, const char* format, ...) MX_PRINTF(2, 3);
std::string VFmt(size_t limit, const char* format, va_list args);

// Cuts `text` to at most `bytes` bytes without splitting a UTF-8 sequence.
std::string CutUtf8(const std::string& text, size_t bytes);

// Case-insensitive (ASCII) comparisons used for FOURCCs, file names and keys.
bool EqualsNoCase(const std::string& a, const std::string& b);
bool EndsWithNoCase(const std::string& text, const std::string& tail);
std::string ToLowerAscii(std::string text);

// Position of `pattern` in `text` ignoring letter case, or npos.
size_t FindNoCase(const std::string& text, const std::string& pattern);
