// An Env whose monotonic clock moves only when told to: by Advance, or by a
// caller's SleepMs, which returns at once after moving the clock on. Every
// wait with a time limit (the record and share locks, the append batch) reads
// the time through the Env, so a test decides how much time passes and no
// result depends on how fast the machine is. Everything else is the POSIX Env.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/env.h"

namespace dovrane::platform {

class ManualClockEnv : public Env {
 public:
  // Far from zero, as a real monotonic clock is: "never checked" (0) is long ago.
  static constexpr int64_t kStartMs = int64_t{1} << 40;

  void Advance(int64_t ms) { now_ms_ += ms; }
  // Milliseconds that passed since the clock was made.
  int64_t ElapsedMs() const { return now_ms_ - kStartMs; }

  int64_t MonotonicMs() override { return now_ms_; }
  void SleepMs(int ms) override;

 private:
  std::atomic<int64_t> now_ms_ = kStartMs;
};

}  // namespace dovrane::platform
