// A call under a hard deadline: the work runs on a helper thread; the caller
// waits at most the deadline and then goes on without it. A helper that is
// still blocked (libsmbclient waits up to 40 s for a server that accepts and
// never answers) is abandoned: it ends on its own later and its result is
// dropped; it counts as a thread at large meanwhile. So no caller ever waits
// longer than the deadline.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "services/worker_runner.h"

namespace dovrane::network {

// Helpers started and not yet ended (abandoned ones included).
[[nodiscard]] int RunningDeadlineHelpers();
void CountDeadlineHelper(int delta);

// The work's result, or nothing when the deadline passed first (or no thread
// could be started). work must own everything it uses: it may outlive the
// caller's frame.
template <class T>
std::optional<T> RunWithDeadline(std::function<T()> work, int deadline_ms) {
  struct Shared {
    std::mutex mutex;
    std::optional<T> result;
  };
  auto shared = std::make_shared<Shared>();
  // No owner's thread to post to: the result is taken from the shared state.
  services::WorkerRunner runner([](std::function<void()>) {}, 0);
  CountDeadlineHelper(1);
  auto job = runner.Start([shared, work = std::move(work)](services::WorkerRunner::Job&) {
    T value = work();
    {
      std::lock_guard<std::mutex> lock(shared->mutex);
      shared->result = std::move(value);
    }
    CountDeadlineHelper(-1);
    return std::function<void()>();
  });
  if (!job) {
    CountDeadlineHelper(-1);
    return std::nullopt;
  }
  // One stuck past the deadline is left behind by the runner's close.
  (void)runner.Wait(job, deadline_ms);
  (void)runner.Close();
  std::lock_guard<std::mutex> lock(shared->mutex);
  return std::move(shared->result);
}

}  // namespace dovrane::network
