// The main window is a program of its own (dovrane-window), linked with Qt.
// A run of dovrane that wants the window hands the process over to it, so a
// command-line run loads no Qt and carries its own C++ runtime.
#pragma once

#include <string>

namespace dovrane::app {

inline constexpr char kWindowProgramName[] = "dovrane-window";

// The window's program: beside this program (the build tree), else in
// installed_folder taken relative to this program's folder; "" when neither
// holds it.
std::string FindWindowProgram(const std::string& program_folder, const std::string& installed_folder);

// Hands the run over to the window's program with the same arguments (argv
// as main got it): the start folder and the standard streams are put back as
// the run found them, and the window's program starts the run afresh. Returns
// only when it could not: 1 after a message.
[[nodiscard]] int RunWindowProgram(const std::string& installed_folder, char* const* argv);

}  // namespace dovrane::app
