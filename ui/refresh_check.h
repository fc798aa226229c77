// The refresh check of the main window: every 4 seconds it asks whether the
// administration or a host's check-out state changed from outside and the
// trees must be refilled. The disk look-ups (project.dat's time stamp and the
// host check-out files in the network \Net folder, which may hang with its
// share) run on a worker through ProbeRefresh; the decision runs in the
// window's thread on the copies the probe returns.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/env.h"

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::ui {

// Item kinds the check treats specially (the tree logic's values).
inline constexpr uint32_t kKindAdminHostCheckedOut = 0x110000;  // the administration host, checked out
inline constexpr uint32_t kKindHostCheckedOut = 0x11000000;      // a data host, checked out
inline constexpr uint32_t kKindHostNoAnswer = 0x11010000;        // a data host that did not answer the ping
inline constexpr uint32_t kKindProjectUnreachable = 273;         // a project whose directory cannot be reached

struct RefreshHostItem {
  std::string name;  // the item's text: the host name
  uint32_t kind = 0;
};

struct RefreshProjectItem {
  std::string text;
  uint32_t kind = 0;  // the item's data
};

// The project's kind as it is now, from the item's text and the data path;
// supplied by the tree logic, called on the worker.
using ProjectKindFunction = std::function<uint32_t(const std::string& text, const std::string& data_path)>;

// Everything the check needs, copied in the window's thread: the worker never
// sees the trees.
struct RefreshRequest {
  std::string net_folder;  // the network \Net folder, Windows form or native
  std::string data_path;   // the search row's data path
  std::vector<RefreshHostItem> hosts;        // top-level items of the host tree
  std::vector<RefreshProjectItem> projects;  // top-level items of the project tree
  ProjectKindFunction project_kind;          // empty: the project tree is not checked
  uint64_t tree_generation = 0;              // which fill of the trees the items come from
};

// What the disk said.
struct RefreshProbe {
  bool admin_found = false;
  platform::FileTime admin_time;
  std::vector<char> host_file_exists;       // one per request host
  std::vector<uint32_t> project_kind_now;   // one per request project (empty without a kind function)
};

// Blocking look-ups through the Env: project.dat and "<host>.out" in the \Net
// folder, the project kinds. For a worker thread.
RefreshProbe ProbeRefresh(extlib::OperationContext& ctx, const RefreshRequest& request);

enum class RefreshAction {
  kNone,
  kRefill,           // the administration changed, a refill was asked for, or a forced check
  kRefillAfterBeep,  // an item no longer matches the disk
};

// Project items whose data is set, not 273 and differs from the kind now
// (a kind now of 0 tells nothing).
bool ProjectItemsDisagree(const RefreshRequest& request, const RefreshProbe& probe);
// A checked-out host without its check-out file, or another host with one;
// the checked-out administration host and hosts that did not answer are skipped.
bool HostItemsDisagree(const RefreshRequest& request, const RefreshProbe& probe);

// The check's memory between runs: the administration's time stamp and the
// one-shot request. Used in the window's thread, except RequestRefill.
class RefreshCheckState {
 public:
  // Whether the administration changed: true when the one-shot request was pending (it is cleared), or
  // when project.dat's time differs from a remembered one and the change came
  // from outside (outside_change 1). The time is remembered either way; the
  // very first time seen only records.
  bool AdministrationChanged(const RefreshProbe& probe, int outside_change);
  // Brings the remembered time up to date without deciding anything (the
  // refresh button, the first fill).
  void RecordTimeStamp(const RefreshProbe& probe);
  // The whole check. `same_trees`: the trees still hold the request's items
  // (no refill since the request was copied); otherwise the item walks are
  // skipped, as their items are gone.
  RefreshAction Decide(const RefreshRequest& request, const RefreshProbe& probe, int ping_changed,
                       int outside_change, bool same_trees);
  // Raised when a data path has been registered on a host: the next check
  // refills once. Any thread.
  void RequestRefill() { requested_.store(true); }
  bool HasTimeStamp() const { return has_stamp_; }

 private:
  bool has_stamp_ = false;
  platform::FileTime stamp_;
  std::atomic<bool> requested_{false};
};

}  // namespace dovrane::ui
