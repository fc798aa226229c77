// Runs a program of ours as a child process, the way a script would.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace dovrane::testing {

struct ProgramResult {
  int status = -1;  // exit status (low 8 bits), or -1 when killed
  int signal = 0;   // the signal that ended it, or 0
  std::string out;
  std::string err;
};

// In a forked child: enters cwd, adds env and executes path with args; never
// returns (status 127 when the program cannot be started).
[[noreturn]] void ExecInChild(const std::string& path, const std::vector<std::string>& args,
                              const std::map<std::string, std::string>& env, const std::string& cwd);

// Waits for the child pid and fills result's status and signal.
void WaitForChild(int pid, ProgramResult* result);
// Waits at most timeout_ms for the child pid to end (woken by its end, not
// polled, where the kernel offers process descriptors); true and its wait
// status in *status when it ended.
bool WaitForChildEnd(int pid, int timeout_ms, int* status);

// Runs path with args in folder cwd (empty: the current one), with the given
// variables added to the environment, standard input from /dev/null.
ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env = {}, const std::string& cwd = "");

// Runs fn in a forked child (a call that might block forever or exhaust
// memory): fn's result as the exit status (0 to 255; 255 when it threw), or
// -1 when the child did not end within timeout_ms (it is killed) or ended by
// a signal. With
// memory_limit (bytes, 0: none) the child's data size is limited, except
// under AddressSanitizer or ThreadSanitizer, whose shadow memory such a limit
// would break.
int RunBounded(const std::function<int()>& fn, int timeout_ms = 5000, uint64_t memory_limit = 0);

}  // namespace dovrane::testing
