#include "platform/termination_signals.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include "support/run_program.h"

namespace dovrane::platform {
namespace {

// In a child of its own: the handlers are the whole process's.
TEST(TerminationSignalsTest, EachSignalReachesThePipeInsteadOfEndingTheProcess) {
  const int code = testing::RunBounded([] {
    const int fd = WatchTerminationSignals();
    if (fd < 0) return 1;
    if (WatchTerminationSignals() != fd) return 2;
    if (TakeTerminationSignals(fd) != 0) return 3;  // nothing yet, and no blocking
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
      if (::raise(sig) != 0) return 4;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 2000) != 1) return 5;
      if (TakeTerminationSignals(fd) != 1) return 6;
    }
    return 0;
  });
  EXPECT_EQ(code, 0) << "-1: the process ended by a signal";
}

// Once the window was asked to close, the next request ends the process.
TEST(TerminationSignalsTest, AfterTheFirstRequestTheNextOneEndsTheProcess) {
  const int code = testing::RunBounded([] {
    const int fd = WatchTerminationSignals();
    if (fd < 0) return 1;
    if (::raise(SIGTERM) != 0 || TakeTerminationSignals(fd) != 1) return 2;
    EndOnNextTerminationSignal();
    ::raise(SIGTERM);
    return 0;  // still here: the second request was swallowed
  });
  EXPECT_EQ(code, -1) << "the process outlived the second request";
}

}  // namespace
}  // namespace dovrane::platform
