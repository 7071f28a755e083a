// Where commands show up: one QAction per command (shared by the menu bar and
// the context menu; a context-menu item with a caption of its own is a proxy
// that mirrors the action's state) and the control registry of the tool
// windows. Enable, check and caption changes go through here so that every
// place that shows a command agrees.
#pragma once
#include <QString>
#include <functional>

#include "command/Dispatcher.h"

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
// A tool window whose children are found by their id (object name) after the
// registered controls and before the main window's own; forgotten when it dies.
void AddControlWindow(QWidget* window);
// The registered control, else a control window's child, else the main
// window's own control of that id.
QWidget* FindControl(int id);
// The value of a control by id (edit, combo box, spin box, label or button);
// 0, 0.0 or empty when no such control is open. Set* return false then.
QString GetControlText(int id);
int GetControlInt(int id);
double GetControlDouble(int id);
bool SetControlText(int id, const QString& text);
bool SetControlInt(int id, int value);
void SetMainControlFinder(std::function<QWidget*(int)> finder);

// The Qt side of EnableCommand, SetCheck, ToggleCheck, IsCommandChecked and
// SetItem (see Commands.h); the main window's CommandView calls these.
bool UiEnableCommand(int id, bool enable);
void UiSetCheck(int id, bool checked, bool notify);
int UiToggleCheck(int id, CommandSource sender, int oldValue);
int UiIsCommandChecked(int id);
void UiSetItem(int id, const QString* caption, bool enabled);
// The first item of `menuOrBar` whose caption contains `text`.
QAction* FindItemByCaption(QWidget* menuOrBar, const QString& text);
// Recomputes the enabled state of every action and control.
void RefreshCommandStates();
