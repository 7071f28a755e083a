// Text rules of the dialog controls that need no window: the numeric and
// hexadecimal input filters, history lists kept in one text, the quoted-string
// reader, the spin-button step and the placement of a remembered window.
// (File-name part and extension are FileNamePart/ExtensionPart of Paths.h.)
#pragma once
#include <cstddef>
#include <string>
#include <vector>

// Flags of the numeric filter.
enum : int {
  kNumCombo = 1,  // the field is the edit of a combo box
  kNumMinus = 2,  // a leading "-" is allowed
  kNumPoint = 4,  // one decimal point (and one more after the "/")
  kNumSlash = 8,  // one "/", as in the rational "30000/1001"
};

struct FilteredText {
  std::string text;
  int caret = -1;    // where the last removed character was, -1 when nothing was removed
  double value = 0;  // the kept text read as atof does
};

// Keeps the characters a numeric field allows (at most the first 32 are read).
FilteredText FilterNumeric(const std::string& text, int flags);
// Keeps hexadecimal digits, letters upper-cased.
FilteredText FilterHex(const std::string& text);

// History list text: items joined by "|", a "|" in an item doubled, most
// recent first.
std::vector<std::string> SplitHistory(const std::string& list);
// Items in order; items of 512 characters or more are skipped and items are
// dropped from the end while the text would need more than capacity - 2.
std::string JoinHistory(const std::vector<std::string>& items, size_t capacity);
// Puts `item` first (an earlier copy is removed) and joins the list again.
std::string AddToHistory(const std::string& list, const std::string& item, size_t capacity);

// Reads a quoted string from `source`: from the first double quote up to the
// next single one ("" inside stands for one quote; without a closing quote the
// rest is taken). `capacity` counts the terminator of the original buffer:
// at most capacity - 1 characters are stored. Returns the length, or minus the
// number of characters that did not fit. *end is the index behind the closing
// quote (or the end of the source); -1 and nothing read when there is no quote.
long ReadQuotedString(const std::string& source, size_t capacity, std::string* out, size_t* end);

// A spin button's step: value + direction, held within [minimum, maximum].
long SpinStep(long value, int direction, long minimum, long maximum);

// Where a window remembered as (left, top, width, height) goes on a desktop:
// width and height below 100 become 100 and the window is moved inside.
struct PlacementRect {
  int left, top, width, height;
};
PlacementRect ClampPlacement(PlacementRect wanted, PlacementRect desktop);
