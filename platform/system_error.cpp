#include "platform/system_error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace dovrane::platform {

const char* SystemErrorText(int error) {
  // One per thread: the copy and deletion workers and the window's thread
  // each keep the text they asked for.
  thread_local char buffer[1024];
  int e = error < 0 ? -error : error;
  char scratch[512];
  // The GNU strerror_r returns the text it chose, not always in scratch.
  const char* text = strerror_r(e, scratch, sizeof scratch);
  if (!text || std::strncmp(text, "Unknown error", 13) == 0)
    std::snprintf(buffer, sizeof buffer, "Windows Error Message: %d", e);
  else
    std::snprintf(buffer, sizeof buffer, "%s", text);
  return buffer;
}

const char* LastSystemErrorText() { return SystemErrorText(errno); }

}  // namespace dovrane::platform
