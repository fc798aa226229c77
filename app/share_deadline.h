// How long a command-line run waits for one call on a share before it gives
// up on the server: the machine setting InstallRoot\ShareWaitSeconds (whole
// seconds, default 20; 0 waits as long as the mount does). Past it the run
// names the host and the path it waited on, and ends with -6 (host not
// reachable); what it left half done is completed or taken back by the next
// -update, as after any crash.
#pragma once

#include <string>

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::app {

inline constexpr long kDefaultShareWaitSeconds = 20;

// The deadline in seconds as the settings give it.
[[nodiscard]] long ShareWaitSeconds();

// The message for a call on native_path that waited waited_ms.
std::string ShareWaitMessage(extlib::OperationContext& ctx, const std::string& native_path, long long waited_ms);

// Puts the deadline on the run's file calls (platform/call_deadline.h).
void ArmShareDeadline();

// After a run that failed: when one of its calls failed as on a share whose
// server stopped answering, names the host, the path and the cause (once).
void ReportFailedShareCall(extlib::OperationContext& ctx);

}  // namespace dovrane::app
