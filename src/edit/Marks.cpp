#include "edit/Marks.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "avi/DeletionView.h"
#include "platform/Format.h"
#include "platform/Host.h"
#include "platform/Messages.h"
#include "platform/Paths.h"
#include "platform/Profile.h"

namespace {

const char kMarkKey[] = "FrameMark";
const char kRangeKey[] = "DeleteRange";

OpenAviFile* FileOf(OpenAviTable& table, int file) {
  if (file < 0 || file >= table.nOpenAvi || file >= static_cast<int>(table.pOpenAviList.size()))
    return nullptr;
  return &table.pOpenAviList[static_cast<size_t>(file)];
}

void SetComment(char (&dest)[72], const std::string& text) {
  std::string cut = CutUtf8(text, kMaxCommentLength);
  std::memcpy(dest, cut.data(), cut.size());
  dest[cut.size()] = 0;
}

// A number of the current view of the file as a number of set 0.
int64_t ToUnedited(const OpenAviTable& table, const OpenAviFile& avi, int64_t n) {
  return table.deleteRangesOn ? UndeletedFrameNo(avi, n) : n;
}

// The stored form of a comment: every "|" doubled.
void AppendComment(std::string* out, const char* comment) {
  for (const char* p = comment; *p; ++p) {
    if (*p == '|') *out += '|';
    *out += *p;
  }
}

// Splits a stored value at its single "|"s; "||" is a "|" of the text.
std::vector<std::string> SplitEntries(std::string value) {
  // The last separator is not stored.
  value += '|';
  std::vector<std::string> entries;
  std::string cur;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '|') {
      cur += value[i];
    } else if (i + 1 < value.size() && value[i + 1] == '|') {
      cur += '|';
      ++i;
    } else {
      entries.push_back(std::move(cur));
      cur.clear();
    }
  }
  // Text behind the last separator (a value ending in a lone "|").
  if (!cur.empty()) entries.push_back(std::move(cur));
  return entries;
}

// A decimal number at *pos (digits only, at least one); a number too large
// for any file is INT64_MAX. Moves *pos behind it.
bool ParseNumber(const std::string& s, size_t* pos, int64_t* value) {
  size_t i = *pos;
  int64_t v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    v = v > (INT64_MAX - 9) / 10 ? INT64_MAX : v * 10 + (s[i] - '0');
    ++i;
  }
  if (i == *pos) return false;
  *pos = i;
  *value = v;
  return true;
}

// The text behind a number and its one separator character.
std::string CommentAfter(const std::string& entry, size_t pos) {
  return pos + 1 < entry.size() ? entry.substr(pos + 1) : std::string();
}

}  // namespace

bool SetMark(OpenAviTable& table, int file, int64_t frame, const std::string& comment, int flags) {
  if ((flags & 2) && frame >= 0) {
    // Global forms: the file is the one the number falls in.
    bool set0 = (flags & 4) != 0;
    if (frame >= table.TotalFrames(set0)) return false;
    FramePlace p = table.GlobalToLocal(static_cast<uint32_t>(frame), set0);
    file = p.file;
    frame = p.frame;
  }
  OpenAviFile* avi = FileOf(table, file);
  if (!avi || frame < 0) return false;
  if (!(flags & 4)) {
    if (frame >= avi->Set().FrameMax) return false;
    frame = ToUnedited(table, *avi, frame);
  }
  if (frame >= avi->sets[0].FrameMax) return false;
  std::vector<FrameMark>& marks = avi->marks;
  size_t at = 0;
  while (at < marks.size() && marks[at].lFrame < frame) ++at;
  bool found = at < marks.size() && marks[at].lFrame == frame;
  if (flags & kMarkRemove) {
    if (!found) return false;
    marks.erase(marks.begin() + static_cast<long>(at));
    return true;
  }
  if (found) {
    SetComment(marks[at].szComment, comment);
    return true;
  }
  FrameMark m;
  m.lFrame = static_cast<int32_t>(frame);
  m.lShown = static_cast<int32_t>(table.deleteRangesOn ? deletedFrameNo(*avi, frame) : frame);
  SetComment(m.szComment, comment);
  try {
    marks.insert(marks.begin() + static_cast<long>(at), m);
  } catch (const std::bad_alloc&) {
    Message(MB_OK | MB_ICONSTOP, "必要なメモリ(フレームマーク用)が確保できません!");
    return false;
  }
  return true;
}

