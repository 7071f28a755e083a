// The menu definition table: every menu of the main window as lists of items,
// built in directory order (sub-popups before the menus that hold them), and
// the captions composed at run time. No Qt in here.
#pragma once
#include <string>

enum MenuItemFlags : int {
  MF_STRING = 0x0,
  MF_GRAYED = 0x1,
  MF_CHECKED = 0x8,
  MF_POPUP = 0x10,
  MF_MENUBREAK = 0x20,  // starts a new column
  MF_SEPARATOR = 0x800,
  kMenuListEnd = -1,
};

// The menus the program keeps handles of.
enum MenuHandle : int {
  kMenuBar,
  kMenuFile,
  kMenuVideo,
  kMenuAudio,
  kMenuSelect,
  kMenuDelSelect,
  kMenuDelDelete,
  kMenuDisplay,
  kMenuAbout,
  kMenuCursor,
  kMenuContext,
  kMenuCount,
};

struct MenuItemDef {
  int flags;
  int idOrMenu;  // command id, or the MenuHandle of a popup item
  const char* caption;
};

struct MenuDirectoryEntry {
  int menu;  // MenuHandle; -1 ends the directory
  const MenuItemDef* items;
};

extern const MenuDirectoryEntry kMenuDirectory[];

// Recent files go into the File popup from this position on.
constexpr int kRecentFilePosition = 20;

// Captions composed from the current state.
std::string RecentFileCaption(int index, const std::string& path);  // "%d. " + path
std::string WaveLimitCaption(unsigned long limitPercent);           // kCmdWaveLimitCheck
std::string WaveLevelCaption(double level);                         // kCmdChangeVolume
// kCmdSaveWaveAround (shifted: kCmdSaveWaveAroundShifted); `wide` is the
// form of 20 instead of 10.
std::string AroundFrameCaption(bool wide, bool shifted);
std::string DisplayMenuCaption(double brightnessFactor);
std::string CursorPositionCaption(int x, int y, bool shift, int digit);
// Selection popup caption; -1 means "not set". lastFrame is the last global
// frame number (used when the end is not set).
std::string SelectionMenuCaption(long start, long end, long lastFrame);
std::string SelectionStartCaption(long start);  // kCmdGoToSelectionStart
std::string SelectionEndCaption(long end);      // kCmdGoToSelectionEnd
