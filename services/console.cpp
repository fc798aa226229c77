#include "services/console.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "extlib/installation/operation_context.h"

namespace dovrane::services {

namespace {
platform::Messenger& Out(platform::Messenger* messenger) {
  return messenger ? *messenger : *platform::CurrentMessenger();
}
}  // namespace

void ConsoleProgress::Title(const std::string& title) { Out(messenger_).ProgressLine("== " + title + " ==\n"); }

void ConsoleProgress::Line(const std::string& text) { Out(messenger_).ProgressLine(text); }

long lfConsoleCreate(extlib::OperationContext& ctx, const char* title) {
  ctx.Title(title ? title : "");
  return 1;
}

int lfConsoleWrite(extlib::OperationContext& ctx, long handle, const char* format, ...) {
  if (handle == kInvalidConsole || handle == 0) return 0;
  char text[1024];
  va_list ap;
  va_start(ap, format);
  int n = std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  if (n < 0) return 0;
  if (n >= static_cast<int>(sizeof text)) n = sizeof text - 1;
  ctx.Print("%s", text);
  return n;
}

}  // namespace dovrane::services
