// Connects the file commands of the menus, the recent-file list, the command
// line and dropped files to the AVI file table.
#pragma once

// Registers 40000 open, 40001 append, 40002 close, 50100-50109 recent files
// and 50402 (open the pending name). Call before the main window starts up.
class OpenAviTable;
void RegisterFileCommands(OpenAviTable& shownTable);
