// A network made up by a test: workgroups, their computers, each computer's
// shares and the folders below them, each listing with an error of its own and
// an optional wait (to stand for a computer still being asked). Counts the
// calls so a test sees what was asked. Thread-safe: the window asks it from
// workers.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

#include "network/network_enumerator.h"

namespace dovrane::testing {

class FakeEnumerator : public network::NetworkEnumerator {
 public:
  // Keys: "" for the workgroups, the workgroup's name, "\\HOST" for shares,
  // "\\HOST\share[\dir]" for folders. A key not set lists nothing, with kFailed.
  void Set(const std::string& key, network::NetListing listing) {
    std::lock_guard<std::mutex> lock(mutex_);
    listings_[key] = std::move(listing);
  }
  // The listing of key waits until Release (a computer that does not answer yet).
  void Hold(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    held_[key] = true;
  }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      held_.clear();
    }
    released_.notify_all();
  }
  int Calls() const { return calls_.load(); }

  network::NetListing Workgroups() override { return Get(""); }
  network::NetListing Computers(const std::string& workgroup) override { return Get(workgroup); }
  network::NetListing Shares(const std::string& computer) override { return Get("\\\\" + computer); }
  network::NetListing Directories(const std::string& unc_path) override { return Get(unc_path); }

 private:
  network::NetListing Get(const std::string& key) {
    ++calls_;
    std::unique_lock<std::mutex> lock(mutex_);
    // Bounded: a test that forgets to release still ends.
    released_.wait_for(lock, std::chrono::seconds(20), [&] { return !held_.count(key); });
    auto it = listings_.find(key);
    if (it == listings_.end()) return {network::NetError::kFailed, {}};
    return it->second;
  }

  std::mutex mutex_;
  std::condition_variable released_;
  std::map<std::string, network::NetListing> listings_;
  std::map<std::string, bool> held_;
  std::atomic<int> calls_{0};
};

}  // namespace dovrane::testing
