#include "app/CommandLine.h"

#include "platform/Paths.h"

std::string CommandLineFile(const std::vector<std::string>& args) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("/line:", 0) == 0) {
      if (a.size() == 6) ++i;  // the value is the next argument
      continue;
    }
    // Absolute paths start with '/' too; only names that lead nowhere are options.
    if (!a.empty() && a[0] == '/' && !FileExists(a) && !IsDirectory(a)) continue;
    if (a.empty()) continue;
    return a;
  }
  return "";
}
