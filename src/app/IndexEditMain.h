// `mirdex --delete-frame N`, `--null-frame N`, `--insert-null N`,
// `--remove-null-frames` and `--rebuild-index`: the index commands without a
// window, on the same code as the window's.
#pragma once

// argv[0] is the option, the rest its arguments. Returns the exit status (0
// done, 1 refused or failed, 2 a file that cannot be read or a wrong command
// line), or -1 when argv[0] is none of these options.
int RunIndexEdit(int argc, char** argv);

// The lines of the help text about them.
extern const char kIndexEditUsage[];
