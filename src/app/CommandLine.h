// The command line of Mirdex: "/line:VALUE" (or "/line:" and the value as the
// next argument) is read and ignored; another argument that starts with '/' is
// an option unless a file or folder of that name exists; the first remaining
// argument names the file to open.
#pragma once
#include <string>
#include <vector>

// `args` without the program name. Returns the file name or "".
std::string CommandLineFile(const std::vector<std::string>& args);
