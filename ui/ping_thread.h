// The host ping thread: every cycle it pings the hosts the tree filling
// published and raises the ping-changed flag when the set of hosts that
// answer differs from the last cycle's. It never touches the trees; the
// window's refresh check refills them when it sees the flag.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "services/worker_runner.h"

namespace dovrane::ui {

// What the window and the ping thread share.
struct PingShared {
  // Both sides wait at most this long for the lock and skip their work otherwise.
  static constexpr std::chrono::milliseconds kLockWait{100};
  std::mutex lock;                        // guards hosts; taken with TryLock
  std::vector<std::string> hosts;         // the ping host list
  std::atomic<int> ping_allowed{1};
  std::atomic<bool> ping_changed{false};

  // Replaces the ping host list (the tree filling, after each full refill).
  // False when the lock was not obtained: the list stays as it was.
  bool Publish(std::vector<std::string> names);
  // The lock within kLockWait, or not owned. Polled with try_lock: this C++
  // library's timed lock is invisible to ThreadSanitizer.
  std::unique_lock<std::mutex> TryLock();
};

// 0: the host answered.
using HostPing = std::function<int(const std::string& host, int timeout_ms)>;

class PingThread {
 public:
  static constexpr int kCycleMs = 5000;
  static constexpr int kPingTimeoutMs = 200;

  // ping null: the system's ping. cycle_ms: the pause from the end of one
  // cycle to the next.
  PingThread(PingShared& shared, HostPing ping = nullptr, int cycle_ms = kCycleMs);
  ~PingThread();  // stops
  PingThread(const PingThread&) = delete;
  PingThread& operator=(const PingThread&) = delete;

  // Starts the thread below the normal priority; false when the system
  // gives no thread (the window then works without pinging).
  bool Start();
  // Sets the stop flag, wakes the thread at once and waits for it to end.
  void Stop();
  // Cycles done so far.
  int Cycles() const { return cycles_; }

  // One cycle's probes, all at once, each within the time limit: the names
  // that answered. A probe still under way after the limit counts as not
  // answering. Blocking; what the thread runs every cycle.
  std::set<std::string> PingAll(const std::vector<std::string>& hosts);

 private:
  void Run();

  // What the cycle and its probes share; a probe stuck in a name lookup
  // keeps it alive after the thread is gone.
  struct Wake {
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;  // the stop flag
  };
  struct Probe;

  PingShared& shared_;
  HostPing ping_;
  const int cycle_ms_;
  std::shared_ptr<Wake> wake_ = std::make_shared<Wake>();
  std::atomic<int> cycles_{0};
  std::set<std::string> previous_, current_;  // the answering sets
  // The probes: a lookup that outlasts the stop is left behind.
  services::WorkerRunner probes_;
  // The cycle itself: it never blocks past the stop flag and is waited for.
  services::WorkerRunner cycle_;
  std::shared_ptr<services::WorkerRunner::Job> running_;
};

}  // namespace dovrane::ui
