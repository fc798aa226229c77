#include "app/repair_commands.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "admin/administration_conversion.h"
#include "admin/checkin_path.h"
#include "admin/restore_update.h"
#include "admin/user_count.h"
#include "app/command_line_context.h"
#include "app/command_table.h"
#include "app/projects/app_state.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/slot_files.h"
#include "extlib/records/administration.h"
#include "services/tool_message_box.h"

namespace dovrane::app {

namespace {

void FinalNotice(int line) {
  char text[256];
  int length = 0;
  extlib::ll_getTextZeile(kRepairNoticeText, line, sizeof text, nullptr, text, &length);
  services::ToolMessageBox(CommandLineContext(), services::kMessageInformation, "%s", text);
}

int RestoreOrUpdate(extlib::OperationContext& ctx, bool update) {
  if (extlib::lftypeC(ctx, extlib::kSlotNet, extlib::kAdministrationFile, 0) < 0) {
    int rc = admin::RestoreAdministration(ctx);
    if (ctx.interactive == 1 && rc == 0) FinalNotice(1);
    return rc;
  }
  // Rebuilding from the hosts is what -restore is for, also over a damaged file.
  if (!update && admin::AdministrationUnreadable(ctx)) {
    int rc = admin::RestoreDamagedAdministration(ctx);
    if (ctx.interactive == 1 && rc == 0) FinalNotice(1);
    return rc;
  }
  int rc = admin::CheckAdministrationVersion(ctx);
  if (rc != 0) return rc;
  rc = admin::UpdateAdministration(ctx, update);
  if (ctx.interactive == 1 && rc == 0 && !update) FinalNotice(2);
  return rc;
}

}  // namespace

int RunRestore(const CommandArgs&) { return RestoreOrUpdate(CommandLineContext(), false); }

int RunUpdate(const CommandArgs&) { return RestoreOrUpdate(CommandLineContext(), true); }

int RunUpdateHost(const CommandArgs& args) {
  int rc = admin::CheckAdministrationVersion(CommandLineContext());
  if (rc != 0) return rc;
  if (!extlib::lfnetg(CommandLineContext()) || args.argument != "localhost")
    return admin::UpdateHost(CommandLineContext(), args.argument);
  std::vector<extlib::HostEntry> hosts;
  if (extlib::GetHostList(CommandLineContext(), &hosts) != 0) return 0;
  const std::string name = extlib::lzrnamC();
  bool found = false;
  for (const extlib::HostEntry& h : hosts) found = found || h.name == name;
  return found ? admin::UpdateHost(CommandLineContext(), name) : 0;
}

int RunCheckin(const CommandArgs& args) { return admin::CheckinProjectPath(CommandLineContext(), args.argument); }

int RunUserCount(const CommandArgs& args) {
  // The number as atoi reads it (no digits: 0), but one that no int holds is
  // refused rather than passed on as whatever the overflow made of it.
  errno = 0;
  const long count = std::strtol(args.argument.c_str(), nullptr, 10);
  if (errno == ERANGE || count < INT_MIN || count > INT_MAX) PrintUsage(services::kMessageWarning);
  return admin::SetMaxUserCount(CommandLineContext(), static_cast<int>(count));
}

}  // namespace dovrane::app
