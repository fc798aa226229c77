#include "ui/ping_thread.h"

#include <chrono>
#include <system_error>
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

PingThread::PingThread(PingShared& shared, HostPing ping, int cycle_ms)
    : shared_(shared), ping_(ping ? std::move(ping) : HostPing(platform::PingHost)), cycle_ms_(cycle_ms) {}

PingThread::~PingThread() { Stop(); }

bool PingThread::Start() {
  if (thread_.joinable()) return true;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stop_ = false;
  }
  try {
    thread_ = std::thread([this] {
      // Below normal, and so are the probes it starts; a refusal changes nothing else.
      (void)platform::LowerThisThreadPriority();
      Run();
    });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void PingThread::Stop() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  ReapProbes(true);
}

std::set<std::string> PingThread::PingAll(const std::vector<std::string>& hosts) {
  ReapProbes(false);
  std::vector<std::shared_ptr<Probe>> cycle;
  for (const std::string& host : hosts) {
    auto probe = std::make_shared<Probe>();
    probe->host = host;
    Probe* raw = probe.get();
    std::thread thread;
    try {
      thread = std::thread([this, raw] {
        raw->answered = ping_(raw->host, kPingTimeoutMs) == 0;
        {
          std::lock_guard<std::mutex> guard(mutex_);
          raw->done = true;
        }
        wake_.notify_all();
      });
    } catch (const std::system_error&) {
      continue;  // no thread for this probe: the host counts as not answering
    }
    probes_.emplace_back(probe, std::move(thread));
    cycle.push_back(std::move(probe));
  }
  // The name lookup has no time limit of its own: the cycle does not wait
  // for it longer than the probe's limit and a margin.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPingTimeoutMs * 3);
  {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_until(lock, deadline, [&] {
      if (stop_) return true;
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

void PingThread::ReapProbes(bool wait) {
  for (size_t i = 0; i < probes_.size();) {
    if (wait || probes_[i].first->done) {
      probes_[i].second.join();
      probes_[i] = std::move(probes_.back());
      probes_.pop_back();
    } else {
      ++i;
    }
  }
}

void PingThread::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    wake_.wait_for(lock, std::chrono::milliseconds(cycle_ms_), [this] { return stop_; });
    if (stop_) break;
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
    if (stop_) break;
    if (allowed) {
      // The first cycle that finds answering hosts only records them.
      if (!previous_.empty() && previous_ != current_) shared_.ping_changed = true;
      previous_ = current_;
    }
    ++cycles_;
  }
}

}  // namespace dovrane::ui
