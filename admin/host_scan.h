// The scan of the hosts' project folders for entries the administration
// does not know (or knows under another host), which are then registered.
#pragma once

#include "admin/seen_project_info.h"
#include "extlib/installation/operation_context.h"

#include <string>
#include <vector>

namespace dovrane::admin {

// Pass 1 over all hosts, then pass 2 over all hosts. 0; -1 when the host
// list cannot be made or a batch of appends could not be written (a full
// volume); kEntriesLeftUnregistered when an entry could not be registered
// (reported; the others were). Its appends are written in batches: for runs
// under the rebuild marker, which the next update completes when they are cut
// short.
// seen (may be null) collects the stored records read from folders.
inline constexpr int kEntriesLeftUnregistered = 1;
[[nodiscard]] int ScanAllHosts(extlib::OperationContext& ctx, SeenProjectInfos* seen = nullptr);
// Pass 1 takes the number-named entries "n???????.prj", pass 2 every "*.prj".
// 0 when the folder could be listed, -1 otherwise.
[[nodiscard]] int ScanHostProjects(extlib::OperationContext& ctx, const std::string& host, int pass);

// An entry waiting to be registered.
struct PendingEntry {
  std::string entry;
  std::string host;
  bool is_file = false;
  std::string native;  // the name as listed, "" when not known
};
// The entries a scan could not register stay here for the next scan ("new"
// and "elsewhere"), one pair per installation; each list is worked last in,
// first out.
std::vector<PendingEntry> PendingNew(extlib::Installation& installation);
std::vector<PendingEntry> PendingElsewhere(extlib::Installation& installation);
// True while an entry waits in either list.
bool EntriesLeftUnregistered(extlib::Installation& installation);

}  // namespace dovrane::admin
