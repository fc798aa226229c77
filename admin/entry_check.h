// The check of the administration's records against their project folders:
// records whose folder is gone are removed (only where the host's project
// folder is reachable), invalid link files are deleted, project versions and
// begin times are refreshed.
#pragma once

#include <string>

#include "extlib/installation/operation_context.h"

namespace dovrane::admin {

// Whole administration, with the context's progress lines, one project after
// the other (a counted run). 0, -1 when the host list cannot be made, or
// kPrjInterrupted when the person stopped it between projects.
[[nodiscard]] int CheckValidEntries(extlib::OperationContext& ctx);
// The records of one host (compared case-insensitively), without progress lines; a
// record whose folder is missing below a reachable host folder is removed
// whatever its status, and its check-out information file goes too. 0, or -1
// when the project list cannot be made, kPrjInterrupted when stopped.
[[nodiscard]] int CheckHostEntries(extlib::OperationContext& ctx, const std::string& host);

}  // namespace dovrane::admin
