// Where commands show up: one QAction per command (shared by the menu bar and
// the context menu; a context-menu item with a caption of its own is a proxy
// that mirrors the action's state) and the control registry of the tool
// windows. Enable, check and caption changes go through here so that every
// place that shows a command agrees.
#pragma once
#include <QString>
#include <functional>

#include "app/Commands.h"

class QAction;
class QMenu;
class QObject;
class QWidget;

// Parent of the actions (the main window); actions die with it.
void SetCommandActionParent(QObject* parent);
// The action of the command, created on first use.
QAction* CommandAction(int id);
QAction* FindCommandAction(int id);
// Adds the command to `menu` with `caption`; flags as in the menu table.
QAction* AddCommandToMenu(QMenu* menu, int id, const QString& caption, int flags);
// Forgets every action, proxy and control (tests, window teardown).
void ResetCommandUi();

// Tool-window controls by command id. A check box or button reports clicks as
// the command; the entry disappears when the widget is destroyed.
void RegisterControl(int id, QWidget* control);
void UnregisterControl(int id);
// The registered control, else the main window's own control of that id.
QWidget* FindControl(int id);
void SetMainControlFinder(std::function<QWidget*(int)> finder);

// Enables or grays the command everywhere. An explicit disable stays in force
// until enabled again; commands also need a handler that can run now.
bool EnableCommand(int id, bool enable);
// Sets the check mark everywhere; with `notify` the command runs so that its
// handler applies the state.
void SetCheck(int id, bool checked, bool notify);
// The command's new check state: the control's own state when it is the
// sender, else the inverted menu state (SetCheck's own notification keeps the
// state it set). When the command is shown nowhere, `oldValue` comes back.
int ToggleCheck(int id, CommandSource sender, int oldValue);
// 1 checked, 0 not, -1 shown nowhere.
int IsCommandChecked(int id);
// Caption (when given) and enabled state in the menu bar and the context menu.
void SetItem(int id, const QString* caption, bool enabled);
// The first item of `menuOrBar` whose caption contains `text`.
QAction* FindItemByCaption(QWidget* menuOrBar, const QString& text);
// Recomputes the enabled state of every action and control.
void RefreshCommandStates();
