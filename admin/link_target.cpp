#include "admin/link_target.h"

#include <cstdlib>
#include <vector>

#include "admin/host_folders.h"
#include "admin/project_index.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/slot_files.h"
#include "extlib/projects/project_paths.h"
#include "platform/env.h"
#include "platform/path_map.h"
#include "platform/text_codec.h"
#include "services/tool_message_box.h"

namespace dovrane::admin {

namespace {

struct Id {
  uint64_t device = 0, inode = 0;
  bool operator==(const Id&) const = default;
};

bool IdOf(extlib::OperationContext& ctx, const std::string& native, Id* id) {
  platform::FileInfo info;
  if (native.empty() || ctx.Env().Stat(native, &info) != 0) return false;
  *id = {info.device, info.inode};
  return true;
}

bool IdOfWindows(extlib::OperationContext& ctx, const std::string& windows_path, Id* id) {
  return !windows_path.empty() && IdOf(ctx, ctx.Native(windows_path), id);
}

// native and every folder above it.
std::vector<Id> WithParents(extlib::OperationContext& ctx, const std::string& native) {
  std::vector<Id> ids;
  std::string p = native;
  while (!p.empty()) {
    Id id;
    if (IdOf(ctx, p, &id)) ids.push_back(id);
    const size_t cut = p.find_last_of('/');
    if (cut == std::string::npos || p == "/") break;
    p = cut == 0 ? "/" : p.substr(0, cut);
  }
  return ids;
}

bool Contains(const std::vector<Id>& ids, const Id& id) {
  for (const Id& i : ids)
    if (i == id) return true;
  return false;
}

std::vector<std::string> HostNames(extlib::OperationContext& ctx) {
  std::vector<extlib::HostEntry> list;
  std::vector<std::string> hosts;
  if (extlib::GetHostList(ctx, &list) != 0) return hosts;
  for (const extlib::HostEntry& h : list) hosts.push_back(h.name);
  return hosts;
}

}  // namespace

LinkTarget CheckLinkTarget(extlib::OperationContext& ctx, const std::string& link, const std::string& target,
                           const ProjectIndex& index) {
  const std::string native = ctx.Native(target);
  platform::FileInfo info;
  Id id, parent;
  const std::string last = extlib::LastComponent(target);
  bool project = ctx.Env().Stat(native, &info) == 0 && info.type == platform::EntryType::kDirectory &&
                 IdOf(ctx, native, &id) && last.size() > 4 &&
                 platform::EqualsIgnoreCaseCp1252(last.substr(last.size() - 4), ".prj");
  // Not the network folder, nor anything inside or around it.
  std::string net = extlib::lfinigC(ctx, extlib::kSlotNet);
  extlib::lfslash_cut(&net);
  const std::vector<Id> around_target = WithParents(ctx, native);
  Id net_id;
  if (project && IdOfWindows(ctx, net, &net_id))
    project = !Contains(around_target, net_id) && !Contains(WithParents(ctx, ctx.Native(net)), id);
  const bool has_parent = IdOfWindows(ctx, extlib::ParentPath(target), &parent);
  bool duplicate = false;
  for (const std::string& host : HostNames(ctx)) {
    std::string folder;
    Id folder_id;
    if (!project || extlib::HostProjectFolder(ctx, host, &folder) != 0 || !IdOfWindows(ctx, folder, &folder_id))
      continue;
    // A host's project folder, or a folder around one, is no project.
    if (Contains(WithParents(ctx, ctx.Native(folder)), id)) project = false;
    // An entry of a host's project folder is that host's own project.
    else if (has_parent && parent == folder_id) duplicate = true;
  }
  if (project && !duplicate) {
    EntryPaths paths;
    for (const IndexedRecord& r : index.Records()) {
      std::string path;
      Id other;
      if (!(extlib::StatusFlags(r.record.status) & extlib::kStatusLink) || paths.Build(ctx, r.record, &path) != 0 ||
          extlib::resolve_prj_link(ctx, &path) != 0 || !IdOfWindows(ctx, path, &other) || !(other == id))
        continue;
      duplicate = true;
      break;
    }
  }
  if (!project) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "%s",
                             extlib::LanguageTextWith(extlib::kRepairTexts, 11, {link, target}).c_str());
    return LinkTarget::kNotProject;
  }
  if (duplicate) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "%s",
                             extlib::LanguageTextWith(extlib::kRepairTexts, 12, {link, target}).c_str());
    return LinkTarget::kDuplicate;
  }
  return LinkTarget::kProject;
}

}  // namespace dovrane::admin
