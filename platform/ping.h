// Whether a host answers on the network, as the Windows ping of the system
// reports it: 0 answered, 11001 the name does not resolve, 10060 no answer in
// time, 10065 the host cannot be reached. An ICMP echo through an unprivileged
// datagram socket where the system allows it, else a non-blocking TCP connect
// to port 445, then 139; a connection or a refusal both mean it answered.
#pragma once

#include <string>

namespace dovrane::platform {

inline constexpr int kPingHostNotFound = 11001;
inline constexpr int kPingTimedOut = 10060;
inline constexpr int kPingUnreachable = 10065;

int PingHost(const std::string& host, int timeout_ms);
// The text of a ping result.
std::string PingErrorText(int code);

}  // namespace dovrane::platform
