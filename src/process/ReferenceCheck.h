// The check that lists the files a reference AVI needs: every frame of the
// shown file is read head-only, and the distinct file names its reference
// chunks give are shown in order of first appearance.
#pragma once
#include <string>

class FrameOperationDriver;
class ShownCapture;

// Whether the check may run: a file is shown, its last recorded read was not
// a plain frame (a reference, or located without reading), and the frame
// buffers exist.
bool CanCheckReferenceFiles(const ShownCapture& shown);
// Runs the check over the shown file with the driver's run state (Esc stops
// it). Returns the text shown in the box: the header line, then one line per
// name; "" when no box was shown (stopped, a frame unreadable, not runnable).
std::string CheckReferenceFiles(FrameOperationDriver& driver);
