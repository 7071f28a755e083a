// Every user-visible report: message boxes with the program's caption, status
// panes, the operation log, time stamps and time codes.
#pragma once
#include <cstdint>
#include <string>

#include "platform/Format.h"

// Shows `text` (or the format applied to the arguments, cut at 1,024 bytes) in
// a box captioned with the program's name. While power-off after processing is
// on and the log is open no box is shown and 0 is returned.
int Message(unsigned style, const char* text, const char* format = nullptr, ...) MX_PRINTF(3, 4);
// Formats (at most 1,024 bytes) into status pane `part`.
void Status(int part, const char* format, ...) MX_PRINTF(2, 3);

// Operation log "<settings folder>/Mirdex.log": opened to append, never
// truncated. OpenLog returns false (handle stays closed) on failure.
std::string LogPath();
bool OpenLog();
void CloseLog();
bool LogIsOpen();
// Appends the formatted text (at most 1,024 bytes, no terminator) when open.
void Log(const char* format, ...) MX_PRINTF(1, 2);

// "%02hd-%02hd-%02hd %02hd:%02hd:%02hd" of the local time (year mod 100).
std::string TimeStamp();
// "hh:mm:ss:ff" of `frame` at `rate` frames per second.
std::string TimeCode(int64_t frame, double rate);