bool AddDeleteRange(OpenAviTable& table, int file, int64_t first, int64_t last, const std::string* comment,
                    bool unedited) {
  OpenAviFile* avi = FileOf(table, file);
  if (!avi || avi->sets[0].FrameMax == 0) return false;
  const int64_t frames = avi->sets[0].FrameMax;
  first = first == -1 ? 0 : unedited ? first : ToUnedited(table, *avi, first);
  last = last == -1 ? frames - 1 : unedited ? last : ToUnedited(table, *avi, last);
  if (first < 0 || last < first || first >= frames) return false;
  last = std::min(last, frames - 1);

  std::vector<DeleteRange>& ranges = avi->deleteRanges;
  size_t i = 0;
  while (i < ranges.size() && !(first <= ranges[i].lFrame2 && ranges[i].lFrame1 <= last)) ++i;
  if (i < ranges.size()) {
    // Every range from the first overlapping one on that starts by `last`
    // becomes one; the comments are joined behind the first one's.
    size_t end = i + 1;
    while (end < ranges.size() && ranges[end].lFrame1 <= last) ++end;
    int64_t mergedFirst = std::min<int64_t>(ranges[i].lFrame1, first);
    int64_t mergedLast = std::max<int64_t>(ranges[end - 1].lFrame2, last);
    std::string text = ranges[i].szComment;
    auto join = [&text](const std::string& more) {
      if (!more.empty() && text.size() < kMaxCommentLength - 1)
        text = CutUtf8(text + "," + more, kMaxCommentLength);
    };
    for (size_t j = i + 1; j < end; ++j) join(ranges[j].szComment);
    if (comment) {
      join(*comment);
    } else if (!CurrentHost().EditComment(Fmt("%s の\r削除範囲のコメント", avi->szFileName.c_str()), &text)) {
      return false;
    }
    ranges[i].lFrame1 = static_cast<int32_t>(mergedFirst);
    ranges[i].lFrame2 = static_cast<int32_t>(mergedLast);
    SetComment(ranges[i].szComment, text);
    ranges.erase(ranges.begin() + static_cast<long>(i + 1), ranges.begin() + static_cast<long>(end));
    return true;
  }
  std::string text = comment ? *comment : std::string();
  if (!comment &&
      !CurrentHost().EditComment(Fmt("%s の\r削除範囲のコメント", avi->szFileName.c_str()), &text))
    return false;
  DeleteRange r;
  r.lFrame1 = static_cast<int32_t>(first);
  r.lFrame2 = static_cast<int32_t>(last);
  SetComment(r.szComment, text);
  size_t at = 0;
  while (at < ranges.size() && ranges[at].lFrame1 <= last) ++at;
  try {
    ranges.insert(ranges.begin() + static_cast<long>(at), r);
  } catch (const std::bad_alloc&) {
    Message(MB_OK | MB_ICONSTOP, "必要なメモリ(フレーム削除範囲用)が確保できません!");
    return false;
  }
  return true;
}

std::string FormatFrameMarks(const OpenAviFile& avi) {
  std::string out;
  for (const FrameMark& m : avi.marks) {
    out += std::to_string(m.lFrame) + ",";
    AppendComment(&out, m.szComment);
    out += '|';
  }
  if (!out.empty()) out.pop_back();
  return out;
}

std::string FormatDeleteRanges(const OpenAviFile& avi) {
  std::string out;
  for (const DeleteRange& r : avi.deleteRanges) {
    out += std::to_string(r.lFrame1) + "," + std::to_string(r.lFrame2) + ",";
    AppendComment(&out, r.szComment);
    out += '|';
  }
  if (!out.empty()) out.pop_back();
  return out;
}

