#include "settings/Settings.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/Format.h"
#include "platform/Paths.h"
#include "platform/Profile.h"

const std::vector<std::string> kMirdexFixedSections = {"Adjust",      "Average", "AviFiles",    "Compare",
                                                       "Composit",    "Folder",  "HLineNoize1", "HLineNoize2",
                                                       "HLineNoize3", "Noize",   "Setting",     "Window"};

namespace {

int SizeBits(uint32_t flags) {
  if (flags & kSet8) return 8;
  if (flags & kSet16) return 16;
  return 32;
}

uint32_t LoadInt(const void* p, uint32_t flags) {
  if (!p) return 0;
  switch (SizeBits(flags)) {
    case 8:
      return *static_cast<const uint8_t*>(p);
    case 16:
      return *static_cast<const uint16_t*>(p);
    default:
      return *static_cast<const uint32_t*>(p);
  }
}

void StoreInt(void* p, uint32_t flags, uint32_t v) {
  if (!p) return;
  switch (SizeBits(flags)) {
    case 8:
      *static_cast<uint8_t*>(p) = static_cast<uint8_t>(v);
      break;
    case 16:
      *static_cast<uint16_t*>(p) = static_cast<uint16_t>(v);
      break;
    default:
      *static_cast<uint32_t*>(p) = v;
  }
}

}  // namespace

std::string SettingFile(const Setting& s) {
  if (s.fileName.empty()) return SettingsPath();
  if (s.fileName[0] == '/') return s.fileName;
  return SettingsDir() + s.fileName;
}

uint32_t Read(const Setting& s) {
  std::string file = SettingFile(s);
  if (s.flags & kSetText) {
    uint32_t capacity = s.flags & kSetCapacityMask;
    const char* def = static_cast<const char*>(s.pDefault);
    if (s.pValue)
      return static_cast<uint32_t>(
          GetProfileText(s.section, s.key, def, static_cast<char*>(s.pValue), capacity, file));
    char buf[256];
    return static_cast<uint32_t>(GetProfileText(s.section, s.key, def, buf, sizeof buf, file));
  }
  char text[256];
  GetProfileText(s.section, s.key, "", text, sizeof text, file);
  if (s.flags & kSetDouble) {
    double d = text[0] ? std::atof(text) : (s.pDefault ? *static_cast<const double*>(s.pDefault) : 0.0);
    if (s.pValue) *static_cast<double*>(s.pValue) = d;
    return static_cast<uint32_t>(static_cast<int64_t>(d));
  }
  if (s.flags & kSetBool) {
    int def = s.pDefault ? *static_cast<const int*>(s.pDefault) : 0;
    int v = def ? !EqualsNoCase(text, "No") : EqualsNoCase(text, "Yes");
    if (s.pValue) *static_cast<int*>(s.pValue) = v;
    return static_cast<uint32_t>(v);
  }
  uint32_t v;
  if (!text[0]) {
    v = LoadInt(s.pDefault, s.flags);
  } else if (s.flags & kSetHex) {
    unsigned long x = 0;
    std::sscanf(text, "%lX", &x);
    v = static_cast<uint32_t>(x);
  } else if (s.flags & kSetSigned) {
    long x = 0;
    std::sscanf(text, "%ld", &x);
    v = static_cast<uint32_t>(x);
  } else {
    unsigned long x = 0;
    std::sscanf(text, "%lu", &x);
    v = static_cast<uint32_t>(x);
  }
  // The value keeps the descriptor's size, also in what is returned.
  switch (SizeBits(s.flags)) {
    case 8:
      v &= 0xFF;
      break;
    case 16:
      v &= 0xFFFF;
      break;
  }
  StoreInt(s.pValue, s.flags, v);
  return v;
}

char* ReadText(const Setting& templ, char* buf, uint32_t capacity) {
  Setting s = templ;
  s.pValue = buf;
  s.flags = kSetText | (capacity & kSetCapacityMask);
  Read(s);
  return buf;
}

std::string ReadText(const Setting& templ, uint32_t capacity) {
  std::vector<char> buf(capacity ? capacity : 1);
  ReadText(templ, buf.data(), static_cast<uint32_t>(buf.size()));
  return std::string(buf.data());
}

