// The frame commands of the main window: steps, jumps, relative numbering,
// the next null frame, the view settings, the frame-number box and the
// scroll bar; and the link that shows the main capture in the window.
#pragma once

class MainWindow;

// Registers the commands and connects the shown capture to the window's
// controls.
void RegisterFrameCommands(MainWindow* window);
// Disconnects the shown capture from the window (before the window goes).
void UnregisterFrameCommands(MainWindow* window);
// After files were opened or closed: buffers for the new geometry, recount,
// frame 0 shown.
void FrameSetChanged();
