#include "TestSupport.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Paths.h"
#include "platform/Profile.h"

int RecordingHost::MessageBox(const std::string& text, const std::string& caption, unsigned style) {
  boxes.push_back({text, caption, style});
  if (!answers.empty()) {
    int a = answers.front();
    answers.pop_front();
    return a;
  }
  unsigned type = style & MB_TYPEMASK;
  return type == MB_YESNO || type == MB_YESNOCANCEL ? IDNO : IDOK;
}

int RecordingHost::TimedMessageBox(const std::string& text, const std::string& caption, unsigned style,
                                   unsigned timeoutMs) {
  timeouts.push_back(timeoutMs);
  return MessageBox(text, caption, style);
}

void RecordingHost::SetStatusText(int part, const std::string& text) {
  if (part >= 0 && part < 5) status[part].push_back(text);
}

void RecordingHost::Pump() {
  ++pumps;
  if (onPump) onPump(pumps);
}

ScratchDir::ScratchDir() {
  std::string tmpl = TempDir() + "mxtest-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back(0);
  path_ = std::string(mkdtemp(buf.data())) + "/";
  setenv("MIRDEX_HOME", path_.c_str(), 1);
  setenv("QUENDRIX_HOME", path_.c_str(), 1);
  ResetPathCache();
  ForgetProfileCache();
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
  unsetenv("MIRDEX_HOME");
  unsetenv("QUENDRIX_HOME");
  ResetPathCache();
  ForgetProfileCache();
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(f);
}

std::string SamplePath(const std::string& name) {
  return std::string(MX_SAMPLES_DIR) + "/" + name;
}

void Put16(std::string& s, uint16_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>(v >> 8);
}
void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void PutFourCC(std::string& s, const char* fcc) {
  s.append(fcc, 4);
}

std::string Chunk(const char* id, const std::string& data) {
  std::string s;
  PutFourCC(s, id);
  Put32(s, static_cast<uint32_t>(data.size()));
  s += data;
  if (data.size() & 1) s += '\0';
  return s;
}

std::string ListChunk(const char* listId, const char* type, const std::string& body) {
  std::string inner;
  PutFourCC(inner, type);
  inner += body;
  return Chunk(listId, inner);
}

std::string MakeWave(uint16_t channels, uint32_t rate, uint16_t bits, const std::string& data) {
  std::string fmt;
  uint16_t align = static_cast<uint16_t>(channels * (bits / 8));
  Put16(fmt, 1);
  Put16(fmt, channels);
  Put32(fmt, rate);
  Put32(fmt, rate * align);
  Put16(fmt, align);
  Put16(fmt, bits);
  return ListChunk("RIFF", "WAVE", Chunk("fmt ", fmt) + Chunk("data", data));
}

int RunCommand(const std::string& command, std::string* output) {
  std::FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = pclose(p);
  if (output) *output = out;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
