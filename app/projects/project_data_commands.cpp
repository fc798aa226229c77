#include "app/projects/project_data_commands.h"

#include "app/projects/project_error.h"
#include "app/projects/project_queries.h"
#include "extlib/records/administration.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_attributes.h"
#include "extlib/projects/project_data.h"
#include "extlib/records/project_list.h"
#include "extlib/projects/project_paths.h"
#include "extlib/installation/slot_files.h"
#include "platform/no_follow.h"
#include "platform/path_map.h"
#include "services/tool_message_box.h"

namespace dovrane::app {

namespace {

constexpr int kSlotWork = extlib::kSlotProjectData;

// A project entry that is a symbolic link is no project folder (the lookup
// answers "not reachable"): the person is told why. True when shown.
bool ShownLinkedEntry(extlib::OperationContext& ctx, const std::string& padded_name, int rc, const std::string& dir) {
  if (rc != kPrjNotReachable || dir.empty() || !platform::IsSymbolicLink(ctx.Native(dir))) return false;
  services::ToolMessageBox(ctx, services::kMessageWarning,
                           "Project <%s> is a symbolic link:\n%s\nIts data is not changed through it.\n",
                           DisplayName(padded_name).c_str(), dir.c_str());
  return true;
}

// The data work of both commands, while the record is locked. The library
// shows its own failures of the data operations; a lookup failure is shown
// by the caller.
int WorkOnData(extlib::OperationContext& ctx, const std::string& padded_name, bool renew, bool* shown) {
  std::string dir;
  int rc;
  {
    extlib::QuietContext quiet(ctx);
    rc = extlib::ltpdirC(quiet, extlib::kSlotNet, padded_name, &dir, nullptr);
  }
  if (ShownLinkedEntry(ctx, padded_name, rc, dir)) *shown = true;
  if (rc != 0) return rc;
  *shown = true;
  extlib::lfslash_cat(&dir);
  if (extlib::lfinipC(ctx, kSlotWork, dir) != 0) return kPrjFailed;
  if (extlib::kpvtad2(ctx, kSlotWork) != 0) return kPrjFailed;
  if (renew && extlib::ztbReplaceUUIDs(ctx, kSlotWork) != 0) return kPrjFailed;
  return 0;
}

int LockedDataWork(extlib::OperationContext& ctx, const std::string& padded_name, bool renew) {
  extlib::RecordLock lock;
  int rc = extlib::LockRecordByName(ctx, extlib::kSlotNet, padded_name, &lock);
  if (rc != 0) {
    ReportProjectError(ctx, rc);
    return rc;
  }
  bool shown = false;
  rc = WorkOnData(ctx, padded_name, renew, &shown);
  const int unlocked = lock.Release();
  if (rc == 0) {
    rc = unlocked;
    shown = false;
  }
  if (rc != 0 && !shown) ReportProjectError(ctx, rc);
  return rc;
}

}  // namespace

extlib::ProjectCode ReorganiseProject(extlib::OperationContext& ctx, const std::string& padded_name) {
  return extlib::AsProjectCode(LockedDataWork(ctx, padded_name, false));
}

extlib::ProjectCode RenewProjectUuids(extlib::OperationContext& ctx, const std::string& padded_name) {
  return extlib::AsProjectCode(LockedDataWork(ctx, padded_name, true));
}

extlib::ProjectCode UpdateProjectAttributes(extlib::OperationContext& ctx, const std::string& padded_name) {
  extlib::PRJ record;
  int rc = extlib::get_project_info(ctx, padded_name, &record);
  if (rc != 0) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "No access to project <%s>\n",
                             DisplayName(padded_name).c_str());
    return extlib::AsProjectCode(rc);
  }
  std::string dir;
  if ((rc = extlib::make_prj_dir(ctx, record, &dir)) != 0) {
    if (!ShownLinkedEntry(ctx, padded_name, rc, dir)) ReportProjectError(ctx, rc);
    return extlib::AsProjectCode(rc);
  }
  extlib::RX_ProjectAttributes attributes(ctx, extlib::kSlotNet);
  // 1: the project has no cache file, nothing to load.
  rc = extlib::RX_ProjectAttributesCache::instance().importFromDiskCache(ctx, record.number, attributes);
  return rc < 0 ? kPrjFailed : kPrjOk;
}

}  // namespace dovrane::app
