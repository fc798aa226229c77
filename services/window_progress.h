// The progress of an operation running on a worker thread, kept for the
// progress window: the worker reports through the one progress interface, the
// window takes the latest state from its own thread when it repaints. Every
// member may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "extlib/installation/progress.h"

namespace dovrane::platform {
class Env;
}

namespace dovrane::services {

enum class ProgressMode { kNone, kEndless, kCounted };

// A counted run shows the time left once it has run this long.
inline constexpr int64_t kTimeLeftAfterMs = 3000;

struct ProgressSnapshot {
  // Rises with every change, so the window repaints only what moved.
  uint64_t generation = 0;
  std::string title;  // Windows-1252
  std::string line;   // the last line given, without its line end
  ProgressMode mode = ProgressMode::kNone;
  // The percentage the bar shows: only increases, may pass 100.
  unsigned percent = 0;
  bool finished = false;
  // Seconds left of a counted run; -1 while there is no estimate.
  int64_t seconds_left = -1;
};

class WindowProgress : public extlib::Progress {
 public:
  // env null: the current Env; its monotonic clock times the run.
  explicit WindowProgress(platform::Env* env = nullptr);

  void Title(const std::string& title) override;
  void Line(const std::string& text) override;
  void StartEndless() override;
  void StartCounted(double total) override;
  void Advance(double amount) override;
  void Finish() override;
  bool CancelRequested() override { return cancel_.load(); }

  // The Cancel button: the operation stops at its next check.
  void RequestCancel() { cancel_.store(true); }
  ProgressSnapshot Take() const;

 private:
  platform::Env* env_;
  mutable std::mutex mu_;
  ProgressSnapshot state_;
  extlib::ProgressMeter meter_;
  int64_t started_ms_ = 0;
  std::atomic<bool> cancel_{false};
};

// The time left of a counted run that has run elapsed_ms and stands at
// fraction (0..1), in whole seconds rounded up; -1 before kTimeLeftAfterMs,
// without progress, and once the run is at its end.
int64_t EstimateSecondsLeft(int64_t elapsed_ms, double fraction);

// "m:ss" (or "h:mm:ss" from an hour on) for the estimate.
std::string FormatTimeLeft(int64_t seconds);

}  // namespace dovrane::services
