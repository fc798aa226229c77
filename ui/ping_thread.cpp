#include "ui/ping_thread.h"

#include <chrono>
#include <system_error>
#include <limits>
#include <thread>

#include "platform/ping.h"
#include "platform/thread_priority.h"

namespace dovrane::ui {

std::unique_lock<std::mutex> PingShared::TryLock() {
  std::unique_lock<std::mutex> guard(lock, std::try_to_lock);
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  while (!guard.owns_lock() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    (void)guard.try_lock();
  }
  return guard;
}

bool PingShared::Publish(std::vector<std::string> names) {
  std::unique_lock<std::mutex> guard = TryLock();
  if (!guard.owns_lock()) return false;
  hosts = std::move(names);
  return true;
}

struct PingThread::Probe {
  std::string host;
  std::atomic<bool> done{false};
  std::atomic<bool> answered{false};
};

namespace {
// Nothing goes back to the window's thread: the cycle raises a shared flag.
void PostNowhere(std::function<void()>) {}
}  // namespace

PingThread::PingThread(PingShared& shared, HostPing ping, int cycle_ms)
    : shared_(shared),
      ping_(ping ? std::move(ping) : HostPing(platform::PingHost)),
      cycle_ms_(cycle_ms),
      probes_(PostNowhere),
      cycle_(PostNowhere) {}

PingThread::~PingThread() { Stop(); }

bool PingThread::Start() {
  if (running_ && !running_->Done()) return true;
  {
    std::lock_guard<std::mutex> guard(wake_->mutex);
    wake_->stop = false;
  }
  running_ = cycle_.Start([this](services::WorkerRunner::Job&) {
    // Below normal, and so are the probes it starts; a refusal changes nothing else.
    (void)platform::LowerThisThreadPriority();
    Run();
    return std::function<void()>();
  });
  return running_ != nullptr;
}

void PingThread::Stop() {
  {
    std::lock_guard<std::mutex> guard(wake_->mutex);
    wake_->stop = true;
  }
  wake_->wake.notify_all();
  // The cycle sees the flag within a lock wait; its probes are not waited for past the grace.
  if (running_) (void)cycle_.Wait(running_, std::numeric_limits<int>::max());
  running_.reset();
  (void)probes_.Settle();
}

std::set<std::string> PingThread::PingAll(const std::vector<std::string>& hosts) {
  std::vector<std::shared_ptr<Probe>> cycle;
  for (const std::string& host : hosts) {
    auto probe = std::make_shared<Probe>();
    probe->host = host;
    auto started = probes_.Start([probe, wake = wake_, ping = ping_](services::WorkerRunner::Job&) {
      probe->answered = ping(probe->host, kPingTimeoutMs) == 0;
      {
        std::lock_guard<std::mutex> guard(wake->mutex);
        probe->done = true;
      }
      wake->wake.notify_all();
      return std::function<void()>();
    });
    // No thread for this probe: the host counts as not answering.
    if (started) cycle.push_back(std::move(probe));
  }
  // The name lookup has no time limit of its own: the cycle does not wait
  // for it longer than the probe's limit and a margin.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPingTimeoutMs * 3);
  {
    std::unique_lock<std::mutex> lock(wake_->mutex);
    wake_->wake.wait_until(lock, deadline, [&] {
      if (wake_->stop) return true;
      for (const auto& probe : cycle) {
        if (!probe->done) return false;
      }
      return true;
    });
  }
  std::set<std::string> answering;
  for (const auto& probe : cycle) {
    if (probe->done && probe->answered) answering.insert(probe->host);
  }
  return answering;
}

void PingThread::Run() {
  std::unique_lock<std::mutex> lock(wake_->mutex);
  while (!wake_->stop) {
    wake_->wake.wait_for(lock, std::chrono::milliseconds(cycle_ms_), [this] { return wake_->stop; });
    if (wake_->stop) break;
    lock.unlock();
    const bool allowed = shared_.ping_allowed.load() == 1;
    if (allowed) {
      std::vector<std::string> hosts;
      bool copied = false;
      {
        std::unique_lock<std::mutex> list_lock = shared_.TryLock();
        if (list_lock.owns_lock()) {
          hosts = shared_.hosts;
          copied = true;
        }
      }
      // Without the lock nothing is pinged and the set stays: no change reported.
      if (copied) current_ = PingAll(hosts);
    }
    lock.lock();
    if (wake_->stop) break;
    if (allowed) {
      // The first cycle that finds answering hosts only records them.
      if (!previous_.empty() && previous_ != current_) shared_.ping_changed = true;
      previous_ = current_;
    }
    ++cycles_;
  }
}

}  // namespace dovrane::ui
