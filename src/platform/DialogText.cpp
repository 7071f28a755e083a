#include "platform/DialogText.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

constexpr size_t kFieldChars = 32;  // the classic number field's buffer
constexpr size_t kLongestItem = 512;

FilteredText Finish(std::string kept, int caret) {
  FilteredText r;
  r.value = std::atof(kept.c_str());
  r.text = std::move(kept);
  r.caret = caret;
  return r;
}

}  // namespace

FilteredText FilterNumeric(const std::string& text, int flags) {
  std::string kept;
  int caret = -1;
  bool pointAllowed = flags & kNumPoint;
  bool slashAllowed = flags & kNumSlash;
  size_t n = std::min(text.size(), kFieldChars);
  for (size_t i = 0; i < n; ++i) {
    char c = text[i];
    bool keep = false;
    if (c >= '0' && c <= '9') {
      keep = true;
    } else if (c == '.' && pointAllowed) {
      keep = true;
      pointAllowed = false;
    } else if (c == '-' && (flags & kNumMinus) && kept.empty()) {
      keep = true;
    } else if (c == '/' && slashAllowed) {
      keep = true;
      slashAllowed = false;
      pointAllowed = flags & kNumPoint;  // the denominator may have its own
    }
    if (keep)
      kept += c;
    else
      caret = static_cast<int>(kept.size());
  }
  if (text.size() > n) caret = static_cast<int>(kept.size());
  return Finish(std::move(kept), caret);
}

FilteredText FilterHex(const std::string& text) {
  std::string kept;
  int caret = -1;
  for (char c : text) {
    char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if ((u >= '0' && u <= '9') || (u >= 'A' && u <= 'F'))
      kept += u;
    else
      caret = static_cast<int>(kept.size());
  }
  FilteredText r = Finish(std::move(kept), caret);
  r.value = static_cast<double>(std::strtoull(r.text.c_str(), nullptr, 16));
  return r;
}

std::vector<std::string> SplitHistory(const std::string& list) {
  std::vector<std::string> items;
  if (list.empty()) return items;
  std::string item;
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i] != '|') {
      item += list[i];
    } else if (i + 1 < list.size() && list[i + 1] == '|') {
      item += '|';
      ++i;
    } else {
      items.push_back(std::move(item));
      item.clear();
    }
  }
  items.push_back(std::move(item));
  return items;
}

std::string JoinHistory(const std::vector<std::string>& items, size_t capacity) {
  std::string list;
  size_t limit = capacity > 2 ? capacity - 2 : 0;
  for (const std::string& item : items) {
    if (item.size() >= kLongestItem) continue;
    std::string escaped;
    for (char c : item) {
      escaped += c;
      if (c == '|') escaped += '|';
    }
    size_t grown = list.size() + (list.empty() ? 0 : 1) + escaped.size();
    if (grown > limit) break;  // this one and every older one drop out
    if (!list.empty()) list += '|';
    list += escaped;
  }
  return list;
}

std::string AddToHistory(const std::string& list, const std::string& item, size_t capacity) {
  std::vector<std::string> items = SplitHistory(list);
  items.erase(std::remove(items.begin(), items.end(), item), items.end());
  items.insert(items.begin(), item);
  return JoinHistory(items, capacity);
}

long ReadQuotedString(const std::string& source, size_t capacity, std::string* out, size_t* end) {
  out->clear();
  size_t i = source.find('"');
  if (i == std::string::npos) {
    if (end) *end = source.size();
    return -1;
  }
  ++i;
  long missing = 0;
  size_t room = capacity ? capacity - 1 : 0;
  for (; i < source.size(); ++i) {
    if (source[i] == '"') {
      if (i + 1 < source.size() && source[i + 1] == '"') {
        ++i;  // a doubled quote stands for one
      } else {
        ++i;
        break;
      }
    }
    if (out->size() < room)
      *out += source[i];
    else
      ++missing;
  }
  if (end) *end = i;
  return missing ? -missing : static_cast<long>(out->size());
}

long SpinStep(long value, int direction, long minimum, long maximum) {
  long v = value + (direction > 0 ? 1 : direction < 0 ? -1 : 0);
  return std::clamp(v, minimum, std::max(minimum, maximum));
}

PlacementRect ClampPlacement(PlacementRect wanted, PlacementRect desktop) {
  PlacementRect r = wanted;
  r.width = std::max(r.width, 100);
  r.height = std::max(r.height, 100);
  if (r.left + r.width > desktop.left + desktop.width) r.left = desktop.left + desktop.width - r.width;
  if (r.left < desktop.left) r.left = desktop.left;
  if (r.top + r.height > desktop.top + desktop.height) r.top = desktop.top + desktop.height - r.height;
  if (r.top < desktop.top) r.top = desktop.top;
  return r;
}
