// Who and where we are: computer, user and domain names. Each can be
// overridden for tests and scripts (DOVRANE_COMPUTERNAME, DOVRANE_USERNAME,
// DOVRANE_DOMAIN).
#pragma once

#include <string>

namespace dovrane::platform {

// The host's short name in upper case, at most 15 characters.
std::string ComputerName();
// The login name.
std::string UserName();
// The domain or workgroup; the override, else the configured one, else "".
std::string DomainName();
void SetConfiguredDomain(const std::string& domain);
// This process's identifier, for names of temporary files that must not clash
// with another process's.
int ProcessId();

}  // namespace dovrane::platform
