#include "app/share_locations.h"

#include <nlohmann/json.hpp>

#include "extlib/installation/hosts.h"
#include "extlib/installation/installation.h"
#include "extlib/projects/project_code.h"
#include "extlib/installation/settings.h"
#include "platform/share_mounts.h"
#include "platform/terminal.h"
#include "platform/text_codec.h"

namespace dovrane::app {

namespace {

// \\HOST\share of a Windows path, or false.
bool ShareOf(const std::string& path, std::string* host, std::string* share) {
  if (!platform::IsUncPath(path)) return false;
  const size_t host_end = path.find('\\', 2);
  if (host_end == std::string::npos || host_end == 2) return false;
  size_t share_end = path.find('\\', host_end + 1);
  if (share_end == std::string::npos) share_end = path.size();
  if (share_end == host_end + 1) return false;
  *host = path.substr(2, host_end - 2);
  *share = path.substr(host_end + 1, share_end - host_end - 1);
  return true;
}

ShareUse* Find(std::vector<ShareUse>* uses, const std::string& host, const std::string& share) {
  for (ShareUse& use : *uses) {
    if (platform::EqualsIgnoreCaseCp1252(use.host, host) && platform::EqualsIgnoreCaseCp1252(use.share, share))
      return &use;
  }
  return nullptr;
}

std::string Utf8(const std::string& cp1252) { return platform::Cp1252ToUtf8(cp1252); }

const char* JsonKind(platform::ShareFound how) {
  switch (how) {
    case platform::ShareFound::kUncRoot: return "unc-root";
    case platform::ShareFound::kCifs: return "cifs";
    case platform::ShareFound::kGvfs: return "gvfs";
    case platform::ShareFound::kFuse: return "fuse";
    case platform::ShareFound::kNowhere: break;
  }
  return "none";
}

std::string Uses(const ShareUse& use) {
  std::string text = use.administration ? "administration" : "";
  if (!use.hosts.empty()) {
    if (!text.empty()) text += ", ";
    text += "projects of";
    for (const std::string& host : use.hosts) text += " " + host;
  }
  return text;
}

}  // namespace

std::vector<ShareUse> ShareUses(const platform::PathMap& map, const std::string& net,
                                const std::vector<std::string>& host_names, const std::vector<std::string>& host_paths) {
  std::vector<ShareUse> uses;
  std::string host, share;
  if (ShareOf(net, &host, &share)) {
    ShareUse use;
    use.host = host;
    use.share = share;
    use.administration = true;
    uses.push_back(use);
  }
  for (size_t i = 0; i < host_names.size() && i < host_paths.size(); ++i) {
    if (!ShareOf(host_paths[i], &host, &share)) continue;
    ShareUse* use = Find(&uses, host, share);
    if (!use) {
      uses.emplace_back();
      use = &uses.back();
      use->host = host;
      use->share = share;
    }
    use->hosts.push_back(host_names[i]);
  }
  for (ShareUse& use : uses) use.location = map.LocateShare(use.host, use.share);
  return uses;
}

int PrintShareLocations(extlib::OperationContext& ctx, const LongOptions& options, bool have_net) {
  extlib::Installation& installation = ctx.installation();
  std::string net;
  extlib::GetSetupPath("Net", &net);
  std::vector<std::string> names, paths;
  // The host list lies in \Net: without it, the administration's share is all there is to show.
  std::vector<extlib::HostEntry> hosts;
  if (have_net && extlib::ReadHostList(ctx, &hosts) == 0) {
    for (const extlib::HostEntry& h : hosts) {
      std::string path;
      if (extlib::lfBuildNetPath(h.name, h.data_path, &path) != 0) continue;
      names.push_back(h.name);
      paths.push_back(path);
    }
  }
  const std::vector<ShareUse> uses = ShareUses(installation.Paths(), net, names, paths);
  const std::string root = installation.Paths().UncRoot();
  std::string out;
  bool all_found = !uses.empty();
  for (const ShareUse& use : uses) {
    const bool found = use.location.how != platform::ShareFound::kNowhere;
    all_found = all_found && found;
    const std::string unc = "\\\\" + use.host + "\\" + use.share;
    const std::string commands = found ? "" : platform::MountCommandsFor(use.host, use.share, root);
    if (options.json) {
      nlohmann::ordered_json o;
      o["share"] = Utf8(unc);
      o["host"] = Utf8(use.host);
      o["found"] = JsonKind(use.location.how);
      o["folder"] = found ? use.location.folder : "";
      o["administration"] = use.administration;
      nlohmann::ordered_json hosts = nlohmann::ordered_json::array();
      for (const std::string& h : use.hosts) hosts.push_back(Utf8(h));
      o["hosts"] = hosts;
      nlohmann::ordered_json mount = nlohmann::ordered_json::array();
      for (size_t begin = 0; begin < commands.size();) {
        size_t end = commands.find('\n', begin);
        if (end == std::string::npos) end = commands.size();
        mount.push_back(commands.substr(begin, end - begin));
        begin = end + 1;
      }
      o["mount_commands"] = mount;
      out += o.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    } else {
      std::string where = found ? use.location.folder : commands;
      if (const size_t line_end = where.find('\n'); line_end != std::string::npos)
        where.replace(line_end, 1, "   or   ");
      out += Utf8(unc) + "\t" + platform::ShareFoundName(use.location.how) + "\t" + where + "\t" + Utf8(Uses(use)) +
             "\n";
    }
  }
  platform::Terminal::WriteOutUtf8(out);
  return all_found ? extlib::kPrjOk : extlib::kPrjNotReachable;
}

}  // namespace dovrane::app