void ParseFrameMarks(OpenAviTable& table, int file, const std::string& value) {
  OpenAviFile* avi = FileOf(table, file);
  if (!avi) return;
  for (const std::string& entry : SplitEntries(value)) {
    size_t pos = 0;
    int64_t frame;
    // The numbers are of the file's own frames: its unedited count bounds them.
    if (!ParseNumber(entry, &pos, &frame) || frame >= avi->sets[0].FrameMax) continue;
    if (!SetMark(table, file, frame, CommentAfter(entry, pos), kMarkLocalUnedited)) return;  // out of memory
  }
}

void ParseDeleteRanges(OpenAviTable& table, int file, const std::string& value) {
  OpenAviFile* avi = FileOf(table, file);
  if (!avi) return;
  for (const std::string& entry : SplitEntries(value)) {
    size_t pos = 0;
    int64_t first, last;
    if (!ParseNumber(entry, &pos, &first) || ++pos > entry.size() || !ParseNumber(entry, &pos, &last))
      continue;
    if (last < first) std::swap(first, last);
    if (last >= avi->sets[0].FrameMax) continue;
    std::string comment = CommentAfter(entry, pos);
    AddDeleteRange(table, file, first, last, &comment, true);
  }
}

bool SerializeMarks(OpenAviTable& table, int file, const std::string& path, bool save) {
  OpenAviFile* avi = FileOf(table, file);
  if (!avi) return false;
  const std::string target = path.empty() ? SettingsPath() : path;
  const std::string& section = avi->szFileName;
  if (save) {
    std::string marks = FormatFrameMarks(*avi), ranges = FormatDeleteRanges(*avi);
    BeginProfileBatch();
    bool ok = WriteProfileText(section, kMarkKey, marks.empty() ? nullptr : marks.c_str(), target);
    ok = WriteProfileText(section, kRangeKey, ranges.empty() ? nullptr : ranges.c_str(), target) && ok;
    return EndProfileBatch() && ok;
  }
  std::string marks = GetProfileText(section, kMarkKey, std::string(), target);
  std::string ranges = GetProfileText(section, kRangeKey, std::string(), target);
  // A file with nothing stored keeps the view its open built.
  if (marks.empty() && ranges.empty()) return true;
  ParseFrameMarks(table, file, marks);
  ParseDeleteRanges(table, file, ranges);
  if (table.deleteRangesOn) ChangeOpenAviParam(avi, true, table.EffectiveFrameRate());
  return true;
}

bool LoadMarkFileByResolvedPaths(OpenAviTable& table, const std::string& markFile) {
  if (!FileReadable(markFile)) {
    Message(MB_OK | MB_ICONSTOP, nullptr, "%sが開けません!", markFile.c_str());
    return false;
  }
  std::vector<std::string> sections = GetProfileSections(markFile);
  std::vector<std::string> resolved;
  for (const std::string& s : sections) resolved.push_back(ResolvedPath(s));
  for (int i = 0; i < table.nOpenAvi; ++i) {
    OpenAviFile& avi = table.pOpenAviList[static_cast<size_t>(i)];
    std::string own = ResolvedPath(avi.szFileName);
    for (size_t k = 0; k < sections.size() && !own.empty(); ++k) {
      if (resolved[k] != own) continue;
      ParseFrameMarks(table, i, GetProfileText(sections[k], kMarkKey, std::string(), markFile));
      ParseDeleteRanges(table, i, GetProfileText(sections[k], kRangeKey, std::string(), markFile));
      break;
    }
    if (table.deleteRangesOn) ChangeOpenAviParam(&avi, true, table.EffectiveFrameRate());
  }
  return true;
}

bool ViewThroughMarkFile(OpenAviTable& table, const std::string& markFile) {
  if (!LoadMarkFileByResolvedPaths(table, markFile)) return false;
  table.deleteRangesOn = true;
  bool ok = true;
  for (int i = 0; i < table.nOpenAvi; ++i)
    ok = ChangeOpenAviParam(&table.pOpenAviList[static_cast<size_t>(i)], true, table.EffectiveFrameRate()) &&
         ok;
  table.SelectOpenAvi(table.nOpenAviIndex);
  return ok;
}
