// Numeric field filters and history lists.
#include <gtest/gtest.h>

#include "platform/DialogText.h"

TEST(DialogText, NumericFilterRemovesWhatTheFieldDoesNotAllow) {
  // A letter and a second point go at once; the caret sits where the last one was.
  FilteredText f = FilterNumeric("12.5x.3", kNumPoint);
  EXPECT_EQ(f.text, "12.53");
  EXPECT_EQ(f.caret, 4);
  EXPECT_DOUBLE_EQ(f.value, 12.53);
  EXPECT_EQ(FilterNumeric("125", kNumPoint).caret, -1);
  // A minus survives only in front and only with its flag.
  EXPECT_EQ(FilterNumeric("-7", kNumPoint).text, "7");
  EXPECT_EQ(FilterNumeric("-7", kNumMinus).text, "-7");
  EXPECT_EQ(FilterNumeric("7-", kNumMinus).text, "7");
  EXPECT_DOUBLE_EQ(FilterNumeric("-2.5", kNumMinus | kNumPoint).value, -2.5);
  EXPECT_EQ(FilterNumeric("1.5", 0).text, "15");
  // The rational form: one slash, a point on each side of it.
  EXPECT_EQ(FilterNumeric("29.97/1.0/2", kNumPoint | kNumSlash | kNumCombo).text, "29.97/1.02");
  EXPECT_EQ(FilterNumeric("30000/1001", kNumPoint).text, "300001001");
  EXPECT_EQ(FilterHex("1a-fG").text, "1AF");
}

TEST(DialogText, HistoryListsKeepOrderBarsAndCapacity) {
  std::string list = AddToHistory("", "/mnt/a|b", 4096);
  EXPECT_EQ(list, "/mnt/a||b");
  list = AddToHistory(list, "/home", 4096);
  list = AddToHistory(list, "/mnt/a|b", 4096);  // moves up, not doubled
  EXPECT_EQ(list, "/mnt/a||b|/home");
  EXPECT_EQ(SplitHistory(list), (std::vector<std::string>{"/mnt/a|b", "/home"}));
  // Each item adds 2 characters with its bar: at capacity 11 the oldest goes.
  std::string small;
  for (const char* item : {"a", "b", "c", "d", "e"}) small = AddToHistory(small, item, 11);
  EXPECT_EQ(small, "e|d|c|b|a");
  small = AddToHistory(small, "f", 11);
  EXPECT_EQ(small, "f|e|d|c|b");
  EXPECT_EQ(JoinHistory({std::string(512, 'x'), "y"}, 4096), "y");
  EXPECT_TRUE(SplitHistory("").empty());
}

TEST(DialogText, QuotedStringsAndPlacement) {
  std::string out;
  size_t end = 0;
  EXPECT_EQ(ReadQuotedString(R"(/line:"say ""hi""" rest)", 100, &out, &end), 8);
  EXPECT_EQ(out, R"(say "hi")");
  EXPECT_EQ(end, 18u);
  EXPECT_EQ(ReadQuotedString(R"("open)", 100, &out, &end), 4);
  EXPECT_EQ(ReadQuotedString(R"("abcdef")", 4, &out, &end), -3);
  EXPECT_EQ(out, "abc");
  PlacementRect r = ClampPlacement({1900, -20, 50, 40}, {0, 0, 1920, 1080});
  EXPECT_EQ(r.width, 100);
  EXPECT_EQ(r.height, 100);
  EXPECT_EQ(r.left, 1820);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(SpinStep(5, 1, 0, 5), 5);
  EXPECT_EQ(SpinStep(0, -1, -3, 5), -1);
}
