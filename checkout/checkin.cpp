#include "checkout/checkin.h"

#include <cerrno>

#include "admin/audit_log.h"
#include "admin/shared_file_backup.h"
#include "checkout/project_status.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/project_list.h"
#include "fileops/file_messages.h"
#include "platform/env.h"
#include "platform/messenger.h"
#include "platform/path_map.h"
#include "services/ui_text_table.h"

namespace dovrane::checkout {

namespace {

std::string Trimmed(const std::string& text) {
  size_t a = text.find_first_not_of(' '), b = text.find_last_not_of(' ');
  return a == std::string::npos ? "" : text.substr(a, b - a + 1);
}

int UnableToUnlock(extlib::OperationContext& ctx, const CheckoutEntry& entry) {
  extlib::ShowMessage(ctx, "Unable to unlock project \"" + Trimmed(entry.project) + "\"!",
                      platform::kMbOk | platform::kMbIconError);
  return 0;
}

// A single project: its information file goes first, then its mark, so that a
// check-in cut short between the two leaves a marked project without file,
// which a second check-in gives back (the other order would leave a file
// claiming a check-out that is over). The refusals come before the backup.
int CheckInProject(extlib::OperationContext& ctx, const CheckoutEntry& entry) {
  std::string net;
  if (!CheckoutNetFolder(&net)) {
    extlib::ShowMessage(ctx, services::UiText(3, 10) + "\n\n[InstallRoot\\NetPath]",
                        platform::kMbOk | platform::kMbIconError);
    return 0;
  }
  unsigned char status = 0;
  const int read = extlib::get_project_status(ctx, entry.project, &status);
  if (read == 0 && !(status & kProjectCheckedOut)) return UnableToUnlock(ctx, entry);
  if (read != 0 && read != extlib::kPrjNotFound) return UnableToUnlock(ctx, entry);
  if (int error = admin::BackupSharedFiles(ctx); error != 0) {
    extlib::ShowMessage(ctx, admin::BackupFailedText(error), platform::kMbOk | platform::kMbIconError);
    return 0;
  }
  const std::string path = ProjectCheckoutInfoPath(net, entry.location);
  if (int rc = path.empty() ? -ENOENT : DeleteCheckoutInfo(ctx, path); rc == -ENOENT) {
    // Already gone (a check-in cut short after its deletion): the project is
    // still given back; the message says the file was not there.
    extlib::ShowMessage(ctx, fileops::FileErrorMessage(5, path, rc), platform::kMbOk | platform::kMbIconWarning);
  } else if (rc != 0) {
    extlib::ShowMessage(ctx, fileops::FileErrorMessage(3, path, rc), platform::kMbOk | platform::kMbIconError);
    return 0;
  }
  if (read == 0 && !ChangeProjectStatus(ctx, entry.project, StatusAction::kReturnProject))
    return UnableToUnlock(ctx, entry);
  return 1;
}

}  // namespace

int CheckIn(extlib::OperationContext& ctx, int mode, const std::vector<CheckoutEntry>& list) {
  if (mode != kCheckinHost && mode != kCheckinProject) return 1;
  if (list.empty() || (mode == kCheckinProject && !NamesProject(list[0]))) return 0;
  if (mode == kCheckinHost) {
    CheckinReport report;
    int result = CheckInHost(ctx, list, &report);
    if (result == 1) SetLastCheckinReport(report);
    return result;
  }
  const int result = CheckInProject(ctx, list[0]);
  // A refused check-in changed nothing and leaves no line.
  if (result == 1) (void)admin::AppendAuditLine(ctx, "checkin project", {Trimmed(list[0].project)}, 0);
  return result;
}

}  // namespace dovrane::checkout
