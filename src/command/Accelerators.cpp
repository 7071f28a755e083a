#include "command/Accelerators.h"

#include "command/CommandIds.h"

namespace {
constexpr uint8_t V = FVIRTKEY | FNOINVERT;
constexpr uint8_t S = V | FSHIFT;
constexpr uint8_t C = V | FCONTROL;
constexpr uint8_t CS = V | FCONTROL | FSHIFT;
constexpr uint8_t A = V | FALT;
}  // namespace

// The first five entries are the ones the smaller tables leave out.
const AccelEntry kAccelEntries[kAccelCount] = {
    {V, VK_LEFT, kCmdKeyLeft},
    {V, VK_RIGHT, kCmdKeyRight},
    {V, VK_DELETE, kCmdKeyDelete},
    {V, VK_UP, kCmdKeyUp},
    {V, VK_DOWN, kCmdKeyDown},
    {A, VK_BACK, kCmdAltBackspace},
    {V, VK_RETURN, kCmdKeyEnter},
    {C, VK_RETURN, kCmdPreviewCorrection},
    {V, VK_ESCAPE, kCmdEsc},
    {V, VK_SPACE, kCmdKeySpace},
    {S, VK_SPACE, kCmdShiftSpace},
    {C, 'A', kCmdCtrlA},
    {CS, 'C', kCmdCopyToClipboard},
    {C, 'D', kCmdCtrlD},
    {C, 'E', kCmdCtrlE},
    {A, 'M', kCmdAltM},
    {C, 'O', kCmdOpen},
    {CS, 'O', kCmdOpenAdd},
    {C, 'R', kCmdCtrlR},
    {CS, 'R', kCmdCtrlShiftR},
    {C, 'S', kCmdCtrlS},
    {CS, 'V', kCmdPasteFromClipboard},
    {C, 'W', kCmdCtrlW},
    {C, 'X', kCmdCtrlX},
    {C, 'Y', kCmdCtrlY},
    {C, 'Z', kCmdCtrlZ},
    {C, VK_OEM_COMMA, kCmdGoToSelectionStart},
    {C, VK_OEM_PERIOD, kCmdGoToSelectionEnd},
    {C, VK_OEM_4, kCmdSetSelectionStart},
    {C, VK_OEM_6, kCmdSetSelectionEnd},
    {V, VK_F1, kCmdKeyF1},
    {V, VK_F1 + 1, kCmdKeyF2},
    {V, VK_F1 + 2, kCmdKeyF3},
    {C, VK_F1 + 2, kCmdCtrlF3},
    {V, VK_F1 + 3, kCmdKeyF4},
    {C, VK_F1 + 3, kCmdCtrlF4},
    {V, VK_F1 + 4, kCmdKeyF5},
    {C, VK_F1 + 4, kCmdCtrlF5},
    {V, VK_F1 + 5, kCmdKeyF6},
    {C, VK_F1 + 5, kCmdCtrlF6},
    {V, VK_F1 + 6, kCmdKeyF7},
    {C, VK_F1 + 6, kCmdCtrlF7},
    {V, VK_F1 + 7, kCmdKeyF8},
    {C, VK_F1 + 7, kCmdCtrlF8},
    {V, VK_F1 + 8, kCmdKeyF9},
    {V, VK_F1 + 9, kCmdKeyF10},
    {V, VK_F1 + 10, kCmdKeyF11},
    {V, VK_F1 + 11, kCmdKeyF12},
    {C, VK_LEFT, kCmdCtrlLeft},
    {CS, VK_LEFT, kCmdCtrlShiftLeft},
    {C, VK_UP, kCmdCtrlUp},
    {S, VK_UP, kCmdShiftUp},
    {CS, VK_UP, kCmdCtrlShiftUp},
    {C, VK_RIGHT, kCmdCtrlRight},
    {CS, VK_RIGHT, kCmdCtrlShiftRight},
    {C, VK_DOWN, kCmdCtrlDown},
    {S, VK_DOWN, kCmdShiftDown},
    {CS, VK_DOWN, kCmdCtrlShiftDown},
    {V, VK_INSERT, kCmdKeyInsert},
    {C, VK_INSERT, kCmdCtrlInsert},
    {S, VK_INSERT, kCmdShiftInsert},
    {C, VK_DELETE, kCmdCtrlDelete},
    {A, VK_DELETE, kCmdAltDelete},
    {S, VK_DELETE, kCmdShiftDelete},
    {CS, VK_DELETE, kCmdCtrlShiftDelete},
    {V, VK_HOME, kCmdGoToFirstFrame},
    {C, VK_HOME, kCmdCtrlHome},
    {S, VK_HOME, kCmdShiftHome},
    {CS, VK_HOME, kCmdCtrlShiftHome},
    {V, VK_END, kCmdGoToLastFrame},
    {C, VK_END, kCmdGoToSmoothingFrame},
    {S, VK_END, kCmdShiftEnd},
    {CS, VK_END, kCmdCtrlShiftEnd},
    {V, VK_NEXT, kCmdStepForward30},
    {C, VK_NEXT, kCmdStepForward300},
    {S, VK_NEXT, kCmdStepForward150},
    {V, VK_PRIOR, kCmdStepBackward30},
    {C, VK_PRIOR, kCmdStepBackward300},
    {S, VK_PRIOR, kCmdStepBackward150},
    {V, VK_DIVIDE, kCmdKeyDivide},
    {V, VK_MULTIPLY, kCmdKeyMultiply},
    {C, VK_SUBTRACT, kCmdCtrlSubtract},
    {C, VK_ADD, kCmdCtrlAdd},
    {C, VK_NUMPAD0 + 0, kCmdCtrlNum0},
    {C, VK_NUMPAD0 + 1, kCmdCtrlNum1},
    {C, VK_NUMPAD0 + 2, kCmdCtrlNum2},
    {C, VK_NUMPAD0 + 3, kCmdCtrlNum3},
    {C, VK_NUMPAD0 + 4, kCmdCtrlNum4},
    {C, VK_NUMPAD0 + 5, kCmdCtrlNum5},
    {C, VK_NUMPAD0 + 6, kCmdCtrlNum6},
    {C, VK_NUMPAD0 + 7, kCmdCtrlNum7},
    {C, VK_NUMPAD0 + 8, kCmdCtrlNum8},
    {C, VK_NUMPAD0 + 9, kCmdCtrlNum9},
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
