#include "support/session_lock.h"

#include <unistd.h>

#include "support/temp_dir.h"

namespace dovrane::testing {

SessionLock::SessionLock(const std::string& path, short type) {
  WriteFile(path, "WS07 anna\r\n");
  fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0) return;
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  held_ = ::fcntl(fd_, F_OFD_SETLK, &lock) == 0;
}

void SessionLock::Release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  held_ = false;
}

}  // namespace dovrane::testing
