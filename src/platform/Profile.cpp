#include "platform/Profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/Format.h"
#include "platform/Paths.h"

namespace {

struct CachedFile {
  bool exists = false;
  bool unreadable = false;  // exists but could not be read: never overwrite it
  bool dirty = false;       // changed inside a batch, not yet on disk
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  struct timespec mtime = {};
  std::vector<std::string> lines;  // without line ends
};

std::map<std::string, CachedFile> gCache;
int gBatchDepth = 0;

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
  return s.substr(b, e - b);
}

bool StatMatches(const CachedFile& c, const struct stat& st) {
  return c.exists && c.dev == st.st_dev && c.ino == st.st_ino && c.size == st.st_size &&
         c.mtime.tv_sec == st.st_mtim.tv_sec && c.mtime.tv_nsec == st.st_mtim.tv_nsec;
}

void Remember(CachedFile& c, const struct stat& st) {
  c.exists = true;
  c.dev = st.st_dev;
  c.ino = st.st_ino;
  c.size = st.st_size;
  c.mtime = st.st_mtim;
}

CachedFile& Load(const std::string& file) {
  CachedFile& c = gCache[file];
  if (c.dirty) return c;  // pending batch changes are the truth
  struct stat st;
  if (stat(file.c_str(), &st) != 0) {
    c = CachedFile();
    c.unreadable = errno != ENOENT && errno != ENOTDIR;
    return c;
  }
  if (StatMatches(c, st) && !c.unreadable) return c;
  c = CachedFile();
  int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    c.unreadable = true;
    c.exists = true;
    return c;
  }
  std::string data;
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      c.unreadable = true;
      c.exists = true;
      return c;
    }
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  size_t pos = 0;
  // A byte-order mark written by other editors is not part of the first line.
  if (data.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
  while (pos < data.size()) {
    size_t nl = data.find('\n', pos);
    size_t end = nl == std::string::npos ? data.size() : nl;
    size_t lineEnd = end;
    if (lineEnd > pos && data[lineEnd - 1] == '\r') --lineEnd;
    c.lines.emplace_back(data, pos, lineEnd - pos);
    pos = nl == std::string::npos ? data.size() : nl + 1;
  }
  Remember(c, st);
  return c;
}

// Text is stored so that it reads back as written: a backslash becomes "\\",
// CR and LF "\r" and "\n", and what the line format would eat or misread
// becomes "\xHH": a blank or tab at either end (trimmed), a value's opening
// quote when the same quote ends it (stripped), a key's '=' and a leading ';'
// or '[' (comment, header), a section name's ']'. Text without these is
// stored as it is, so files written before read as they did.
enum class Part { Value, Key, Section };

std::string Escape(const std::string& text, Part part) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    bool atEnd = i == 0 || i + 1 == text.size();
    bool hex =
        (atEnd && (c == ' ' || c == '\t')) ||
        (part == Part::Value && i == 0 && (c == '"' || c == '\'') && text.size() >= 2 && text.back() == c) ||
        (part == Part::Key && (c == '=' || (i == 0 && (c == ';' || c == '[')))) ||
        (part == Part::Section && c == ']');
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (hex) {
      static const char kHex[] = "0123456789ABCDEF";
      unsigned char u = static_cast<unsigned char>(c);
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else
      out += c;
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Undoes Escape; a backslash that starts no escape stays as it is.
std::string Unescape(const std::string& text) {
  if (text.find('\\') == std::string::npos) return text;
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    char next = i + 1 < text.size() ? text[i + 1] : 0;
    if (c != '\\') {
      out += c;
    } else if (next == '\\' || next == 'n' || next == 'r') {
      out += next == 'n' ? '\n' : next == 'r' ? '\r' : '\\';
      ++i;
    } else if (next == 'x' && i + 3 < text.size() && HexDigit(text[i + 2]) >= 0 &&
               HexDigit(text[i + 3]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 2]) * 16 + HexDigit(text[i + 3]));
      i += 3;
    } else {
      out += c;
    }
  }
  return out;
}

