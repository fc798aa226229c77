#include "app/projects/command_audit.h"

#include <cerrno>

#include "admin/audit_log.h"
#include "app/projects/project_error.h"
#include "extlib/installation/general.h"
#include "extlib/installation/operation_context.h"
#include "platform/env.h"

namespace dovrane::app {

bool ChangesInstallation(const std::string& option) {
  for (const char* query : {"-exist", "-info", "-getpath", "-getnumber", "-getdbid", "-checkout"})
    if (option == query) return false;
  return true;
}

void AuditCommand(extlib::OperationContext& ctx, const std::string& option, const std::vector<std::string>& argv,
                  int result) {
  if (!ChangesInstallation(option)) return;
  std::vector<std::string> arguments;
  for (size_t i = 1; i < argv.size(); ++i)
    if (argv[i] != option) arguments.push_back(argv[i]);
  const std::string text = result == 0 ? "OK" : ProjectErrorText(result);
  const int rc = admin::AppendAuditLine(ctx, option, arguments, result, text);
  // A link in its place has been reported by the log itself.
  if (rc != 0 && rc != -ELOOP) extlib::lfperrC(ctx, "dovrane.log: %s\n", platform::ErrorName(rc).c_str());
}

void AuditWindowCommand(extlib::OperationContext& ctx, const std::string& command,
                        const std::vector<std::string>& arguments, int result, const std::string& result_text,
                        const std::string& log_file) {
  std::string text = result_text;
  if (text.empty()) text = result == 0 ? "OK" : ProjectErrorText(result);
  const int rc = log_file.empty() ? admin::AppendAuditLine(ctx, command, arguments, result, text)
                                  : admin::AppendAuditLineTo(ctx, log_file, command, arguments, result, text);
  // A link in its place has been reported by the log itself.
  if (rc != 0 && rc != -ELOOP) extlib::lfperrC(ctx, "dovrane.log: %s\n", platform::ErrorName(rc).c_str());
}

}  // namespace dovrane::app
