#include "platform/manual_clock_env.h"

#include <thread>

namespace dovrane::platform {

void ManualClockEnv::SleepMs(int ms) {
  // Lets another thread run, as a real sleep would, without spending the time.
  std::this_thread::yield();
  if (ms > 0) now_ms_ += ms;
}

}  // namespace dovrane::platform
