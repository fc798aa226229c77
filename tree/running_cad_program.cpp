#include "tree/running_cad_program.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "extlib/installation/language.h"
#include "extlib/installation/settings.h"
#include "platform/env.h"
#include "platform/file_util.h"
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

// The base name of a path with either separator (a Windows program under
// an emulator shows "C:\\...\\prog.exe" as its first argument).
std::string BaseName(const std::string& path) {
  const size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Programs that run another program named by their first argument.
bool IsInterpreter(const std::string& program) {
  static const char* const kExact[] = {"sh", "bash", "dash", "zsh", "ksh", "node", "java", "mono"};
  static const char* const kPrefix[] = {"python", "perl", "ruby", "wine"};
  for (const char* name : kExact) {
    if (program == name) return true;
  }
  for (const char* prefix : kPrefix) {
    if (program.starts_with(prefix)) return true;
  }
  return false;
}

// The names the process is known by besides its program file: its process
// name, the name it was started by (a link's name), and for an interpreter
// the program it runs (its first argument that is no option).
std::vector<std::string> OtherNames(const std::string& pid, const std::string& program) {
  std::vector<std::string> names;
  std::string comm;
  if (platform::ReadWholeFile("/proc/" + pid + "/comm", &comm, kMaxModuleName + 1) == 0) {
    while (!comm.empty() && comm.back() == '\n') comm.pop_back();
    names.push_back(Lower(comm));
  }
  std::string line;
  if (platform::ReadWholeFile("/proc/" + pid + "/cmdline", &line, kMaxCommandLine) != 0) return names;
  std::vector<std::string> args;
  for (size_t at = 0; at < line.size();) {
    const size_t end = std::min(line.find('\0', at), line.size());
    args.push_back(line.substr(at, end - at));
    at = end + 1;
  }
  if (!args.empty()) names.push_back(Lower(BaseName(args[0])));
  if (IsInterpreter(program)) {
    for (size_t i = 1; i < args.size(); ++i) {
      if (args[i].empty() || args[i][0] == '-') continue;
      names.push_back(Lower(BaseName(args[i])));
      break;
    }
  }
  for (std::string& name : names) name = name.substr(0, kMaxModuleName);
  return names;
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
    platform::CurrentMessenger()->MessageBox(extlib::LanguageText(extlib::kCheckoutTexts, 10), "ProcessView",
                                             platform::kMbOk | platform::kMbIconError);
    return 0;
  }
  size_t examined = 0;
  for (const platform::DirEntry& e : entries) {
    if (!IsProcessId(e.name)) continue;
    if (++examined > kMaxProcesses) break;
    std::string program;
    if (!ProgramName(e.name, &program)) continue;
    std::string found = program.find(word) != std::string::npos ? program : "";
    if (found.empty()) {
      for (const std::string& other : OtherNames(e.name, program)) {
        if (other.find(word) == std::string::npos) continue;
        found = other;
        break;
      }
    }
    if (found.empty()) continue;
    *name = found;
    *process_id = std::stoi(e.name);
    return 1;
  }
  return 0;
}

int FindRunningCadProgram(std::string* name, int* process_id) {
  return FindRunningCadProgram(CadProgramName(), name, process_id);
}

}  // namespace dovrane::tree
