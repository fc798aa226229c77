// Handing the running process over to another program (exec): the window's
// program takes over a run of the command-line program that wants the main
// window, with the same process, arguments and environment.
#pragma once

#include <string>

namespace dovrane::platform {

// Replaces the process with program, given argv (null-terminated, argv[0]
// included). Returns only when that failed: the error number.
int HandOverTo(const std::string& program, char* const* argv);

}  // namespace dovrane::platform
