#include "tree/transfer_check.h"

#include "app/projects/named_ui_text.h"
#include "app/projects/project_error.h"
#include "extlib/installation/operation_context.h"
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

void ReportTransferRefusal(extlib::OperationContext& ctx, TransferRefusal refusal, uint32_t project_kind,
                           const std::string& name, const std::string& target_host) {
  switch (refusal) {
    case TransferRefusal::kNone:
    case TransferRefusal::kNotHost:
      return;
    case TransferRefusal::kNotFree:
      // The texts the move gives for the same states.
      switch (project_kind) {
        case tree::kKindProjectOut: return app::ReportProjectError(ctx, app::kPrjCheckedOut);
        case tree::kKindProjectHostOut: return app::ReportProjectError(ctx, app::kPrjCheckedOutWithHost);
        case tree::kKindProjectUnreachable: return app::ReportProjectError(ctx, app::kPrjNotReachable);
        default: return app::ReportProjectError(ctx, app::kPrjLockFailed);
      }
    case TransferRefusal::kOwnHost:
      services::ToolMessageBox(ctx, services::kMessageInformation, "%s", app::NamedUiText(3, 6, name).c_str());
      return;
    case TransferRefusal::kHostCheckedOut: return app::ReportProjectError(ctx, app::kPrjHostCheckedOut);
    case TransferRefusal::kHostNotAnswering:
      services::ToolMessageBox(ctx, services::kMessageWarning, "No access to host <%s>\n", target_host.c_str());
      return;
  }
}

}  // namespace dovrane::tree
