// Command-line forms of Mirdex that run without a window (--help, --report,
// --framemd5). Called first thing by main().
#pragma once

// Returns the exit status when argv asked for a headless form, or -1 when the
// program should go on and open its window.
int RunHeadless(int argc, char** argv);
