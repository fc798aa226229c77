#include "platform/smb_port.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace dovrane::platform {

int ProbeTcpPort(const std::string& host, int port, int timeout_ms) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return -ENOENT;
  sockaddr_in addr;
  std::memcpy(&addr, found->ai_addr, sizeof addr);
  ::freeaddrinfo(found);
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
