#include "checkout/checkout.h"

#include <cerrno>

#include "admin/audit_log.h"
#include "app/projects/command_audit.h"
#include "checkout/project_status.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_code.h"
#include "extlib/installation/slot_files.h"
#include "fileops/file_messages.h"
#include "platform/messenger.h"
#include "services/ui_text_table.h"

namespace dovrane::checkout {

namespace {

// A single project: marked first, then its information file; a file that
// cannot be written (or whose replacement is refused) takes the mark back.
int CheckOutProject(extlib::OperationContext& ctx, const CheckoutEntry& entry, const CheckoutAnswers& answers) {
  if (!answers.comment) return 0;
  std::string net;
  if (!CheckoutNetFolder(&net)) {
    extlib::ShowMessage(ctx, services::UiText(3, 10) + "\n\n[InstallRoot\\NetPath]",
                        platform::kMbOk | platform::kMbIconError | platform::kMbSetForeground);
    return 0;
  }
  if (!ChangeProjectStatus(ctx, entry.project, StatusAction::kTakeProject)) {
    extlib::ShowMessage(ctx, services::UiText(3, 12), platform::kMbOk | platform::kMbIconError);
    return 0;
  }
  if (!WriteProjectCheckoutInfo(ctx, net, entry, *answers.comment, CheckoutFacts::Gather(ctx), nullptr)) {
    ChangeProjectStatus(ctx, entry.project, StatusAction::kReturnProject);
    return 0;
  }
  return 1;
}

}  // namespace

int CheckOut(extlib::OperationContext& ctx, int mode, const std::vector<CheckoutEntry>& list,
             const CheckoutAnswers& answers) {
  if (list.empty() || (mode == kCheckoutProject && !NamesProject(list[0]))) return 0;
  // The network's audit log: a host check-out ends with the installation
  // switched to the host's copy of \Net.
  std::string log_file;
  if (extlib::lffnamC_new(ctx, extlib::kSlotNet, admin::kAuditLogName, &log_file) != 0) log_file.clear();
  int result = 0;
  if (mode == kCheckoutHost) {
    result = CheckOutHost(ctx, list, answers);
  } else if (mode == kCheckoutProject) {
    result = CheckOutProject(ctx, list[0], answers);
  } else {
    return 0;
  }
  // Who took what out, or tried to, for the administrator; a missing line
  // fails nothing.
  const std::string what = mode == kCheckoutHost ? list[0].host : list[0].project;
  if (!log_file.empty())
    app::AuditWindowCommand(ctx, mode == kCheckoutHost ? "checkout host" : "checkout project", {what},
                            result == 1 ? 0 : 1, result == 1 ? "" : "failed", log_file);
  return result;
}

int FindLocalDataPath(extlib::OperationContext& ctx, std::string* local_data_path) {
  local_data_path->clear();
  int rc = extlib::get_data_path(ctx, extlib::lzrnamC(), local_data_path);
  if (rc == extlib::kPrjOk || rc == extlib::kPrjUnknownComputer) return rc;
  std::string path;
  (void)extlib::lffnamC(ctx, extlib::kSlotNet, extlib::kHostListFile, &path);
  extlib::ShowMessage(ctx, fileops::FileErrorMessage(1, path, rc == extlib::kPrjAdminMissing ? -ENOENT : -EIO),
                      platform::kMbOk | platform::kMbIconError);
  return rc;
}

}  // namespace dovrane::checkout
