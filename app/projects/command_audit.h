// The command line's part of the audit log: which options change the
// installation, and the line each of them leaves.
#pragma once

#include <string>
#include <vector>

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::app {

// True for the options that can change the installation (every one but the
// queries and -checkout, whose window logs its own commands).
bool ChangesInstallation(const std::string& option);

// Appends the audit line of a command that ran (argv as dispatched, entry 0
// the program) when its option changes the installation. A line that cannot
// be written goes to the trace file instead: the command itself is done.
void AuditCommand(extlib::OperationContext& ctx, const std::string& option, const std::vector<std::string>& argv,
                  int result);

// The window's commands (and the cores only the window runs) leave lines that
// read like the command line's: the command's name where the command line's
// option would stand ("copy", "rename", "move", "delete", "create",
// "checkout host", "checkout project", "checkin", "register host",
// "remove host"), its arguments, the result code and its text. result is the
// library's code (0 success; the project error text names any other);
// result_text, when given, names it instead. A line that cannot be written
// goes to the trace file. log_file: the log at a Windows path, "" for the one
// in the \Net folder.
void AuditWindowCommand(extlib::OperationContext& ctx, const std::string& command,
                        const std::vector<std::string>& arguments, int result, const std::string& result_text = "",
                        const std::string& log_file = "");

}  // namespace dovrane::app
