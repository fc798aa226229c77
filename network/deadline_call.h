// A call under a hard deadline: the work runs on a helper thread; the caller
// waits at most the deadline and then goes on without it. A helper that is
// still blocked (libsmbclient waits up to 40 s for a server that accepts and
// never answers) is abandoned: it ends on its own later and its result is
// dropped. So no caller ever waits longer than the deadline.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

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
    std::condition_variable done;
    std::optional<T> result;
  };
  auto shared = std::make_shared<Shared>();
  try {
    CountDeadlineHelper(1);
    std::thread([shared, work = std::move(work)] {
      T value = work();
      {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->result = std::move(value);
      }
      shared->done.notify_all();
      CountDeadlineHelper(-1);
    }).detach();
  } catch (const std::system_error&) {
    CountDeadlineHelper(-1);
    return std::nullopt;
  }
  std::unique_lock<std::mutex> lock(shared->mutex);
  shared->done.wait_for(lock, std::chrono::milliseconds(deadline_ms), [&] { return shared->result.has_value(); });
  return std::move(shared->result);
}

}  // namespace dovrane::network
