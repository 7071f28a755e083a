#include "command/Accelerators.h"

namespace {
constexpr uint8_t V = FVIRTKEY | FNOINVERT;
constexpr uint8_t S = V | FSHIFT;
constexpr uint8_t C = V | FCONTROL;
constexpr uint8_t CS = V | FCONTROL | FSHIFT;
constexpr uint8_t A = V | FALT;
}  // namespace

// The first five entries are the ones the smaller tables leave out.
const AccelEntry kAccelEntries[kAccelCount] = {
    {V, VK_LEFT, 10037},
    {V, VK_RIGHT, 10039},
    {V, VK_DELETE, 10046},
    {V, VK_UP, 10038},
    {V, VK_DOWN, 10040},
    {A, VK_BACK, 14008},
    {V, VK_RETURN, 10013},
    {C, VK_RETURN, 21030},
    {V, VK_ESCAPE, 10027},
    {V, VK_SPACE, 10032},
    {S, VK_SPACE, 11032},
    {C, 'A', 12065},
    {CS, 'C', 41032},
    {C, 'D', 12068},
    {C, 'E', 12069},
    {A, 'M', 14077},
    {C, 'O', 40000},
    {CS, 'O', 40001},
    {C, 'R', 12082},
    {CS, 'R', 13082},
    {C, 'S', 12083},
    {CS, 'V', 41033},
    {C, 'W', 12087},
    {C, 'X', 12088},
    {C, 'Y', 12089},
    {C, 'Z', 12090},
    {C, VK_OEM_COMMA, 43002},
    {C, VK_OEM_PERIOD, 43004},
    {C, VK_OEM_4, 43001},
    {C, VK_OEM_6, 43003},
    {V, VK_F1, 10112},
    {V, VK_F1 + 1, 10113},
    {V, VK_F1 + 2, 10114},
    {C, VK_F1 + 2, 12114},
    {V, VK_F1 + 3, 10115},
    {C, VK_F1 + 3, 12115},
    {V, VK_F1 + 4, 10116},
    {C, VK_F1 + 4, 12116},
    {V, VK_F1 + 5, 10117},
    {C, VK_F1 + 5, 12117},
    {V, VK_F1 + 6, 10118},
    {C, VK_F1 + 6, 12118},
    {V, VK_F1 + 7, 10119},
    {C, VK_F1 + 7, 12119},
    {V, VK_F1 + 8, 10120},
    {V, VK_F1 + 9, 10121},
    {V, VK_F1 + 10, 10122},
    {V, VK_F1 + 11, 10123},
    {C, VK_LEFT, 12037},
    {CS, VK_LEFT, 13037},
    {C, VK_UP, 12038},
    {S, VK_UP, 11038},
    {CS, VK_UP, 13038},
    {C, VK_RIGHT, 12039},
    {CS, VK_RIGHT, 13039},
    {C, VK_DOWN, 12040},
    {S, VK_DOWN, 11040},
    {CS, VK_DOWN, 13040},
    {V, VK_INSERT, 10045},
    {C, VK_INSERT, 12045},
    {S, VK_INSERT, 11045},
    {C, VK_DELETE, 12046},
    {A, VK_DELETE, 14046},
    {S, VK_DELETE, 11046},
    {CS, VK_DELETE, 13046},
    {V, VK_HOME, 50606},
    {C, VK_HOME, 12036},
    {S, VK_HOME, 11036},
    {CS, VK_HOME, 13036},
    {V, VK_END, 50604},
    {C, VK_END, 50605},
    {S, VK_END, 11035},
    {CS, VK_END, 12035},
    {V, VK_NEXT, 50601},
    {C, VK_NEXT, 50603},
    {S, VK_NEXT, 50602},
    {V, VK_PRIOR, 50608},
    {C, VK_PRIOR, 50610},
    {S, VK_PRIOR, 50609},
    {V, VK_DIVIDE, 10111},
    {V, VK_MULTIPLY, 10106},
    {C, VK_SUBTRACT, 12109},
    {C, VK_ADD, 12107},
    {C, VK_NUMPAD0 + 0, 12096},
    {C, VK_NUMPAD0 + 1, 12097},
    {C, VK_NUMPAD0 + 2, 12098},
    {C, VK_NUMPAD0 + 3, 12099},
    {C, VK_NUMPAD0 + 4, 12100},
    {C, VK_NUMPAD0 + 5, 12101},
    {C, VK_NUMPAD0 + 6, 12102},
    {C, VK_NUMPAD0 + 7, 12103},
    {C, VK_NUMPAD0 + 8, 12104},
    {C, VK_NUMPAD0 + 9, 12105},
};

int AccelTableFirstEntry(int table) {
  static const int first[kAccelTableCount] = {0, 2, 3, 5};
  return table >= 0 && table < kAccelTableCount ? first[table] : kAccelCount;
}

int LookupAccelerator(int table, int vk, bool shift, bool ctrl, bool alt) {
  uint8_t mods = (shift ? FSHIFT : 0) | (ctrl ? FCONTROL : 0) | (alt ? FALT : 0);
  for (int i = AccelTableFirstEntry(table); i < kAccelCount; ++i) {
    const AccelEntry& e = kAccelEntries[i];
    if (e.key == vk && (e.fVirt & (FSHIFT | FCONTROL | FALT)) == mods) return e.cmd;
  }
  return 0;
}

int ChooseAccelTable(AccelWindowKind kind, bool correctionsPending) {
  switch (kind) {
    case AccelWindowKind::kMainWindow:
      // Without pending corrections Left and Right move the caret in the
      // frame-number box.
      return correctionsPending ? 0 : 1;
    case AccelWindowKind::kFieldShiftOrVolume:
      return 2;
    default:
      return 3;
  }
}
