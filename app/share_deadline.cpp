#include "app/share_deadline.h"
#include "app/command_line_context.h"

#include <cstdio>

#include "app/projects/project_error.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/settings.h"
#include "extlib/projects/project_code.h"
#include "platform/call_deadline.h"
#include "platform/env.h"
#include "platform/path_map.h"
#include "platform/terminal.h"
#include "platform/threads_at_large.h"
#include "services/tool_message_box.h"

namespace dovrane::app {

namespace {
// The host of a Windows path \\HOST\share\..., else "".
std::string HostOf(const std::string& windows_path) {
  if (windows_path.rfind("\\\\", 0) != 0) return "";
  return windows_path.substr(2, windows_path.find('\\', 2) - 2);
}
}  // namespace

long ShareWaitSeconds() {
  long seconds = kDefaultShareWaitSeconds;
  if (!extlib::GetSettingNumber("HKLM", "InstallRoot\\ShareWaitSeconds", &seconds)) return kDefaultShareWaitSeconds;
  return seconds < 0 ? kDefaultShareWaitSeconds : seconds;
}

std::string ShareWaitMessage(extlib::OperationContext& ctx, const std::string& native_path, long long waited_ms) {
  std::string where = ctx.Windows(native_path);
  if (where.empty()) where = native_path;
  // \\HOST\share\...: the host is the server that does not answer.
  const std::string host = HostOf(where);
  char text[512];
  std::snprintf(text, sizeof text, "%s%s does not answer: %lld s waited on %s (InstallRoot\\ShareWaitSeconds).\n",
                host.empty() ? "The disk of " : "Host ", host.empty() ? where.c_str() : host.c_str(),
                waited_ms / 1000, where.c_str());
  return std::string(text) + "The run stops; the next -update completes or takes back what it left unfinished.\n";
}

void ReportFailedShareCall(extlib::OperationContext& ctx) {
  const platform::FailedShareCall failed = platform::LastFailedShareCall();
  platform::ForgetFailedShareCall();
  if (failed.error == 0) return;
  std::string where = ctx.Windows(failed.path);
  if (where.empty()) where = failed.path;
  const std::string host = HostOf(where);
  const std::string cause = platform::ErrorName(failed.error);
  if (host.empty()) {
    services::ToolMessageBox(CommandLineContext(), services::kMessageWarning, "%s: %s.\n", where.c_str(),
                             cause.c_str());
  } else {
    services::ToolMessageBox(CommandLineContext(), services::kMessageWarning, "Host %s stopped answering: %s: %s.\n",
                             host.c_str(), where.c_str(), cause.c_str());
  }
}

void ArmShareDeadline() {
  const long seconds = ShareWaitSeconds();
  platform::SetCallDeadline(static_cast<int>(seconds * 1000), [](const std::string& path, int64_t waited_ms) {
    platform::Terminal::WriteErr(ShareWaitMessage(CommandLineContext(), path, static_cast<long long>(waited_ms)));
    // The waiting call cannot be left: the process ends around it, and with
    // it every lock it holds.
    platform::ThreadAtLargeStarts();
    platform::EndProcess(ExitStatusOf(extlib::kPrjNotReachable));
  });
}

}  // namespace dovrane::app
