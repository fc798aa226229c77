#include "tree/project_rename.h"

#include "app/projects/command_audit.h"
#include "app/projects/project_error.h"
#include "app/projects/project_permission.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_lifecycle.h"
#include "extlib/records/prj_record.h"
#include "extlib/records/project_list.h"

namespace dovrane::tree {

bool AcceptsNewLabel(const std::string& new_text, const std::string& old_label) {
  return !new_text.empty() && new_text[0] != ' ' && new_text != old_label;
}

int RenameProject(extlib::OperationContext& ctx, const std::string& new_name, const std::string& old_name) {
  // A longer name would be cut by the padding: a rename to a name nobody typed.
  if (new_name.find_last_not_of(' ') + 1 > extlib::kNameLength) {
    app::ReportProjectError(ctx, app::kPrjInvalidName);
    app::AuditWindowCommand(ctx, "rename", {extlib::TrimmedName(old_name.c_str()), new_name}, app::kPrjInvalidName);
    return app::kPrjInvalidName;
  }
  extlib::PRJ record;
  if (extlib::get_project_info(ctx, extlib::PadName(old_name), &record) == 0) {
    if (const int out = app::CheckNotCheckedOut(ctx, record, "rename"); out != 0) {
      app::AuditWindowCommand(ctx, "rename", {extlib::TrimmedName(old_name.c_str()), new_name}, out);
      return out;
    }
  }
  std::string buffer;
  int result = 0;
  const int rc =
      extlib::ltbpreC(ctx, extlib::kSlotNet, extlib::PadName(old_name), extlib::PadName(new_name), &buffer, &result);
  if (rc != 0) app::ReportProjectError(ctx, rc);
  app::AuditWindowCommand(ctx, "rename", {extlib::TrimmedName(old_name.c_str()), extlib::TrimmedName(new_name.c_str())},
                          rc);
  return rc;
}

}  // namespace dovrane::tree
