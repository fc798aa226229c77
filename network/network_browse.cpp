#include "network/network_browse.h"

#include <strings.h>

#include <algorithm>

#include "extlib/installation/hosts.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/prj_record.h"
#include "platform/system_names.h"

namespace dovrane::network {

namespace {

bool Listed(const std::vector<std::string>& list, const std::string& name) {
  return std::any_of(list.begin(), list.end(),
                     [&](const std::string& s) { return strcasecmp(s.c_str(), name.c_str()) == 0; });
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

int EnumerateHosts(NetworkEnumerator& net, std::vector<std::string>* hosts, const std::string& domain,
                   NetError* error) {
  NetListing l = net.Computers(domain);
  if (error) *error = l.error;
  int added = 0;
  for (const NetEntry& e : l.entries) {
    if (hosts->size() >= kMaxNetworkEntries) break;
    std::string name = e.name;
    if (name.rfind("\\\\", 0) == 0) name.erase(0, 2);
    if (name.empty()) continue;
    hosts->push_back(name);
    ++added;
  }
  return added;
}

int EnumerateWindowsNetwork(NetworkEnumerator& net, std::vector<std::string>* hosts,
                            std::vector<std::string>* domains, int* user_domain_index, NetError* error) {
  hosts->clear();
  domains->clear();
  *user_domain_index = 0;
  NetListing l = net.Workgroups();
  if (error) *error = l.error;
  const std::string own = platform::DomainName();
  for (const NetEntry& e : l.entries) {
    if (domains->size() >= kMaxNetworkEntries) break;
    if (e.name.empty()) continue;
    if (strcasecmp(e.name.c_str(), own.c_str()) == 0) *user_domain_index = static_cast<int>(domains->size());
    domains->push_back(e.name);
  }
  if (domains->empty()) return 0;
  NetError hosts_error = NetError::kNone;
  const int n = EnumerateHosts(net, hosts, (*domains)[static_cast<size_t>(*user_domain_index)], &hosts_error);
  if (error && *error == NetError::kNone) *error = hosts_error;
  return n;
}

int AddHostIfReachable(NetworkEnumerator& net, const std::string& name, std::vector<std::string>* hosts,
                       NetError* error) {
  if (error) *error = NetError::kNone;
  if (Listed(*hosts, name)) return 0;
  if (!extlib::IsValidHostName(name)) {
    if (error) *error = NetError::kNameUnknown;
    return -1;
  }
  NetListing l = net.Shares(name);
  if (error) *error = l.error;
  if (l.entries.empty()) return -1;
  hosts->push_back(Upper(name));
  return 1;
}

int GetJoinedDomain(NetworkEnumerator& net, const std::string& computer, std::string* domain) {
  domain->clear();
  if (computer.empty()) return 0;
  for (const NetEntry& wg : net.Workgroups().entries) {
    if (wg.name.empty()) continue;
    std::vector<std::string> hosts;
    (void)EnumerateHosts(net, &hosts, wg.name, nullptr);  // one not listed has no computer to find
    if (Listed(hosts, computer)) {
      *domain = wg.name;
      return 1;
    }
  }
  return 0;
}

std::vector<std::string> FallbackHosts(extlib::OperationContext& ctx, NetworkEnumerator& unc_root) {
  std::vector<std::string> out;
  std::vector<extlib::HostEntry> listed;
  if (extlib::ReadHostList(ctx, &listed) == 0)
    for (const extlib::HostEntry& h : listed)
      if (!Listed(out, h.name)) out.push_back(Upper(h.name));
  for (const NetEntry& e : unc_root.Computers("").entries)
    if (!Listed(out, e.name) && out.size() < kMaxNetworkEntries) out.push_back(Upper(e.name));
  return out;
}

}  // namespace dovrane::network