// Section name of a header line, or false when the line is no header.
bool SectionOf(const std::string& line, std::string* name) {
  std::string t = Trim(line);
  if (t.empty() || t[0] != '[') return false;
  size_t close = t.find(']');
  *name = Unescape(Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
  return true;
}

// Key of a key line (text before '='), or false for comments and blank lines.
bool KeyOf(const std::string& line, std::string* key, std::string* value) {
  size_t eq = line.find('=');
  if (eq == std::string::npos) return false;
  std::string k = Trim(line.substr(0, eq));
  if (k.empty() || k[0] == ';') return false;
  *key = Unescape(k);
  if (value) *value = Trim(line.substr(eq + 1));
  return true;
}

// Range [begin, end) of the section's lines (header excluded); begin = npos when missing.
void FindSection(const CachedFile& c, const std::string& section, size_t* header, size_t* end) {
  *header = std::string::npos;
  *end = c.lines.size();
  std::string name;
  for (size_t i = 0; i < c.lines.size(); ++i) {
    if (!SectionOf(c.lines[i], &name)) continue;
    if (*header != std::string::npos) {
      *end = i;
      return;
    }
    if (EqualsNoCase(name, section)) *header = i;
  }
}

bool Flush(const std::string& file, CachedFile& c) {
  std::string data;
  for (const std::string& line : c.lines) {
    data += line;
    data += "\r\n";
  }
  std::string dir = DirectoryPart(file);
  if (!dir.empty()) MakeDirectories(dir);
  std::string tmpName = file + ".tmp.XXXXXX";
  std::vector<char> tmpl(tmpName.begin(), tmpName.end());
  tmpl.push_back(0);
  int fd = mkstemp(tmpl.data());
  if (fd < 0) return false;
  struct stat old;
  if (stat(file.c_str(), &old) == 0)
    fchmod(fd, old.st_mode & 07777);
  else
    fchmod(fd, 0644);
  const char* p = data.data();
  size_t left = data.size();
  bool ok = true;
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  if (ok && fsync(fd) != 0) ok = false;
  if (close(fd) != 0) ok = false;
  if (ok && rename(tmpl.data(), file.c_str()) != 0) ok = false;
  if (!ok) {
    unlink(tmpl.data());
    return false;
  }
  int dfd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  struct stat st;
  if (stat(file.c_str(), &st) == 0) Remember(c, st);
  c.dirty = false;
  return true;
}

}  // namespace

std::string GetProfileText(const std::string& section, const std::string& key, const std::string& defaultText,
                           const std::string& file) {
  CachedFile& c = Load(file);
  size_t header, end;
  FindSection(c, section, &header, &end);
  if (header != std::string::npos) {
    std::string k, v;
    for (size_t i = header + 1; i < end; ++i) {
      if (KeyOf(c.lines[i], &k, &v) && EqualsNoCase(k, key)) {
        if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
        return Unescape(v);
      }
    }
  }
  return Trim(defaultText);
}

size_t GetProfileText(const std::string& section, const std::string& key, const char* defaultText, char* buf,
                      size_t capacity, const std::string& file) {
  if (!buf || capacity == 0) return 0;
  std::string v = GetProfileText(section, key, std::string(defaultText ? defaultText : ""), file);
  v = CutUtf8(v, capacity - 1);
  std::memcpy(buf, v.data(), v.size());
  buf[v.size()] = 0;
  return v.size();
}

bool WriteProfileText(const std::string& section, const char* key, const char* value,
                      const std::string& file) {
  CachedFile& c = Load(file);
  if (c.unreadable) return false;
  size_t header, end;
  FindSection(c, section, &header, &end);
  if (!key) {
    if (header == std::string::npos) return true;
    c.lines.erase(c.lines.begin() + static_cast<long>(header), c.lines.begin() + static_cast<long>(end));
  } else {
    size_t found = std::string::npos;
    if (header != std::string::npos) {
      std::string k;
      for (size_t i = header + 1; i < end; ++i) {
        if (KeyOf(c.lines[i], &k, nullptr) && EqualsNoCase(k, key)) {
          found = i;
          break;
        }
      }
    }
    std::string line = Escape(key, Part::Key) + "=" + Escape(value ? value : "", Part::Value);
    if (found != std::string::npos) {
      if (value)
        c.lines[found] = line;
      else
        c.lines.erase(c.lines.begin() + static_cast<long>(found));
    } else if (value) {
      if (header == std::string::npos) {
        c.lines.push_back("[" + Escape(section, Part::Section) + "]");
        c.lines.push_back(line);
      } else {
        // Behind the section's last non-empty line, so blank separators stay between sections.
        size_t at = end;
        while (at > header + 1 && Trim(c.lines[at - 1]).empty()) --at;
        c.lines.insert(c.lines.begin() + static_cast<long>(at), line);
      }
    } else {
      return true;
    }
  }
  if (gBatchDepth > 0) {
    c.dirty = true;
    return true;
  }
  return Flush(file, c);
}

bool ProfileSectionName(const std::string& line, std::string* name) {
  return SectionOf(line, name);
}

std::vector<std::string> GetProfileSections(const std::string& file) {
  std::vector<std::string> names;
  std::string name;
  for (const std::string& line : Load(file).lines)
    if (SectionOf(line, &name)) names.push_back(name);
  return names;
}

void BeginProfileBatch() {
  ++gBatchDepth;
}

bool EndProfileBatch() {
  if (gBatchDepth == 0 || --gBatchDepth > 0) return true;
  bool ok = true;
  for (auto& [file, c] : gCache)
    if (c.dirty && !Flush(file, c)) {
      ok = false;
      c = CachedFile();  // drop the unwritten changes; the next read sees the disk again
    }
  return ok;
}

void ForgetProfileCache() {
  for (auto it = gCache.begin(); it != gCache.end();) {
    if (it->second.dirty)
      ++it;
    else
      it = gCache.erase(it);
  }
}
