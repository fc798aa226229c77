// The main window lives in a module of its own (dovrane-window.so) that the
// program loads only in dialog mode: a command-line run starts without Qt.
#pragma once

#include <string>

namespace dovrane::app {

inline constexpr char kWindowModuleName[] = "dovrane-window.so";
// The function the module exports: runs the main window, 0 when it was closed.
inline constexpr char kWindowModuleEntry[] = "dovrane_run_dialog_mode";

// The module's file: beside the program (the build tree), else in
// installed_folder taken relative to the program's folder; "" when neither exists.
std::string FindWindowModule(const std::string& program_folder, const std::string& installed_folder);

// Loads the module and runs the main window; 1 after a message when the
// module is missing or cannot be loaded.
int RunWindowModule(const std::string& installed_folder);

}  // namespace dovrane::app
