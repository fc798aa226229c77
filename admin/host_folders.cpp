#include "admin/host_folders.h"

#include <cctype>

#include "extlib/installation/hosts.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/slot_files.h"
#include "extlib/projects/project_code.h"
#include "extlib/projects/project_paths.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"
#include "platform/text_codec.h"
#include "services/tool_message_box.h"

namespace dovrane::admin {

using enum extlib::ProjectCode;

namespace {

bool IsLocalhost(const std::string& host) { return platform::EqualsIgnoreCaseCp1252(host, "localhost"); }

std::string LocalProjectFolder(extlib::OperationContext& ctx) {
  std::string dir = extlib::lfinigC(ctx, extlib::kSlotLocalProjects);
  extlib::lfslash_cut(&dir);
  return dir;
}

// The native folder of \\HOST below the UNC root for a UNC path, else "".
std::string NativeHostFolder(extlib::OperationContext& ctx, const std::string& windows_dir) {
  if (!platform::IsUncPath(windows_dir)) return "";
  size_t end = windows_dir.find('\\', 2);
  std::string host = windows_dir.substr(2, end == std::string::npos ? std::string::npos : end - 2);
  return ctx.Native("\\\\" + host);
}

}  // namespace

int ProjectFolderOfHost(extlib::OperationContext& ctx, const std::string& host, FolderUse use, std::string* dir) {
  const bool scan = use == FolderUse::kScan;
  if (scan ? IsLocalhost(host) : !extlib::lfnetg(ctx)) {
    *dir = LocalProjectFolder(ctx);
    return dir->empty() ? kPrjFailed : 0;
  }
  std::string data_path;
  if (extlib::get_data_path(ctx, host, &data_path) != 0) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Unknown host <%s>\n", host.c_str());
    return kPrjFailed;
  }
  const int built = scan ? extlib::lfBuildNetPath(host, data_path, dir)
                         : extlib::lfBuildNetPath_local(host, data_path, dir);
  if (built != 0) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Can't build path to projects on host <%s>\n",
                             host.c_str());
    return kPrjFailed;
  }
  if (!scan) return 0;
  if (extlib::lzcheck_path(ctx, *dir) != 1) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Can't access path to projects on host <%s>\n",
                             host.c_str());
    return kPrjFailed;
  }
  CheckHostNameCase(ctx, host, *dir);
  return 0;
}

void CheckHostNameCase(extlib::OperationContext& ctx, const std::string& host, const std::string& dir) {
  std::string upper = host.substr(0, 19);
  for (char& c : upper) c = static_cast<char>(platform::UpperCp1252(static_cast<unsigned char>(c)));
  if (upper != host && extlib::CheckForRemoteNFSPath(ctx, dir) != 0)
    services::ToolMessageBox(ctx, services::kMessageWarning,
                             "The name of the host <%s> is not correct written.\nIt must be changed to <%s> in all "
                             "administration files.\n",
                             host.c_str(), upper.c_str());
}

int EntryPaths::Build(extlib::OperationContext& ctx, const extlib::PRJ& record, std::string* path) {
  auto it = folders_.find(record.host);
  if (it == folders_.end()) {
    std::string folder;
    int rc = extlib::HostProjectFolder(ctx, record.host, &folder);
    it = folders_.emplace(record.host, std::make_pair(rc, folder)).first;
  }
  if (it->second.first != 0) return it->second.first;
  std::string entry;
  int rc = extlib::ProjectEntryName(record, &entry);
  if (rc == 0) *path = it->second.second + "\\" + entry;
  return rc;
}

bool Reachability::FolderReachable(extlib::OperationContext& ctx, const std::string& windows_dir) {
  auto it = known_.find(windows_dir);
  if (it != known_.end()) return it->second;
  platform::Env* env = &ctx.Env();
  const std::string native = ctx.Native(windows_dir);
  std::vector<platform::DirEntry> entries;
  bool reachable = env->ListDir(native, &entries) == 0;
  const std::string host_folder = NativeHostFolder(ctx, windows_dir);
  if (reachable && entries.empty() && !host_folder.empty()) {
    // Empty: trust it only below a live mount point (the mounted share).
    reachable = false;
    for (std::string p = native; p.size() >= host_folder.size() && p.compare(0, host_folder.size(), host_folder) == 0;
         p = p.substr(0, p.rfind('/'))) {
      bool mounted = false;
      if (env->IsMountPoint(p, &mounted) == 0 && mounted) {
        reachable = true;
        break;
      }
    }
  }
  known_[windows_dir] = reachable;
  return reachable;
}

bool Reachability::LinkTargetReachable(extlib::OperationContext& ctx, const std::string& link_path) {
  std::string text;
  if (platform::ReadWholeFile(ctx.Native(link_path), &text) != 0) return false;
  std::string target = text.substr(0, text.find_first_of("\r\n"));
  if (!(platform::IsUncPath(target) || platform::IsDrivePath(target))) return true;  // not a path at all
  std::string parent = extlib::ParentPath(target);
  return extlib::lzcheck_path(ctx, parent) == 1 && FolderReachable(ctx, parent);
}

}  // namespace dovrane::admin
