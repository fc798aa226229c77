#include "support/pty_program.h"

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

namespace dovrane::testing {

ProgramResult RunProgramOnTerminal(const std::string& path, const std::vector<std::string>& args,
                                   const std::string& answer, const std::map<std::string, std::string>& env,
                                   const std::string& cwd) {
  ProgramResult result;
  int master = -1;
  pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) return result;
  if (pid == 0) ExecInChild(path, args, env, cwd);
  // The answer is typed when the prompt ("? ") has appeared, or after 5 s.
  bool typed = false;
  char buf[4096];
  for (int waited = 0;;) {
    pollfd fd = {master, POLLIN, 0};
    int ready = ::poll(&fd, 1, 100);
    if (ready > 0) {
      ssize_t n = ::read(master, buf, sizeof buf);
      if (n <= 0) break;  // EIO once the child closed the terminal
      result.out.append(buf, static_cast<size_t>(n));
    } else if (ready == 0) {
      waited += 100;
    }
    if (!typed && (result.out.find("? ") != std::string::npos || waited > 5000)) {
      typed = true;
      if (!answer.empty() && ::write(master, answer.data(), answer.size()) < 0) break;
    }
    if (waited > 60000) break;
  }
  ::close(master);
  WaitForChild(pid, &result);
  return result;
}

}  // namespace dovrane::testing
