#include "ui/refresh_check.h"

#include "extlib/installation/operation_context.h"
#include "platform/path_map.h"

namespace dovrane::ui {

namespace {

bool IsFile(platform::Env* env, const std::string& path, platform::FileInfo* info) {
  return env->Stat(path, info) == 0 && info->type == platform::EntryType::kFile;
}

}  // namespace

RefreshProbe ProbeRefresh(extlib::OperationContext& ctx, const RefreshRequest& request) {
  platform::Env* env = &ctx.Env();
  RefreshProbe probe;
  // The case-insensitive mapping of a share path looks at the disk too.
  std::string net = ctx.Native(request.net_folder);
  while (net.size() > 1 && net.back() == '/') net.pop_back();
  platform::FileInfo info;
  if (!net.empty() && IsFile(env, net + "/project.dat", &info)) {
    probe.admin_found = true;
    probe.admin_time = info.modified;
  }
  probe.host_file_exists.reserve(request.hosts.size());
  for (const RefreshHostItem& host : request.hosts) {
    // A name that could leave the folder names no check-out file.
    bool plain = !host.name.empty() && host.name.find_first_of("/\\") == std::string::npos && host.name != "." &&
                 host.name != "..";
    probe.host_file_exists.push_back(plain && !net.empty() && IsFile(env, net + "/" + host.name + ".out", &info));
  }
  if (request.project_kind) {
    probe.project_kind_now.reserve(request.projects.size());
    for (const RefreshProjectItem& item : request.projects)
      probe.project_kind_now.push_back(request.project_kind(item.text, request.data_path));
  }
  return probe;
}

bool ProjectItemsDisagree(const RefreshRequest& request, const RefreshProbe& probe) {
  if (probe.project_kind_now.size() != request.projects.size()) return false;
  for (size_t i = 0; i < request.projects.size(); ++i) {
    uint32_t kind = request.projects[i].kind;
    const uint32_t now = probe.project_kind_now[i];
    // 0 now: the administration could not say; no reason to refill.
    if (kind != 0 && now != 0 && kind != kKindProjectUnreachable && kind != now) return true;
  }
  return false;
}

bool HostItemsDisagree(const RefreshRequest& request, const RefreshProbe& probe) {
  if (probe.host_file_exists.size() != request.hosts.size()) return false;
  for (size_t i = 0; i < request.hosts.size(); ++i) {
    uint32_t kind = request.hosts[i].kind;
    if (kind == kKindAdminHostCheckedOut || kind == kKindHostNoAnswer) continue;
    bool expected = kind == kKindHostCheckedOut;
    if (static_cast<bool>(probe.host_file_exists[i]) != expected) return true;
  }
  return false;
}

bool RefreshCheckState::AdministrationChanged(const RefreshProbe& probe, int outside_change) {
  if (requested_.exchange(false)) {
    // The refill reads the administration as it is now.
    RecordTimeStamp(probe);
    return true;
  }
  if (!probe.admin_found) return false;
  if (has_stamp_ && probe.admin_time == stamp_) return false;
  bool had_stamp = has_stamp_;
  RecordTimeStamp(probe);
  return had_stamp && outside_change == 1;
}

void RefreshCheckState::RecordTimeStamp(const RefreshProbe& probe) {
  if (!probe.admin_found) return;
  stamp_ = probe.admin_time;
  // A time of zero counts as none remembered, as the check has always read it.
  has_stamp_ = stamp_.sec != 0 || stamp_.nsec != 0;
}

RefreshAction RefreshCheckState::Decide(const RefreshRequest& request, const RefreshProbe& probe, int ping_changed,
                                        int outside_change, bool same_trees) {
  bool changed = AdministrationChanged(probe, outside_change);
  if (changed || ping_changed != 0) return RefreshAction::kRefill;
  if (!same_trees) return RefreshAction::kNone;
  if (ProjectItemsDisagree(request, probe) || HostItemsDisagree(request, probe))
    return RefreshAction::kRefillAfterBeep;
  return RefreshAction::kNone;
}

}  // namespace dovrane::ui
