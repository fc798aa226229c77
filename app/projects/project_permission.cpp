#include "app/projects/project_permission.h"

#include <string_view>

#include "app/projects/project_error.h"
#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/slot_files.h"
#include "extlib/installation/users.h"
#include "extlib/projects/project_code.h"
#include "extlib/projects/project_paths.h"
#include "extlib/records/project_list.h"
#include "platform/file_util.h"
#include "platform/path_map.h"
#include "services/tool_message_box.h"

namespace dovrane::app {

namespace {

// The computer a single project was checked out to, from its check-out
// information file in \Net (the line after "[Host]"); "" when unknown.
std::string CheckedOutTo(extlib::OperationContext& ctx, const extlib::PRJ& record) {
  std::string dir, path, text;
  if (extlib::make_prj_dir(ctx, record, &dir) != 0) return "";
  std::string entry = dir.substr(dir.find_last_of('\\') + 1);
  entry = entry.substr(0, entry.find_last_of('.')) + ".out";
  if (extlib::lffnamC(ctx, extlib::kSlotNet, entry, &path) != 0) return "";
  if (platform::ReadWholeFile(ctx.Native(path), &text, 64 * 1024) != 0) return "";
  const size_t tag = text.find("[Host]");
  if (tag == std::string::npos) return "";
  const size_t from = text.find('\n', tag);
  if (from == std::string::npos) return "";
  std::string host = text.substr(from + 1, text.find_first_of("\r\n", from + 1) - from - 1);
  return host;
}

}  // namespace

extlib::ProjectCode CheckNotCheckedOut(extlib::OperationContext& ctx, const extlib::PRJ& record, const char* verb) {
  const unsigned char flags = extlib::StatusFlags(record.status);
  const std::string name = extlib::TrimmedName(record.name);
  // Each verb has its own sentences (other languages bend the verb): lines
  // 8 to 10 checked out with the host, 11 to 13 to a computer, 14 to 16
  // checked out; move, rename, erase in that order.
  const int of_verb = std::string_view(verb) == "rename" ? 1 : std::string_view(verb) == "erase" ? 2 : 0;
  if (flags & extlib::kStatusHostOut) {
    services::ToolMessageBox(
        ctx, services::kMessageWarning, "%s",
        extlib::LanguageTextWith(extlib::kProjectCommandTexts, 8 + of_verb, {name, record.host}).c_str());
    return kPrjCheckedOutWithHost;
  }
  if (flags & extlib::kStatusProjectOut) {
    const std::string to = CheckedOutTo(ctx, record);
    services::ToolMessageBox(
        ctx, services::kMessageWarning, "%s",
        extlib::LanguageTextWith(extlib::kProjectCommandTexts, (to.empty() ? 14 : 11) + of_verb, {name, to}).c_str());
    return kPrjCheckedOut;
  }
  return extlib::kPrjOk;
}

extlib::ProjectCode CheckMayChangeProject(extlib::OperationContext& ctx, const std::string& padded_name,
                                          const char* verb, int private_code, extlib::PRJ* record) {
  if (extlib::ltbispC(ctx, padded_name)) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Can't %s a private project.\n", verb);
    return extlib::AsProjectCode(private_code);
  }
  int rc = extlib::get_project_info(ctx, padded_name, record);
  if (rc == 0) rc = extlib::check_PrjOwnerPermision(ctx, 1, *record);
  if (rc != 0) {
    ReportProjectError(ctx, rc);
    return extlib::AsProjectCode(rc);
  }
  return CheckNotCheckedOut(ctx, *record, verb);
}

}  // namespace dovrane::app
