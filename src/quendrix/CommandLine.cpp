#include "quendrix/CommandLine.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/Paths.h"
#include "quendrix/QuendrixSettings.h"
#include "quendrix/WaveAdjust.h"

namespace {

void Usage(std::FILE* to) {
  std::string buildDate;
  ExeDir(&buildDate);
  std::fprintf(to,
               "Quendrix (built %s): shortens or lengthens a PCM WAVE file by one sample in every N/M.\n"
               "\n"
               "  quendrix [IN.wav]        open the window (and process IN.wav as if dropped)\n"
               "  quendrix --output OUT.wav [--range N] [--dispose M] [--extend | --shorten]\n"
               "           [--keep-size | --no-keep-size] IN.wav\n"
               "                           process without a window; changed positions go to\n"
               "                           standard output, messages to standard error.\n"
               "                           Values not given come from the saved settings,\n"
               "                           which are left unchanged. Exit status 0 on success.\n",
               buildDate.c_str());
}

bool ParseUnsigned(const char* text, uint32_t* value) {
  if (!text || !*text || *text == '-' || *text == '+') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text, &end, 10);
  if (errno || *end || v > 0xFFFFFFFFull) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

int Headless(const std::string& input, const std::string& output, const AdjustOptions& options) {
  static char outBuf[1 << 16];
  std::setvbuf(stdout, outBuf, _IOFBF, sizeof outBuf);
  AdjustCallbacks callbacks;
  callbacks.chooseOutput = [&output](const FileDialogRequest&, std::string* path) {
    *path = output;
    return true;
  };
  callbacks.addLine = [](const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  };
  AdjustSession session;
  AdjustStatus status = AdjustWave(input, options, &session, callbacks);
  bool flushed = std::fflush(stdout) == 0;
  return status == AdjustStatus::Ok && flushed ? 0 : 1;
}

}  // namespace

int RunCommandLine(int argc, char** argv, std::string* fileToProcess) {
  fileToProcess->clear();
  QuendrixSettings saved;
  AdjustOptions options;
  std::string output, input;
  bool headless = false, headlessOption = false;
  auto bad = [](const char* what, const char* arg) {
    if (*arg)
      std::fprintf(stderr, "quendrix: %s: %s (see --help)\n", what, arg);
    else
      std::fprintf(stderr, "quendrix: %s (see --help)\n", what);
    return 1;
  };
  // Options are applied after the settings are read, in order.
  struct Override {
    char what;
    uint32_t value;
  };
  std::vector<Override> overrides;

  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    auto value = [&](const char* name) -> const char* {
      size_t n = std::strlen(name);
      if (std::strncmp(a, name, n) == 0 && a[n] == '=') return a + n + 1;
      if (std::strcmp(a, name) == 0) return i + 1 < argc ? argv[++i] : "";
      return nullptr;
    };
    if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
      Usage(stdout);
      return 0;
    }
    if (const char* v = value("--output")) {
      if (!*v) return bad("--output needs a file name", a);
      output = v;
      headless = true;
    } else if (const char* v = value("--range")) {
      uint32_t n;
      if (!ParseUnsigned(v, &n)) return bad("--range needs a number", v);
      overrides.push_back({'N', n});
      headlessOption = true;
    } else if (const char* v = value("--dispose")) {
      uint32_t n;
      if (!ParseUnsigned(v, &n)) return bad("--dispose needs a number", v);
      overrides.push_back({'M', n});
      headlessOption = true;
    } else if (!std::strcmp(a, "--extend")) {
      overrides.push_back({'E', 1});
      headlessOption = true;
    } else if (!std::strcmp(a, "--shorten")) {
      overrides.push_back({'E', 0});
      headlessOption = true;
    } else if (!std::strcmp(a, "--keep-size")) {
      overrides.push_back({'K', 1});
      headlessOption = true;
    } else if (!std::strcmp(a, "--no-keep-size")) {
      overrides.push_back({'K', 0});
      headlessOption = true;
    } else if (a[0] == '-' && a[1] && !FileExists(a)) {
      return bad("unknown option", a);
    } else if (input.empty()) {
      input = a;
    } else {
      return bad("only one input file is taken", a);
    }
  }

  if (!headless) {
    if (headlessOption) return bad("these options need --output", "");
    *fileToProcess = input;
    return -1;
  }
  if (input.empty()) return bad("no input file", "");

  ReadQuendrixSettings(&saved);
  options.range = saved.range;
  options.dispose = saved.dispose;
  options.extend = saved.extend > 0;
  options.keepSize = saved.keepSize != 0;
  for (const Override& o : overrides) {
    if (o.what == 'N') options.range = o.value;
    if (o.what == 'M') options.dispose = o.value;
    if (o.what == 'E') options.extend = o.value != 0;
    if (o.what == 'K') options.keepSize = o.value != 0;
  }
  return Headless(input, output, options);
}
