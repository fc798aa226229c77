// The checks that touch a host's disk or the network: a host's check-out
// information file and ping, the lock-file test of "in use" for its free
// projects, and a project's directory look-up. Each is a blocking function a
// test can call; ItemCheckWorker runs them off the window's thread with a time
// limit per host, so a host whose share hangs shows as not answering instead
// of freezing the window.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "services/worker_runner.h"
#include "tree/host_table.h"

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::tree {

struct HostCheckRequest {
  std::string host;
  bool ping = true;  // the ping-allowed flag
  std::vector<uint32_t> free_projects;  // numbers whose lock file is to be tested
};

struct HostCheckResult {
  std::string host;
  bool in_time = true;  // false: the checks passed the time limit
  bool checked_out = false;
  bool ping_failed = false;
  std::vector<uint32_t> in_use;
};

struct DirectoryCheck {
  std::string host;
  std::string name;      // the project item's text
  bool in_time = true;
  long number = -1;      // negative: the library does not know the project
  std::string path;      // "" when it has none
  bool reachable = false;
};

// The ping function of the checks: 0 answered (the ping's own codes).
using PingFunction = std::function<int(const std::string& host, int timeout_ms)>;
inline constexpr int kCheckPingTimeoutMs = 200;

// The requests of a table's hosts (the free projects of each). Only hosts
// without projects are pinged.
std::vector<HostCheckRequest> HostCheckRequests(const HostTable& table, bool ping_allowed);
// Whether the host's check-out information file exists, whether it answers
// the ping, and which of its free projects have their lock file held (a stale
// lock file, held by nobody, is deleted). A host that does not answer gets
// no disk tests.
HostCheckResult CheckHost(extlib::OperationContext& ctx, const HostCheckRequest& request, const PingFunction& ping);
// The kind a project item of this text has now (the status bits, then
// whether its lock file is held; a stale one is deleted); 0 when the
// administration does not say. For the refresh check's worker.
uint32_t ProjectKindNow(extlib::OperationContext& ctx, const std::string& text, const std::string& data_path);
// The project's directory as the library builds it, and whether it can be
// reached. Library messages are off: an unreachable project shows no box.
DirectoryCheck LookupProjectDirectory(extlib::OperationContext& ctx, const std::string& host, const std::string& name);
// Applies a host's result to its record and its projects: the host's kind,
// its projects' "in use", and kind 273 for the free projects of a host whose
// disk did not answer in time (a failed ping only changes the host's own
// image). Returns the projects whose kind or image changed.
std::vector<ProjectRecord*> ApplyHostCheck(HostRecord* host, const HostCheckResult& result,
                                           const std::set<uint32_t>& unreachable);
// Moves a project between kinds 1 and 273 by the check (only those two
// kinds; a kind 273 project on a host that is not open stays) and keeps the
// mark map in step; fills the directory item. True when the record changed.
bool ApplyDirectoryCheck(const HostTable& table, ProjectRecord* project, const DirectoryCheck& check,
                         std::set<uint32_t>* unreachable);

// Runs checks on threads of their own. A check that does not end within the
// time limit is answered as not answering; its thread is left to end on its
// own. When the worker is destroyed, a check still stuck in a call on a
// hanging share is left behind (platform/threads_at_large.h) and answers no
// more; the others are joined. Callbacks run on the worker's threads, at
// most once per request, and never after the destructor began.
class ItemCheckWorker {
 public:
  using HostCallback = std::function<void(uint64_t serial, HostCheckResult)>;
  using DirectoryCallback = std::function<void(uint64_t serial, DirectoryCheck)>;
  ItemCheckWorker(int time_limit_ms, PingFunction ping, HostCallback on_host, DirectoryCallback on_directory);
  ~ItemCheckWorker();
  ItemCheckWorker(const ItemCheckWorker&) = delete;
  ItemCheckWorker& operator=(const ItemCheckWorker&) = delete;

  // serial: the fill the requests belong to, handed back with the result.
  void CheckHosts(uint64_t serial, std::vector<HostCheckRequest> requests);
  void CheckDirectory(uint64_t serial, const std::string& host, const std::string& name);
  // Checks started and not yet answered.
  int Pending() const;

 private:
  struct Task;
  // What the check threads use, which may outlive the worker.
  struct Shared;
  void Start(std::shared_ptr<Task> task);
  void Watch();

  const int time_limit_ms_;
  PingFunction ping_;
  HostCallback on_host_;
  DirectoryCallback on_directory_;
  std::shared_ptr<Shared> shared_;
  std::mutex& mutex_;
  std::condition_variable& wake_;
  bool stop_ = false;
  std::vector<std::shared_ptr<Task>> watched_;
  // The checks' threads; their answers go through the callbacks, gated by Shared.
  services::WorkerRunner checks_;
  // Only waits for deadlines (it touches no disk): joined at once.
  std::thread watchdog_;
};

}  // namespace dovrane::tree
