#include "platform/ping.h"

#include "platform/name_lookup.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace dovrane::platform {

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// 0 answered, 1 no answer, -1 not possible here (no unprivileged ICMP).
int IcmpEcho(const sockaddr_in& addr, int timeout_ms) {
  int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (s < 0) return -1;
  icmphdr req{};
  req.type = ICMP_ECHO;
  req.un.echo.sequence = htons(1);
  char packet[sizeof req + 32] = {};
  std::memcpy(packet, &req, sizeof req);
  int rc = 1;
  if (::sendto(s, packet, sizeof packet, 0, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) < 0) {
    rc = -1;
  } else {
    pollfd p{s, POLLIN, 0};
    char reply[256];
    if (::poll(&p, 1, timeout_ms) > 0 && ::recv(s, reply, sizeof reply, 0) >= static_cast<ssize_t>(sizeof req)) {
      icmphdr got;
      std::memcpy(&got, reply, sizeof got);
      rc = got.type == ICMP_ECHOREPLY ? 0 : 1;
    }
  }
  ::close(s);
  return rc;
}

// 0 connected or refused (the host is there), 1 no answer, 2 unreachable.
int TcpProbe(sockaddr_in addr, int port, int timeout_ms) {
  addr.sin_port = htons(static_cast<uint16_t>(port));
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) return 2;
  int rc = 1;
  if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    rc = 0;
  } else if (errno == ECONNREFUSED) {
    rc = 0;
  } else if (errno == EINPROGRESS) {
    pollfd p{s, POLLOUT, 0};
    if (::poll(&p, 1, timeout_ms) > 0) {
      int err = 0;
      socklen_t len = sizeof err;
      ::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len);
      rc = err == 0 || err == ECONNREFUSED ? 0 : (err == EHOSTUNREACH || err == ENETUNREACH) ? 2 : 1;
    }
  } else if (errno == EHOSTUNREACH || errno == ENETUNREACH) {
    rc = 2;
  }
  ::close(s);
  return rc;
}

}  // namespace

int PingHost(const std::string& host, int timeout_ms) {
  // The name's lookup counts against the limit like the rest.
  const int64_t deadline = NowMs() + (timeout_ms > 0 ? timeout_ms : 1);
  sockaddr_in addr;
  switch (LookupIPv4(host, timeout_ms, &addr)) {
    case LookupResult::kFound: break;
    case LookupResult::kNotFound: return kPingHostNotFound;
    case LookupResult::kTimedOut: return kPingTimedOut;
  }
  timeout_ms = static_cast<int>(deadline - NowMs());
  if (timeout_ms <= 0) return kPingTimedOut;
  // Half the limit at most for the echo: a host whose firewall drops echo
  // requests (Windows' default) must still be found on its SMB port.
  int icmp = IcmpEcho(addr, timeout_ms > 1 ? timeout_ms / 2 : 1);
  if (icmp == 0) return 0;
  bool unreachable = false;
  for (int port : {445, 139}) {
    int left = static_cast<int>(deadline - NowMs());
    if (left <= 0) break;
    int rc = TcpProbe(addr, port, left);
    if (rc == 0) return 0;
    unreachable = unreachable || rc == 2;
  }
  return unreachable ? kPingUnreachable : kPingTimedOut;
}

std::string PingErrorText(int code) {
  switch (code) {
    case 0: return "The host answered.";
    case kPingHostNotFound: return "No such host is known.";
    case kPingTimedOut: return "The host did not answer in time.";
    case kPingUnreachable: return "The host can not be reached.";
    default: return "Network error " + std::to_string(code) + ".";
  }
}

}  // namespace dovrane::platform
