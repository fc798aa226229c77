#include "admin/user_count.h"

#include <fcntl.h>

#include <string>

#include "admin/administration_conversion.h"
#include "admin/administration_header.h"
#include "admin/project_index.h"
#include "admin/shared_file_backup.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/slot_files.h"
#include "extlib/installation/users.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/administration.h"
#include "extlib/records/project_list.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"
#include "services/tool_message_box.h"

namespace dovrane::admin {

using enum extlib::ProjectCode;

int SetMaxUserCount(extlib::OperationContext& ctx, int count) {
  if (!extlib::lfnetg(ctx)) return kPrjFailed;
  extlib::UserInfo info;
  if (extlib::lzuinfC(&info) != 0 || !info.may_administer) {
    services::ToolMessageBox(ctx, services::kMessageInformation, "No permision to change max user count\n");
    return kPrjFailed;
  }
  if (count < kMinUserCount || count > kMaxUserCount) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Invalid max user count %d.\n", count);
    return kPrjFailed;
  }
  const int containers = count / extlib::kUsersPerContainer;
  const int previous = extlib::lzuGetCountOfUserContainers();
  if (containers == previous) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "The same max user count %d.\n", count);
    return kPrjFailed;
  }
  // The conversion rewrites every record: the files are kept aside first.
  if (const int backup = BackupSharedFiles(ctx); backup != 0) {
    services::ToolMessageBox(ctx, services::kMessageError, "%s", BackupFailedText(backup).c_str());
    return kPrjFailed;
  }
  // Nobody may read or write the file while the count changes under it: an
  // exclusive lock over the whole file on a read-write description (a lock
  // that excludes writers needs one), held from before the count changes
  // until the conversion has put the new file in place (or the count is set
  // back), so that readers and writers that meet the old layout wait for it.
  extlib::close_prj_info_handle(extlib::kSlotNet);
  platform::Env* env = &ctx.Env();
  std::string path;
  AdministrationHeader header;
  int lock_fd = -1, fd = -1;
  if (extlib::lffnamC_new(ctx, extlib::kSlotNet, extlib::kAdministrationFile, &path) == 0) {
    const std::string native = ctx.Native(path);
    for (int attempt = 0; lock_fd < 0 && attempt < 50; ++attempt) {
      lock_fd = platform::OpenRegularFile(native, O_RDWR);
      if (lock_fd < 0) break;
      // Still held after the wait: the administration is in use, give up
      // (another round would wait as long again, fifty times over).
      if (env->Lock(lock_fd, 0, 0, platform::LockMode::kExclusive, kExclusiveWaitMs) != 0) {
        platform::CloseNothingPending(env, lock_fd);
        lock_fd = -1;
        break;
      }
      // A conversion that held the file until now replaced it: lock the new one.
      if (!platform::IsFileAtPath(lock_fd, native)) {
        platform::CloseNothingPending(env, lock_fd);
        lock_fd = -1;
      }
    }
    if (lock_fd >= 0) fd = OpenAdministrationHeader(ctx, path, ShareMode::kDenyNone, &header);
  }
  if (fd < 0) {
    if (lock_fd >= 0) platform::CloseNothingPending(env, lock_fd);
    services::ToolMessageBox(ctx, services::kMessageInformation, "New project administration can not be locked.\n");
    return kPrjFailed;
  }
  int rc = extlib::lzuSetCountOfUserContainers(ctx, containers);
  platform::CloseNothingPending(env, fd);
  if (rc != 0) {
    platform::CloseNothingPending(env, lock_fd);
    services::ToolMessageBox(ctx, services::kMessageWarning, "The max user count can not be changed.\n");
    return rc;
  }
  UnCachPrjList(ctx);
  DropIndex();
  rc = ConvertLockedAdministration(ctx);
  if (rc != 0) {
    // The administration stayed in its old layout: give it its count back, so
    // the installation is as it was rather than waiting for the next update.
    // Should that fail too, the next -update converts for the count the table names.
    (void)extlib::lzuSetCountOfUserContainers(ctx, previous);
    UnCachPrjList(ctx);
    DropIndex();
  }
  platform::CloseNothingPending(env, lock_fd);
  return rc;
}

}  // namespace dovrane::admin
