#include "support/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/resource.h>
#include <sys/syscall.h>

#include <chrono>
#include <csignal>
#include <cstdlib>

namespace dovrane::testing {

void ExecInChild(const std::string& path, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env, const std::string& cwd) {
  if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(127);
  for (const auto& [k, v] : env) ::setenv(k.c_str(), v.c_str(), 1);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(path.c_str(), argv.data());
  ::_exit(127);
}

ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env, const std::string& cwd) {
  ProgramResult result;
  int out[2], err[2];
  if (::pipe(out) != 0 || ::pipe(err) != 0) return result;
  pid_t pid = ::fork();
  if (pid == 0) {
    int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::close(out[0]);
    ::close(err[0]);
    ExecInChild(path, args, env, cwd);
  }
  ::close(out[1]);
  ::close(err[1]);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open_count = 2;
  char buf[4096];
  while (open_count > 0) {
    if (::poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      } else {
        (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
      }
    }
  }
  WaitForChild(pid, &result);
  return result;
}

void WaitForChild(int pid, ProgramResult* result) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result->status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result->signal = WTERMSIG(status);
}

bool WaitForChildEnd(int pid, int timeout_ms, int* status) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
#ifdef SYS_pidfd_open
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  const int pidfd = -1;
#endif
  for (;;) {
    if (::waitpid(pid, status, WNOHANG) == pid) break;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      if (pidfd >= 0) ::close(pidfd);
      return false;
    }
    // The descriptor becomes readable when the child ends; without one, a short poll.
    pollfd p{pidfd, POLLIN, 0};
    ::poll(pidfd >= 0 ? &p : nullptr, pidfd >= 0 ? 1 : 0, pidfd >= 0 ? static_cast<int>(left) : 5);
  }
  if (pidfd >= 0) ::close(pidfd);
  return true;
}

int RunBounded(const std::function<int()>& fn, int timeout_ms, uint64_t memory_limit) {
  pid_t pid = ::fork();
  if (pid == 0) {
// The sanitizers' shadow memory does not fit a data limit: the normal build
// checks the memory bound, the sanitizer builds the time bound.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    if (memory_limit) {
      rlimit limit{memory_limit, memory_limit};
      ::setrlimit(RLIMIT_DATA, &limit);
    }
#else
    (void)memory_limit;
#endif
    int code = 255;
    try {  // an exception must not carry the child back into the test runner
      code = fn() & 0xff;
    } catch (...) {
    }
    ::_exit(code);
  }
  int status = 0;
  // Bounded: the child may never end by itself.
  if (!WaitForChildEnd(pid, timeout_ms, &status)) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace dovrane::testing
