// The commands of the shell itself: abort, exit, About, and the switches
// kept in the settings (log file, power-off, MMX/SSE, on top, undo blink, no
// redraw during operations).
#pragma once

class MainWindow;
void RegisterShellCommands(MainWindow* window);
