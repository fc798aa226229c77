#include "app/program_info.h"

#include "app/command_table.h"
#include "app/long_options.h"
#include "platform/system_error.h"

#ifndef DOVRANE_VERSION
#define DOVRANE_VERSION "unknown"
#endif
#ifndef DOVRANE_BUILD
#define DOVRANE_BUILD "unknown"
#endif

namespace dovrane::app {

std::string VersionText() {
  return std::string("dovrane ") + DOVRANE_VERSION + "\nbuild: " + DOVRANE_BUILD + "\n";
}

std::optional<ProgramAnswer> AnswerProgramOption(const std::vector<std::string>& args) {
  // Only alone: "--help -exist" names a project and keeps its specified meaning.
  if (args.size() != 2) return std::nullopt;
  if (args[1] == "--help" || args[1] == "-h") return ProgramAnswer{UsageText() + LongOptionsHelp(), 0};
  if (args[1] == "--version") return ProgramAnswer{VersionText(), 0};
  return std::nullopt;
}

std::string NoInstallationText(const std::string& settings_file, bool exists, int read_error) {
  if (exists && read_error != 0)
    return "No installation can be used: the settings file " + settings_file +
           " cannot be read: " + platform::SystemErrorText(read_error) + ".\n";
  std::string text = "No installation is configured: ";
  text += exists ? "the settings file " + settings_file + " names no network path (InstallRoot NetDrive).\n"
                 : "there is no settings file " + settings_file + ".\n";
  text +=
      "Point DOVRANE_HKLM at the machine settings of an installation, or make a sample one with\n"
      "\teval \"$(dovrane-mkinstall DIR)\"\n";
  return text;
}

}  // namespace dovrane::app
