// The command line's part of the audit log: which options change the
// installation, and the line each of them leaves.
#pragma once

#include <string>
#include <vector>

namespace dovrane::app {

// True for the options that can change the installation (every one but the
// queries and -checkout, whose window logs its own commands).
bool ChangesInstallation(const std::string& option);

// Appends the audit line of a command that ran (argv as dispatched, entry 0
// the program) when its option changes the installation. A line that cannot
// be written goes to the trace file instead: the command itself is done.
void AuditCommand(const std::string& option, const std::vector<std::string>& argv, int result);

}  // namespace dovrane::app
