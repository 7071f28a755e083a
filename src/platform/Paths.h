// Where the program and its files live: executable directory and build date,
// the settings folder, the temporary folder, and path text helpers.
#pragma once
#include <string>

// Directory of the running executable with a trailing '/', computed once.
// When buildDate is given it receives the executable's modification time as
// "YYYY-MM-DD hh:mm" (UTC).
const std::string& ExeDir(std::string* buildDate = nullptr);

// Which program's settings are meant: the file name, the folder name under
// $XDG_CONFIG_HOME and the environment variable that overrides both.
struct ProgramFiles {
  const char* iniName;  // "Mirdex.ini"
  const char* xdgDir;   // "mirdex"
  const char* envVar;   // "MIRDEX_HOME"
};
extern const ProgramFiles kMirdexFiles;
extern const ProgramFiles kQuendrixFiles;
void SetProgramFiles(const ProgramFiles& files);
const ProgramFiles& CurrentProgramFiles();

// Folder of the settings file and the log, with a trailing '/': $ENV when set;
// else the executable's folder when the settings file exists there and is
// writable (portable use); else $XDG_CONFIG_HOME/<dir>/ (~/.config/<dir>/).
// The folder is created when missing. Cached until ResetPathCache().
const std::string& SettingsDir();
std::string SettingsPath();  // SettingsDir() + iniName
void ResetPathCache();

// $TMPDIR (when it names a folder) or /tmp, with a trailing '/'.
std::string TempDir();

std::string FileNamePart(const std::string& path);   // behind the last '/'
std::string DirectoryPart(const std::string& path);  // up to and including the last '/'
// Extension behind the last '.' of the file-name part; empty when none.
// `hasDot` tells a name ending in '.' from a name without a dot.
std::string ExtensionPart(const std::string& path, bool* hasDot = nullptr);

bool FileExists(const std::string& path);
// Whether the file can be opened and read (a folder opens, but reading it fails).
bool FileReadable(const std::string& path);
bool IsDirectory(const std::string& path);
// Makes the folder and its parents; true when it exists afterwards.
bool MakeDirectories(const std::string& dir);
// True when both names lead to the same file (hard or symbolic links included).
bool SameFile(const std::string& a, const std::string& b);
// The path a name leads to with every link resolved, also for a file that
// does not exist yet (its folder resolved); "" when the folder does not exist
// either.
std::string ResolvedPath(const std::string& path);
