#include "app/projects/project_error.h"

#include "extlib/installation/hosts.h"
#include "extlib/installation/language.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_code.h"
#include "platform/call_deadline.h"
#include "platform/env.h"
#include "services/tool_message_box.h"

namespace dovrane::app {

namespace {
long NoticeNumber(int code) {
  switch (code) {
    case -6: return 2200206;
    case -7: return 2500453;
    case -18: return 2500455;
    case -22: return 2500454;
    default: return 0;
  }
}
}  // namespace

int ExitStatusOf(int result) {
  if (extlib::IsProjectCode(result)) return result;
  return kPrjFailed;
}

std::string ProjectErrorText(int code) {
  switch (code) {
    case -2: return "Project file does not exist";
    case -3: return "Project does not exist";
    case -4: return "Project already exists";
    case -5: return "Selected function not permitted with private project";
    case -8: return "Invalid project name";
    case -10: return "Unable to create configuration file";
    case -11: return "Interrupted by user";
    case -12: return "No computers registered in network";
    case -13: return "No access rights for project";
    case -14: return "You do not have owner's rights to the project";
    case -16: return "Project is compressed";
    case -17: return "Project is already linked to database";
    case -19: return "Unknown computer in Project Manager";
    case -20: return "Computer cannot be accessed!";
    case -21: return "Project from another version!";
    default:
      if (NoticeNumber(code)) return "";
      return "ERROR=" + std::to_string(code) + " ";
  }
}

// After "cannot be reached": which host, and why, when a look-up said so
// (a share that does not answer, a server gone).
void ReportUnreachableCause(extlib::OperationContext& ctx) {
  const extlib::UnreachablePath why = extlib::LastUnreachablePath();
  if (why.error == 0) return;
  const std::string& path = why.path;
  std::string host;
  if (path.rfind("\\\\", 0) == 0) host = path.substr(2, path.find('\\', 2) - 2);
  const std::string cause = platform::ErrorName(why.error);
  platform::ForgetFailedShareCall();  // said here already
  if (host.empty()) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "%s: %s.\n", path.c_str(), cause.c_str());
  } else {
    services::ToolMessageBox(ctx, services::kMessageWarning, "%s",
                             extlib::LanguageTextWith(extlib::kProjectCommandTexts, 7, {host, path, cause}).c_str());
  }
}

void ReportProjectError(extlib::OperationContext& ctx, int code) {
  if (long notice = NoticeNumber(code)) {
    extlib::hinweisBox(ctx, notice, 0);
    if (code == extlib::kPrjNotReachable) ReportUnreachableCause(ctx);
    return;
  }
  services::ToolMessageBox(ctx, services::kMessageWarning, "%s\n", ProjectErrorText(code).c_str());
}

}  // namespace dovrane::app
