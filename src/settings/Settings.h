// Setting descriptors: every persistent option is one record naming its
// section, key, default, value location, file and type; Read and Write handle
// any descriptor by its flags. Shared by Mirdex and Quendrix.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum : uint32_t {
  kSetText = 0x80000000u,    // text; the low 31 bits are the buffer capacity
  kSetHex = 0x40000000u,     // integer written in hexadecimal
  kSetSigned = 0x20000000u,  // signed integer
  kSetDouble = 0x00000020u,
  kSetBool = 0x00000010u,  // "Yes"/"No"; the value is an int
  kSet16 = 0x00000004u,
  kSet8 = 0x00000002u,
  kSet32 = 0x00000001u,  // also the size when neither 8 nor 16 is set
  kSetCapacityMask = 0x7FFFFFFFu,
};

struct Setting {
  std::string section;
  std::string key;
  // Default of the setting's type: const char* text, const int* boolean,
  // const double*, or an integer of the descriptor's size. May be null.
  const void* pDefault = nullptr;
  // Where the value is read into / written from; may be null.
  void* pValue = nullptr;
  // Empty: the program's settings file. Absolute: used as it stands.
  // Otherwise: a file of that name in the settings folder.
  std::string fileName;
  uint32_t flags = 0;
};

// The file a descriptor reads and writes.
std::string SettingFile(const Setting& s);

// Reads the setting; stores it through pValue when given. Returns the integer
// or boolean read, or the number of bytes read for a text. A double is stored
// through pValue and returned truncated.
uint32_t Read(const Setting& s);
// Reads a text setting into buf (capacity bytes with the terminator).
char* ReadText(const Setting& templ, char* buf, uint32_t capacity);
std::string ReadText(const Setting& templ, uint32_t capacity);

// Writes the value that pValue points at, in the form the flags give.
bool Write(const Setting& s);
// Writes `value` (an integer or boolean of the descriptor's type).
bool WriteValue(const Setting& templ, uint32_t value);
bool WriteText(const Setting& templ, const std::string& text);

// The text form Write would store (exposed for tests and callers that compose).
std::string FormatSettingValue(const Setting& s, const void* value);

// Position of `pattern` in `text` ignoring letter case, or -1.
long FindTextNoCase(const std::string& text, const std::string& pattern);

// Start-up tidy of the program's settings file: drops sections named after
// files that no longer exist (sections in keepSections always stay), squeezes
// runs of empty lines to one, keeps the previous file as ".bak" and goes
// through a ".new" file. Returns true when the file was replaced.
bool TidySettings(const std::vector<std::string>& keepSections);
extern const std::vector<std::string> kMirdexFixedSections;
