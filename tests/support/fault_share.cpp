#include "support/fault_share.h"

#include "support/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace dovrane::testing {

namespace {

#ifdef DOVRANE_FAULT_SHARE
const char* const kProgram = DOVRANE_FAULT_SHARE;
#else
const char* const kProgram = "";
#endif

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool IsMountPoint(const std::string& folder) {
  // The table writes a blank, a tab, a line feed and a backslash as \ooo.
  std::string escaped;
  for (char c : folder) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\\') {
      char octal[8];
      std::snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned char>(c));
      escaped += octal;
    } else {
      escaped += c;
    }
  }
  std::ifstream in("/proc/self/mountinfo");
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string id, parent, dev, root, point;
    fields >> id >> parent >> dev >> root >> point;
    if (point == escaped) return true;
  }
  return false;
}

}  // namespace

std::string FaultShare::Unavailable() {
  if (!*kProgram) return "built without libfuse3 (Debian package libfuse3-dev)";
  if (access(kProgram, X_OK) != 0) return std::string("the test file system is missing: ") + kProgram;
  if (geteuid() != 0) return "mounting a test share needs root";
  int fd = open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fd < 0) return std::string("/dev/fuse cannot be opened: ") + std::strerror(errno);
  close(fd);
  return "";
}

FaultShare::FaultShare(const std::string& folder, const MountName& name)
    : folder_(folder), socket_(work_ / "control") {
  if (std::string why = Unavailable(); !why.empty()) {
    error_ = why;
    return;
  }
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    error_ = "pipe";
    return;
  }
  std::string log = work_ / "log";
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    int err = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err >= 0) dup2(err, 2);
    execl(kProgram, kProgram, folder.c_str(), folder.c_str(), socket_.c_str(), name.source.c_str(),
          name.type.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  // The file system says "mounted" once the mount is there.
  std::string line;
  const int64_t until = NowMs() + 10000;
  while (pid > 0 && line.find('\n') == std::string::npos && NowMs() < until) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buf[64];
    ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  close(out[0]);
  if (pid < 0 || line.rfind("mounted", 0) != 0 || !IsMountPoint(folder)) {
    error_ = "the test file system did not mount: " + ReadFile(log);
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    return;
  }
  pid_ = pid;
}

FaultShare::~FaultShare() { Unmount(); }

void FaultShare::Unmount() {
  if (pid_ <= 0) return;
  Control("clear");
  // A busy share (a program of the test still inside it) is detached; its
  // calls end when the file system does.
  if (umount2(folder_.c_str(), 0) != 0) umount2(folder_.c_str(), MNT_DETACH);
  // The unmount ends it; else SIGTERM after 1 s, SIGKILL after 3 s.
  int status = 0;
  if (!WaitForChildEnd(pid_, 1000, &status)) {
    kill(pid_, SIGTERM);
    if (!WaitForChildEnd(pid_, 2000, &status)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
  }
  pid_ = -1;
  EXPECT_FALSE(IsMountPoint(folder_)) << folder_ << " is still mounted";
}

std::string FaultShare::Control(const std::string& command) {
  if (pid_ <= 0) return "error: not mounted";
  int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, socket_.c_str(), sizeof addr.sun_path - 1);
  std::string answer;
  if (s >= 0 && connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    std::string line = command + "\n";
    if (write(s, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
      char ch;
      while (read(s, &ch, 1) == 1 && ch != '\n') answer += ch;
    }
  }
  if (s >= 0) close(s);
  EXPECT_EQ(answer.rfind("ok", 0), 0u) << "test share command '" << command << "': " << answer;
  return answer;
}

long FaultShare::Calls() { return std::atol(Control("calls").c_str() + 2); }
long FaultShare::Hung() { return std::atol(Control("hung").c_str() + 2); }

bool FaultShare::WaitForHung(long n, int timeout_ms) {
  // The file system answers when its count of waiting calls reaches n.
  const std::string answer = Control("wait hung " + std::to_string(n) + " " + std::to_string(timeout_ms));
  return answer.rfind("ok ", 0) == 0 && std::atol(answer.c_str() + 3) >= n;
}

std::string FaultShare::Log() const { return work_.Exists("log") ? work_.Read("log") : ""; }

}  // namespace dovrane::testing
