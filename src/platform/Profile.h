// Profile ("INI") files with the lookup rules of the classic profile API:
// sections and keys match without regard to letter case, blanks around keys
// and values are trimmed, a value in matching quotes loses them, values are cut
// to the caller's capacity, a missing file or key yields the default.
//
// Values, keys and section names read back exactly as they were written:
// text that the line format would break or misread (CR, LF, "]" in a section
// name, blanks at the ends, ...) is stored with backslash escapes, which
// reading undoes; text without such characters is stored as it is.
//
// Every change is written atomically (temporary file, flush to disk, rename),
// so a crash or a full disk leaves either the old or the new file, never a
// half-written one. A file that exists but cannot be read is never replaced.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

// Copies the value (or the default) into buf, at most capacity - 1 bytes plus
// the terminator, and returns the number of bytes copied. capacity 0 copies
// nothing and returns 0.
size_t GetProfileText(const std::string& section, const std::string& key, const char* defaultText, char* buf,
                      size_t capacity, const std::string& file);
// Convenience form without a capacity limit.
std::string GetProfileText(const std::string& section, const std::string& key, const std::string& defaultText,
                           const std::string& file);

// Sets key=value in section (created at the end when missing). value nullptr
// removes the key; key nullptr removes the whole section. Returns false when
// the file could not be read or written; the old file then stays as it was.
bool WriteProfileText(const std::string& section, const char* key, const char* value,
                      const std::string& file);

// When the file line is a section header, its name as a lookup sees it.
bool ProfileSectionName(const std::string& line, std::string* name);

// Names of all sections of the file, in file order.
std::vector<std::string> GetProfileSections(const std::string& file);

// While a batch is open, writes collect in memory and reach the disk once when
// the outermost batch ends; EndProfileBatch returns false when that failed.
void BeginProfileBatch();
bool EndProfileBatch();

// Forgets cached file contents (tests that change files behind our back).
void ForgetProfileCache();
