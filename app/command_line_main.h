#pragma once

#include <string>
#include <vector>

namespace dovrane::app {

inline constexpr int kMaxArguments = 20;

// Prepares the process (working folder, trace file, library) and runs one mode:
// no arguments the main window, one to three arguments one command-line
// operation. args are the program's arguments as given (UTF-8), entry 0 the
// program. Returns the exit status.
[[nodiscard]] int CommandLineMain(const std::vector<std::string>& args);

// The whole run of a program that takes the command line (dovrane and the
// window's program alike): the crash report and any injected fault in place,
// then CommandLineMain. Returns the exit status.
[[nodiscard]] int ProgramMain(int argc, char** argv);

}  // namespace dovrane::app
