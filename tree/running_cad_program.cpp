#include "tree/running_cad_program.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "extlib/settings.h"
#include "platform/env.h"
#include "platform/messenger.h"

namespace dovrane::tree {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool IsProcessId(const std::string& name) {
  return !name.empty() && name.size() < 10 &&
         std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isdigit(c); });
}

// The program file of the process (its first module): the base name of the
// file its exe link names, without the " (deleted)" the kernel adds for a
// replaced file. False when the process cannot be looked at.
bool ProgramName(const std::string& pid, std::string* name) {
  std::string target;
  if (platform::CurrentEnv()->ReadLink("/proc/" + pid + "/exe", &target) != 0 || target.empty()) return false;
  const std::string deleted = " (deleted)";
  if (target.ends_with(deleted)) target.resize(target.size() - deleted.size());
  *name = Lower(target.substr(target.rfind('/') + 1)).substr(0, kMaxModuleName);
  return !name->empty();
}

}  // namespace

std::string CadProgramName() {
  std::string word;
  if (!extlib::GetSettingString("HKLM", "InstallRoot\\CadProgram", &word) || word.empty()) word = "pelomar";
  return Lower(word);
}

int FindRunningCadProgram(const std::string& word, std::string* name, int* process_id) {
  std::vector<platform::DirEntry> entries;
  if (platform::CurrentEnv()->ListDir("/proc", &entries) != 0) {
    platform::CurrentMessenger()->MessageBox("/proc not readable!", "ProcessView",
                                             platform::kMbOk | platform::kMbIconError);
    return 0;
  }
  size_t examined = 0;
  for (const platform::DirEntry& e : entries) {
    if (!IsProcessId(e.name)) continue;
    if (++examined > kMaxProcesses) break;
    std::string program;
    if (!ProgramName(e.name, &program) || program.find(word) == std::string::npos) continue;
    *name = program;
    *process_id = std::stoi(e.name);
    return 1;
  }
  return 0;
}

int FindRunningCadProgram(std::string* name, int* process_id) {
  return FindRunningCadProgram(CadProgramName(), name, process_id);
}

}  // namespace dovrane::tree
