#include "tree/transfer_check.h"

#include "app/projects/named_ui_text.h"
#include "app/projects/project_error.h"
#include "platform/text_codec.h"
#include "services/tool_message_box.h"
#include "tree/item_kind.h"

namespace dovrane::tree {

TransferRefusal CheckTransfer(const TransferCheck& c) {
  if (c.project_kind != tree::kKindProject) return TransferRefusal::kNotFree;
  switch (c.target_kind) {
    case tree::kKindDataHost:
    case tree::kKindAdminHost:
      break;
    case tree::kKindDataHostOut:
    case tree::kKindAdminHostOut:
      return TransferRefusal::kHostCheckedOut;
    case tree::kKindDataHostDown:
    case tree::kKindAdminHostDown:
      return TransferRefusal::kHostNotAnswering;
    default:
      return TransferRefusal::kNotHost;
  }
  if (c.target_host.empty()) return TransferRefusal::kNotHost;
  if (platform::EqualsIgnoreCaseCp1252(c.project_host, c.target_host) && !(c.copy && c.copy_onto_own_host))
    return TransferRefusal::kOwnHost;
  return TransferRefusal::kNone;
}

int TransferMarkImage(uint32_t project_kind, bool marked) { return tree::ProjectImage(project_kind, marked); }

void ReportTransferRefusal(TransferRefusal refusal, uint32_t project_kind, const std::string& name,
                           const std::string& target_host) {
  switch (refusal) {
    case TransferRefusal::kNone:
    case TransferRefusal::kNotHost:
      return;
    case TransferRefusal::kNotFree:
      // The texts the move gives for the same states.
      switch (project_kind) {
        case tree::kKindProjectOut: return app::ReportProjectError(app::kPrjCheckedOut);
        case tree::kKindProjectHostOut: return app::ReportProjectError(app::kPrjCheckedOutWithHost);
        case tree::kKindProjectUnreachable: return app::ReportProjectError(app::kPrjNotReachable);
        default: return app::ReportProjectError(app::kPrjLockFailed);
      }
    case TransferRefusal::kOwnHost:
      services::ToolMessageBox(services::kMessageInformation, "%s", app::NamedUiText(3, 6, name).c_str());
      return;
    case TransferRefusal::kHostCheckedOut:
      return app::ReportProjectError(app::kPrjHostCheckedOut);
    case TransferRefusal::kHostNotAnswering:
      services::ToolMessageBox(services::kMessageWarning, "No access to host <%s>\n", target_host.c_str());
      return;
  }
}

}  // namespace dovrane::tree
