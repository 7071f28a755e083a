#include "edit/MarkMenu.h"

#include "platform/Format.h"

uint32_t UneditedFramesBefore(const OpenAviTable& table, int file) {
  return table.LocalToGlobal(file, 0, true);
}

MarkMenuCaptions BuildMarkMenuCaptions(const OpenAviTable& table, uint32_t relativeBase) {
  MarkMenuCaptions c;
  const bool on = table.deleteRangesOn;
  const bool relative = relativeBase > 0;
  const long b = static_cast<long>(relativeBase);
  int n = 0;
  for (int i = 0; i < table.nOpenAvi; ++i) {
    const OpenAviFile& avi = table.pOpenAviList[static_cast<size_t>(i)];
    const long unedited = static_cast<long>(table.LocalToGlobal(i, 0, true));
    const long current = static_cast<long>(table.LocalToGlobal(i, 0, false));
    for (const FrameMark& m : avi.marks) {
      ++n;
      long u = m.lFrame + unedited, cur = m.lShown + current;
      const char* text = m.szComment;
      if (!on)
        c.marks.push_back(relative ? Fmt("%d.マーク位置 %+07ld に移動？ [%s]", n, u - b, text)
                                   : Fmt("%d.マーク位置 %06ld に移動？ [%s]", n, u, text));
      else if (m.lShown < 0)
        c.marks.push_back(relative ? Fmt("%d.マーク位置 %06ld/******* に移動？ [%s]", n, u, text)
                                   : Fmt("%d.マーク位置 %06ld/****** に移動？ [%s]", n, u, text));
      else
        c.marks.push_back(relative ? Fmt("%d.マーク位置 %06ld/%+07ld に移動？ [%s]", n, u, cur - b, text)
                                   : Fmt("%d.マーク位置 %06ld/%06ld に移動？ [%s]", n, u, cur, text));
    }
  }
  unsigned r = 0;
  for (int i = 0; i < table.nOpenAvi; ++i) {
    const OpenAviFile& avi = table.pOpenAviList[static_cast<size_t>(i)];
    const long before = static_cast<long>(table.LocalToGlobal(i, 0, true));
    for (const DeleteRange& d : avi.deleteRanges) {
      ++r;
      long first = d.lFrame1 + before;
      unsigned long last = static_cast<unsigned long>(d.lFrame2 + before);
      c.selectRanges.push_back(
          Fmt("%u.フレーム削除範囲 %06ld-%06lu を選択 [%s]", r, first, last, d.szComment));
      c.deleteRanges.push_back(
          Fmt("%u.フレーム削除範囲 %06ld-%06lu を削除 [%s]", r, first, last, d.szComment));
    }
  }
  return c;
}

template <class Member>
static MarkEntry FindEntry(const OpenAviTable& table, size_t n, Member member) {
  for (int i = 0; i < table.nOpenAvi; ++i) {
    size_t count = (table.pOpenAviList[static_cast<size_t>(i)].*member).size();
    if (n < count) return {i, n};
    n -= count;
  }
  return {};
}

MarkEntry FindMarkEntry(const OpenAviTable& table, size_t n) {
  return FindEntry(table, n, &OpenAviFile::marks);
}

MarkEntry FindRangeEntry(const OpenAviTable& table, size_t n) {
  return FindEntry(table, n, &OpenAviFile::deleteRanges);
}
