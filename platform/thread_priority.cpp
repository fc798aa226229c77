#include "platform/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace dovrane::platform {

namespace {

id_t ThisThreadId() { return static_cast<id_t>(syscall(SYS_gettid)); }

}  // namespace

int ThisThreadNice() {
  errno = 0;
  return getpriority(PRIO_PROCESS, ThisThreadId());
}

int LowerThisThreadPriority() {
  const int nice = ThisThreadNice();
  if (setpriority(PRIO_PROCESS, ThisThreadId(), nice + kBelowNormalNice) != 0) return -errno;
  return 0;
}

}  // namespace dovrane::platform
