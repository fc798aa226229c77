#include "app/share_deadline.h"

#include <cstdio>

#include "app/project_error.h"
#include "extlib/project_code.h"
#include "extlib/settings.h"
#include "platform/call_deadline.h"
#include "platform/path_map.h"
#include "platform/terminal.h"
#include "platform/threads_at_large.h"

namespace dovrane::app {

long ShareWaitSeconds() {
  long seconds = kDefaultShareWaitSeconds;
  if (!extlib::GetSettingNumber("HKLM", "InstallRoot\\ShareWaitSeconds", &seconds)) return kDefaultShareWaitSeconds;
  return seconds < 0 ? kDefaultShareWaitSeconds : seconds;
}

std::string ShareWaitMessage(const std::string& native_path, long long waited_ms) {
  std::string where = platform::WindowsPath(native_path);
  if (where.empty()) where = native_path;
  // \\HOST\share\...: the host is the server that does not answer.
  std::string host;
  if (where.rfind("\\\\", 0) == 0) host = where.substr(2, where.find('\\', 2) - 2);
  char text[512];
  std::snprintf(text, sizeof text, "%s%s does not answer: %lld s waited on %s (InstallRoot\\ShareWaitSeconds).\n",
                host.empty() ? "The disk of " : "Host ", host.empty() ? where.c_str() : host.c_str(),
                waited_ms / 1000, where.c_str());
  return std::string(text) + "The run stops; the next -update completes or takes back what it left unfinished.\n";
}

void ArmShareDeadline() {
  const long seconds = ShareWaitSeconds();
  platform::SetCallDeadline(static_cast<int>(seconds * 1000), [](const std::string& path, int64_t waited_ms) {
    platform::Terminal::WriteErr(ShareWaitMessage(path, static_cast<long long>(waited_ms)));
    // The waiting call cannot be left: the process ends around it, and with
    // it every lock it holds.
    platform::ThreadAtLargeStarts();
    platform::EndProcess(ExitStatusOf(extlib::kPrjNotReachable));
  });
}

}  // namespace dovrane::app
