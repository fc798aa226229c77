#include "app/project_permission.h"

#include "app/project_error.h"
#include "extlib/project_list.h"
#include "extlib/project_paths.h"
#include "extlib/users.h"
#include "services/tool_message_box.h"

namespace dovrane::app {

int CheckMayChangeProject(const std::string& padded_name, const char* verb, int private_code, extlib::PRJ* record) {
  if (extlib::ltbispC(padded_name)) {
    services::ToolMessageBox(services::kMessageWarning, "Can't %s a private project.\n", verb);
    return private_code;
  }
  int rc = extlib::get_project_info(padded_name, record);
  if (rc == 0) rc = extlib::check_PrjOwnerPermision(1, *record);
  if (rc != 0) ReportProjectError(rc);
  return rc;
}

}  // namespace dovrane::app
