// Profile files and the parameter file: any bytes read as an ini file give
// the run parameters without crashing, integers that do not parse give the
// default, and a file written back after a change reads back with the same
// answers for every parameter key.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/ini_file.h"
#include "rules/run_state.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// Removes the process's file when the process ends.
struct RemovedAtExit {
  std::string path;
  ~RemovedAtExit() { ::unlink(path.c_str()); }
};

// One file per process, written afresh for every input.
const std::string& IniPath() {
  static const RemovedAtExit file{[] {
    const char* directory = std::getenv("TMPDIR");
    std::string pattern = std::string(directory && *directory ? directory : "/tmp") +
                          "/quillon-ini-fuzz-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) std::abort();
    ::close(fd);
    return std::string(name.data());
  }()};
  return file.path;
}

struct Key {
  const char* section;
  const char* name;
};

constexpr Key kKeys[] = {
    {quillon::kLoginSection, "Host"},           {quillon::kLoginSection, "User"},
    {quillon::kLoginSection, "Password"},       {quillon::kLoginSection, "TimeOut"},
    {quillon::kLoginSection, "Port"},           {quillon::kLoginSection, "Delete Messages"},
    {quillon::kLoginSection, "Max Messages"},   {quillon::kUserInfoSection, "Account"},
    {quillon::kUserInfoSection, "By List"},     {quillon::kUserInfoSection, "List Name"},
    {quillon::kUserInfoSection, "Retrieved Name"}, {"Show", "Left"},
};

std::vector<std::string> Answers(const quillon::IniFile& ini) {
  std::vector<std::string> answers;
  for (const Key& key : kKeys) {
    answers.push_back(ini.ReadString(key.section, key.name, "\x01missing"));
  }
  return answers;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = IniPath();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  quillon::IniFile ini(path);
  quillon::RunState state;
  quillon::ReadRunParameters(ini, state, [] {}, [] {});
  for (const Key& key : kKeys) {
    const std::string text = ini.ReadString(key.section, key.name, "");
    int parsed = 0;
    const int value = ini.ReadInteger(key.section, key.name, -7);
    if (!ini.ValueExists(key.section, key.name)) Check(value == -7);
    if (value != -7 && value != 0) Check(!text.empty());
    (void)quillon::ParseIniInteger(text, parsed);
  }
  const std::vector<std::string> before = Answers(ini);
  ini.WriteString("Fuzz", "Written", "value");
  const quillon::IniFile again(path);
  Check(Answers(again) == before);
  Check(again.ReadString("Fuzz", "Written", "") == "value");
  return 0;
}
