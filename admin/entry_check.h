// The check of the administration's records against their project folders:
// records whose folder is gone are removed (only where the host's project
// folder is reachable), invalid link files are deleted, project versions and
// begin times are refreshed.
#pragma once

#include <string>

namespace dovrane::admin {

// Whole administration, with progress lines on console. 0, or -1 when the
// host list cannot be made.
[[nodiscard]] int CheckValidEntries(long console);
// The records of one host (compared case-insensitively), without console; a
// record whose folder is missing below a reachable host folder is removed
// whatever its status, and its check-out information file goes too. 0, or -1
// when the project list cannot be made.
[[nodiscard]] int CheckHostEntries(const std::string& host);

}  // namespace dovrane::admin
