// What the program says about itself before it needs an installation: the
// answers to --help, -h and --version, and the hint for a computer on which
// no installation is configured yet.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace dovrane::app {

// The version and how this program was built, one line each.
std::string VersionText();

// The text and status for a program option given as the only argument
// (--help and -h: the usage text; --version), or nothing for any other
// command line, which then goes its specified way.
struct ProgramAnswer {
  std::string text;
  int status = 0;
};
std::optional<ProgramAnswer> AnswerProgramOption(const std::vector<std::string>& args);

// The hint shown when the settings name no installation: the settings file
// looked for, whether it exists, and how to make a sample installation.
// read_error (negative errno): the file is there but could not be read, which
// says nothing about what it names.
std::string NoInstallationText(const std::string& settings_file, bool exists, int read_error = 0);

}  // namespace dovrane::app
