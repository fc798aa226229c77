// The scan of the hosts' project folders for entries the administration
// does not know (or knows under another host), which are then registered.
#pragma once

#include <string>
#include <vector>

namespace dovrane::admin {

// Pass 1 over all hosts, then pass 2 over all hosts. 0, or -1 when the host
// list cannot be made.
int ScanAllHosts(long console);
// Pass 1 takes the number-named entries "n???????.prj", pass 2 every "*.prj".
// 0 when the folder could be listed, -1 otherwise.
int ScanHostProjects(long console, const std::string& host, int pass);

// An entry waiting to be registered.
struct PendingEntry {
  std::string entry;
  std::string host;
  bool is_file = false;
};
// The entries a scan could not register stay here for the next scan ("new"
// and "elsewhere"); each list is worked last in, first out.
const std::vector<PendingEntry>& PendingNew();
const std::vector<PendingEntry>& PendingElsewhere();
void ClearPendingEntries();

}  // namespace dovrane::admin
