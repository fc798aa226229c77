#include "platform/termination_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace dovrane::platform {

namespace {

// Process-wide by nature: a signal handler reaches no object.
volatile sig_atomic_t g_write_end = -1;
int g_read_end = -1;
std::once_flag g_once;

void OnTermination(int) {
  const int saved = errno;
  const char byte = 1;
  // A full pipe already holds a request: losing this byte loses nothing.
  if (g_write_end >= 0) (void)!::write(g_write_end, &byte, 1);
  errno = saved;
}

}  // namespace

int WatchTerminationSignals() {
  std::call_once(g_once, [] {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    g_write_end = fds[1];
    struct sigaction sa {};
    sa.sa_handler = &OnTermination;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
      if (::sigaction(sig, &sa, nullptr) == 0) continue;
      // Half watched is not watched: every one keeps its default.
      for (int back : {SIGTERM, SIGHUP, SIGINT}) ::signal(back, SIG_DFL);
      return;
    }
    g_read_end = fds[0];
  });
  return g_read_end;
}

int TakeTerminationSignals(int fd) {
  int taken = 0;
  char buf[16];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) taken += static_cast<int>(n);
  return taken;
}

void EndOnNextTerminationSignal() {
  for (int sig : {SIGTERM, SIGHUP, SIGINT}) ::signal(sig, SIG_DFL);
}

}  // namespace dovrane::platform
