#include "platform/threads_at_large.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/terminal.h"

namespace dovrane::platform {

namespace {
// Process-wide by nature: it decides how the process ends.
std::atomic<int> g_at_large{0};
}  // namespace

void ThreadAtLargeStarts() { ++g_at_large; }
void ThreadAtLargeEnds() { --g_at_large; }
int ThreadsAtLarge() { return g_at_large; }

void EndProcess(int status) {
  if (ThreadsAtLarge() == 0) std::exit(status);
  // What the handlers std::exit runs would have done for the terminal.
  Terminal::EraseStatus();
  Terminal::FlushProgress();
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace dovrane::platform
