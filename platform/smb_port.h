// The short test of a computer's SMB port before libsmbclient is asked: its
// own waits for a silent host are long and partly fixed.
#pragma once

#include <string>

namespace dovrane::platform {

inline constexpr int kSmbPort = 445;

// 0: something listens on port (TCP connect succeeded) within timeout_ms;
// -ENOENT the name does not resolve; -ECONNREFUSED nothing listens;
// -ETIMEDOUT no answer in time; -EHOSTUNREACH / -ENETUNREACH.
int ProbeTcpPort(const std::string& host, int port, int timeout_ms);

}  // namespace dovrane::platform
