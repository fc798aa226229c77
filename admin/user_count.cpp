#include "admin/user_count.h"

#include <string>

#include "admin/administration_conversion.h"
#include "admin/administration_header.h"
#include "admin/project_index.h"
#include "app/tool_message_box.h"
#include "extlib/administration.h"
#include "extlib/hosts.h"
#include "extlib/library_init.h"
#include "extlib/project_list.h"
#include "extlib/slot_files.h"
#include "extlib/users.h"
#include "platform/env.h"

namespace dovrane::admin {

int SetMaxUserCount(int count) {
  if (!extlib::lfnetg()) return -1;
  extlib::UserInfo info;
  if (extlib::lzuinfC(&info) != 0 || !info.may_administer) {
    app::ToolMessageBox(app::kMessageInformation, "No permision to change max user count\n");
    return -1;
  }
  if (count < kMinUserCount || count > kMaxUserCount) {
    app::ToolMessageBox(app::kMessageWarning, "Invalid max user count %d.\n", count);
    return -1;
  }
  const int containers = count / extlib::kUsersPerContainer;
  if (containers == extlib::lzuGetCountOfUserContainers()) {
    app::ToolMessageBox(app::kMessageWarning, "The same max user count %d.\n", count);
    return -1;
  }
  // Nobody may read or write the file while the count changes under it.
  extlib::close_prj_info_handle(extlib::kSlotNet);
  std::string path;
  AdministrationHeader header;
  int fd = extlib::lffnamC_new(extlib::kSlotNet, extlib::kAdministrationFile, &path) == 0
               ? OpenAdministrationHeader(path, ShareMode::kDenyReadWrite, &header)
               : -1;
  if (fd < 0) {
    app::ToolMessageBox(app::kMessageInformation, "New project administration can not be locked.\n");
    return -1;
  }
  int rc = extlib::lzuSetCountOfUserContainers(containers);
  platform::CurrentEnv()->Close(fd);
  if (rc != 0) {
    app::ToolMessageBox(app::kMessageWarning, "The max user count can not be changed.\n");
    return rc;
  }
  extlib::UnCachPrjList();
  DropIndex();
  return ConvertAdministration();
}

}  // namespace dovrane::admin
