#include "extlib/projects/project_paths.h"

#include <fcntl.h>

#include <cerrno>

#include "extlib/installation/hosts.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/slot_files.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/project_list.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/no_follow.h"
#include "platform/path_map.h"
#include "platform/text_codec.h"

namespace dovrane::extlib {

namespace {
constexpr uint64_t kLinkFileLimit = 4096;
}  // namespace

int HostProjectFolder(OperationContext& ctx, const std::string& host, std::string* folder) {
  if (!lfnetg(ctx) || platform::EqualsIgnoreCaseCp1252(host, "localhost")) {
    *folder = lfinigC(ctx, kSlotLocalProjects);
    lfslash_cut(folder);
    return folder->empty() ? kPrjAdminMissing : kPrjOk;
  }
  std::string data_path;
  int rc = get_data_path(ctx, host, &data_path);
  if (rc) return rc;
  return lfBuildNetPath(host, data_path, folder) == 0 ? kPrjOk : kPrjUnknownComputer;
}

int ProjectEntryName(const PRJ& record, std::string* entry) {
  if (record.number != 0) {
    *entry = NumberText(record.number) + ".prj";
    return entry->size() == 12 ? kPrjOk : kPrjInvalidName;
  }
  std::string name = TrimmedName(record.name);
  if (!IsValidProjectName(name)) return kPrjInvalidName;
  *entry = name + ".prj";
  return 0;
}

int build_prj_dir(OperationContext& ctx, const PRJ& record, std::string* path) {
  std::string folder, entry;
  int rc = HostProjectFolder(ctx, record.host, &folder);
  if (rc == 0) rc = ProjectEntryName(record, &entry);
  if (rc == 0) *path = folder + "\\" + entry;
  return rc;
}

int make_prj_dir(OperationContext& ctx, const PRJ& record, std::string* dir) {
  int rc = build_prj_dir(ctx, record, dir);
  if (rc) return rc;
  rc = resolve_prj_link(ctx, dir);
  return rc == kLinkResolved ? kPrjOk : kPrjNotReachable;
}

int ltpdirC(OperationContext& ctx, int slot, const std::string& name, std::string* dir, int* extra) {
  PRJ record;
  int rc = slot == kSlotNet ? get_project_info(ctx, name, &record) : kPrjAdminMissing;
  if (rc) return rc;
  if (extra) *extra = record.status;
  return make_prj_dir(ctx, record, dir);
}

int resolve_prj_link(OperationContext& ctx, std::string* path, std::string* resolved_native) {
  platform::FileInfo info;
  std::string native = ctx.Native(*path);
  // One look, not followed: a repair asks this of every project.
  if (ctx.Env().Stat(native, &info, false) != 0) return kLinkNothing;
  if (info.type == platform::EntryType::kLink) return kLinkSymbolic;
  if (info.type == platform::EntryType::kDirectory) {
    if (resolved_native) *resolved_native = native;
    return kLinkResolved;
  }
  std::string text;
  // A link file holds one path: anything that is not a small regular file
  // (a FIFO, a device, a huge file) is not one.
  int rc = platform::ReadWholeFile(native, &text, kLinkFileLimit);
  if (rc == -EINVAL || rc == -EFBIG) return kLinkInvalid;
  if (rc != 0) return kLinkUnreachable;
  std::string target = text.substr(0, text.find_first_of("\r\n"));
  if (!(platform::IsUncPath(target) || platform::IsDrivePath(target)) || target.find("..") != std::string::npos)
    return kLinkInvalid;
  std::string target_native = ctx.Native(target);
  if (ctx.Env().Stat(target_native, &info) == 0) {
    if (info.type != platform::EntryType::kDirectory) return kLinkInvalid;
    *path = target;
    if (resolved_native) *resolved_native = target_native;
    return kLinkResolved;
  }
  std::string parent = ParentPath(target);
  return !parent.empty() && ctx.Env().Stat(ctx.Native(parent), &info) == 0 ? kLinkInvalid : kLinkUnreachable;
}

int WriteProjectLink(OperationContext& ctx, const std::string& link_path, const std::string& folder) {
  return ProjectCodeFromErrno(platform::WriteFileAtomic(ctx.Native(link_path), folder + "\r\n"));
}

int get_lock_info_file(OperationContext& ctx, uint32_t number, std::string* path) {
  PRJ record;
  std::string dir;
  if (get_PrjInfo_by_number(ctx, number, &record) != 0 || make_prj_dir(ctx, record, &dir) != 0) return 0;
  *path = dir + "\\" + kLockInfoFile;
  return 1;
}

bool ProjectInUse(OperationContext& ctx, const PRJ& record) {
  std::string dir;
  if (make_prj_dir(ctx, record, &dir) != 0) return false;
  platform::Env* env = &ctx.Env();
  // Only a regular file is the session's; a pipe must not block the open.
  int fd = env->Open(ctx.Native(dir + "\\" + kLockInfoFile), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  platform::FileInfo info;
  const bool locked =
      env->FStat(fd, &info) == 0 && info.type == platform::EntryType::kFile && platform::HeldByOtherProcess(fd);
  platform::CloseNothingPending(env, fd);
  return locked;
}

int ltbispC(OperationContext& ctx, const std::string& name) {
  std::string trimmed = TrimmedName(PadName(name).c_str());
  if (!IsValidProjectName(trimmed)) return 0;
  PRJ record;
  if (get_project_info(ctx, name, &record) == 0) return 0;
  return lftypeC(ctx, kSlotLocalProjects, trimmed + ".prj", 0) == 1 ? 1 : 0;
}

}  // namespace dovrane::extlib
