#include "platform/smb_port.h"

#include "platform/name_lookup.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace dovrane::platform {

int ProbeTcpPort(const std::string& host, int port, int timeout_ms) {
  // The name's lookup is bounded by the same limit as the connection.
  const auto start = std::chrono::steady_clock::now();
  sockaddr_in addr;
  switch (LookupIPv4(host, timeout_ms, &addr)) {
    case LookupResult::kFound: break;
    case LookupResult::kNotFound: return -ENOENT;
    case LookupResult::kTimedOut: return -ETIMEDOUT;
  }
  timeout_ms -= static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
  if (timeout_ms <= 0) timeout_ms = 1;  // what is left of it, at least a moment
  addr.sin_port = htons(static_cast<uint16_t>(port));
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) return -errno;
  int rc = 0;
  if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    rc = -errno;
    if (rc == -EINPROGRESS) {
      pollfd p{s, POLLOUT, 0};
      int ready;
      do ready = ::poll(&p, 1, timeout_ms > 0 ? timeout_ms : 1);
      while (ready < 0 && errno == EINTR);
      if (ready <= 0) {
        rc = -ETIMEDOUT;
      } else {
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len);
        rc = -err;
      }
    }
  }
  ::close(s);
  return rc;
}

}  // namespace dovrane::platform
