// The keyboard accelerators: one array of 93 entries turned into four tables
// that share its tail. Keys are Windows virtual-key codes so that keyboard
// command numbers keep their values (a modifier base of CommandIds.h + key).
// No Qt in here.
#pragma once
#include <cstdint>

enum : uint8_t { FVIRTKEY = 0x01, FNOINVERT = 0x02, FSHIFT = 0x04, FCONTROL = 0x08, FALT = 0x10 };

struct AccelEntry {
  uint8_t fVirt;
  uint16_t key;  // virtual-key code
  uint16_t cmd;
};

constexpr int kAccelCount = 93;
extern const AccelEntry kAccelEntries[kAccelCount];

// Table 0 is the whole array; table 1 leaves out plain Left and Right, table 2
// also Del, table 3 also plain Up and Down.
constexpr int kAccelTableCount = 4;
int AccelTableFirstEntry(int table);

// The command of the key in the table, or 0. Modifiers must match exactly.
int LookupAccelerator(int table, int vk, bool shift, bool ctrl, bool alt);

// Which table a window of the given kind uses.
enum class AccelWindowKind { kMainWindow, kFieldShiftOrVolume, kOther };
int ChooseAccelTable(AccelWindowKind kind, bool correctionsPending);

// Virtual-key codes used by the table and the key mapping.
enum : int {
  VK_BACK = 8,
  VK_RETURN = 13,
  VK_ESCAPE = 27,
  VK_SPACE = 32,
  VK_PRIOR = 33,
  VK_NEXT = 34,
  VK_END = 35,
  VK_HOME = 36,
  VK_LEFT = 37,
  VK_UP = 38,
  VK_RIGHT = 39,
  VK_DOWN = 40,
  VK_INSERT = 45,
  VK_DELETE = 46,
  VK_NUMPAD0 = 96,
  VK_MULTIPLY = 106,
  VK_ADD = 107,
  VK_SUBTRACT = 109,
  VK_DECIMAL = 110,
  VK_DIVIDE = 111,
  VK_F1 = 112,
  VK_OEM_1 = 186,
  VK_OEM_PLUS = 187,
  VK_OEM_COMMA = 188,
  VK_OEM_MINUS = 189,
  VK_OEM_PERIOD = 190,
  VK_OEM_2 = 191,
  VK_OEM_3 = 192,
  VK_OEM_4 = 219,
  VK_OEM_5 = 220,
  VK_OEM_6 = 221,
  VK_OEM_7 = 222,
};
