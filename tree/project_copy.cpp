#include "tree/project_copy.h"

#include "app/projects/command_audit.h"
#include "app/projects/project_commands.h"
#include "app/projects/project_error.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/prj_record.h"
#include "extlib/records/project_list.h"
#include "services/ui_text_table.h"

namespace dovrane::tree {

namespace {

std::string Trim(const std::string& text) {
  const size_t begin = text.find_first_not_of(' ');
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

int Copy(extlib::OperationContext& ctx, const std::string& source_name, const std::string& new_name,
         const std::string& host, uint32_t* new_number) {
  // Padding would cut the name silently: a copy under a name nobody chose.
  if (NeedsNameCut(Trim(new_name))) {
    app::ReportProjectError(ctx, app::kPrjInvalidName);
    return app::kPrjInvalidName;
  }
  const long number = extlib::get_project_number(ctx, extlib::PadName(Trim(source_name)));
  if (number <= 0) {
    const int rc = number < 0 ? static_cast<int>(number) : app::kPrjNotFound;
    app::ReportProjectError(ctx, rc);
    return rc;
  }
  return app::CopyProjectByNumber(ctx, Trim(new_name), static_cast<uint32_t>(number), host, new_number);
}

}  // namespace

std::string CopyName(const std::string& source_name) {
  return Trim(std::string(services::LookupUiText(2, 4)) + " " + Trim(source_name));
}

bool NeedsNameCut(const std::string& name) { return name.size() > kMaxProjectNameLength; }

int CopyProjectToHost(extlib::OperationContext& ctx, const std::string& source_name, const std::string& new_name,
                      const std::string& host, uint32_t* new_number) {
  const int rc = Copy(ctx, source_name, new_name, host, new_number);
  app::AuditWindowCommand(ctx, "copy", {Trim(source_name), Trim(new_name), host}, rc);
  return rc;
}

}  // namespace dovrane::tree
