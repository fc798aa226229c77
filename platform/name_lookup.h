// The IPv4 address of a computer's name within a time limit. The system's
// resolver waits as long as its configuration says (seconds per server and
// try, more for a dead name server); the lookup runs on a thread of its own
// that is left to finish alone when the limit passes, so the caller never
// waits longer than it asked.
#pragma once

#include <netinet/in.h>

#include <functional>
#include <string>

namespace dovrane::platform {

enum class LookupResult { kFound, kNotFound, kTimedOut };

// Dotted addresses answer at once, without a thread.
LookupResult LookupIPv4(const std::string& host, int timeout_ms, sockaddr_in* address);

// The resolver behind LookupIPv4, replaceable by tests (a name server that
// never answers); nullptr puts the system's back. Returns true when found.
using NameResolver = std::function<bool(const std::string& host, sockaddr_in* address)>;
void SetNameResolverForTesting(NameResolver resolver);

}  // namespace dovrane::platform
