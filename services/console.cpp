#include "services/console.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/messenger.h"

namespace dovrane::services {

long lfConsoleCreate(const char* title) {
  std::string head = std::string("== ") + (title ? title : "") + " ==\n";
  platform::CurrentMessenger()->ProgressLine(head);
  return 1;
}

int lfConsoleWrite(long handle, const char* format, ...) {
  if (handle == kInvalidConsole || handle == 0) return 0;
  char text[1024];
  va_list ap;
  va_start(ap, format);
  int n = std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  if (n < 0) return 0;
  if (n >= static_cast<int>(sizeof text)) n = sizeof text - 1;
  platform::CurrentMessenger()->ProgressLine(text);
  return n;
}

}  // namespace dovrane::services
