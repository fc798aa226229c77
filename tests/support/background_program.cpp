#include "support/background_program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace dovrane::testing {

namespace {
long NowMs() {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count());
}
}  // namespace

BackgroundProgram::BackgroundProgram(const std::string& path, const std::vector<std::string>& args,
                                     const std::map<std::string, std::string>& env, const std::string& cwd) {
  const std::string out = dir_ / "out", err = dir_ / "err";
  start_ms_ = NowMs();
  pid_ = ::fork();
  if (pid_ == 0) {
    int null = ::open("/dev/null", O_RDONLY);
    int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(null, 0);
    ::dup2(o, 1);
    ::dup2(e, 2);
    ExecInChild(path, args, env, cwd);
  }
}

BackgroundProgram::~BackgroundProgram() { Kill(); }

void BackgroundProgram::Ended(int status) {
  elapsed_ms_ = NowMs() - start_ms_;
  if (WIFEXITED(status)) {
    result_.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result_.signal = WTERMSIG(status);
  }
  result_.out = dir_.Exists("out") ? dir_.Read("out") : "";
  result_.err = dir_.Exists("err") ? dir_.Read("err") : "";
  pid_ = -1;
}

bool BackgroundProgram::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    Ended(status);
    return false;
  }
  return true;
}

bool BackgroundProgram::Wait(int timeout_ms) {
  if (pid_ <= 0) return true;
  int status = 0;
  if (!WaitForChildEnd(pid_, timeout_ms, &status)) return false;
  Ended(status);
  return true;
}

void BackgroundProgram::Signal(int sig) {
  if (pid_ > 0) ::kill(pid_, sig);
}

void BackgroundProgram::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  Ended(status);
}

const ProgramResult& BackgroundProgram::result() {
  Running();
  return result_;
}

}  // namespace dovrane::testing