std::string FormatSettingValue(const Setting& s, const void* value) {
  if (s.flags & kSetText) return value ? static_cast<const char*>(value) : "";
  if (s.flags & kSetBool) return value && *static_cast<const int*>(value) ? "Yes" : "No";
  if (s.flags & kSetDouble) return Fmt("%lf", value ? *static_cast<const double*>(value) : 0.0);
  uint32_t v = LoadInt(value, s.flags);
  if (s.flags & kSetHex) {
    if (s.flags & kSet32) return Fmt("%X", v);
    if (s.flags & kSet8) return Fmt("%02X", v);
    if (s.flags & kSet16) return Fmt("%04hX", static_cast<unsigned short>(v));
    return Fmt("%08lX", static_cast<unsigned long>(v));
  }
  if (s.flags & kSetSigned) {
    long sv;
    switch (SizeBits(s.flags)) {
      case 8:
        sv = static_cast<int8_t>(v);
        break;
      case 16:
        sv = static_cast<int16_t>(v);
        break;
      default:
        sv = static_cast<int32_t>(v);
    }
    return Fmt("%ld", sv);
  }
  return Fmt("%lu", static_cast<unsigned long>(v));
}

bool Write(const Setting& s) {
  std::string text = FormatSettingValue(s, s.pValue);
  return WriteProfileText(s.section, s.key.c_str(), text.c_str(), SettingFile(s));
}

bool WriteValue(const Setting& templ, uint32_t value) {
  if (templ.flags & kSetBool) {
    int b = value != 0;
    Setting s = templ;
    s.pValue = &b;
    return Write(s);
  }
  if (templ.flags & kSetDouble) {
    double d = value;
    Setting s = templ;
    s.pValue = &d;
    return Write(s);
  }
  uint32_t v = value;
  uint16_t v16 = static_cast<uint16_t>(value);
  uint8_t v8 = static_cast<uint8_t>(value);
  Setting s = templ;
  s.pValue = SizeBits(s.flags) == 8    ? static_cast<void*>(&v8)
             : SizeBits(s.flags) == 16 ? static_cast<void*>(&v16)
                                       : static_cast<void*>(&v);
  return Write(s);
}

bool WriteText(const Setting& templ, const std::string& text) {
  return WriteProfileText(templ.section, templ.key.c_str(), text.c_str(), SettingFile(templ));
}

long FindTextNoCase(const std::string& text, const std::string& pattern) {
  size_t pos = FindNoCase(text, pattern);
  return pos == std::string::npos ? -1 : static_cast<long>(pos);
}

bool TidySettings(const std::vector<std::string>& keepSections) {
  const std::string path = SettingsPath();
  const std::string newPath = path + ".new";
  const std::string bakPath = path + ".bak";
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (!in) return false;
  std::FILE* out = std::fopen(newPath.c_str(), "wb");
  if (!out) {
    std::fclose(in);
    return false;
  }
  // Lines are copied as they stand, whatever their length (a value has no
  // length limit in the file); headers are read as the profile engine reads them.
  std::string data;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) data.append(buf, n);
  bool keep = true, prevEmpty = false, writeFailed = false;
  size_t pos = 0;
  while (!writeFailed && pos < data.size()) {
    size_t nl = data.find('\n', pos);
    size_t end = nl == std::string::npos ? data.size() : nl + 1;
    std::string text = data.substr(pos, end - pos);
    // A byte-order mark is not part of the first line's text.
    std::string line = pos == 0 && text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? text.substr(3) : text;
    pos = end;
    std::string name;
    if (ProfileSectionName(line, &name)) {
      keep = false;
      for (const std::string& k : keepSections)
        if (EqualsNoCase(k, name)) keep = true;
      if (!keep && !name.empty() && FileExists(name)) keep = true;
    }
    if (!keep) continue;
    bool empty = line.find_first_not_of("\r\n") == std::string::npos;
    if (empty && prevEmpty) continue;
    prevEmpty = empty;
    if (std::fwrite(text.data(), 1, text.size(), out) != text.size()) writeFailed = true;
  }
  bool bad = std::ferror(in) != 0 || writeFailed;
  std::fclose(in);
  if (std::fflush(out) != 0 || std::ferror(out) || fsync(fileno(out)) != 0) bad = true;
  if (std::fclose(out) != 0) bad = true;
  if (bad) {
    unlink(newPath.c_str());
    return false;
  }
  if (FileExists(bakPath) && unlink(bakPath.c_str()) != 0) return false;
  // The backup is a second name of the old file, and the new file replaces the
  // old name in one step: at no moment is there no settings file.
  if (link(path.c_str(), bakPath.c_str()) != 0 && std::rename(path.c_str(), bakPath.c_str()) != 0)
    return false;
  if (std::rename(newPath.c_str(), path.c_str()) != 0) return false;
  ForgetProfileCache();
  return true;
}
