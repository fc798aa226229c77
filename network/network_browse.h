// The enumerations the data-server browse dialog starts from: the workgroups
// with the user's own, the computers of one, a computer typed by hand, and the
// computers offered when browsing answers nothing (modern networks often
// don't): the hosts of data.cfg and the folders below the UNC root.
#pragma once

#include <string>
#include <vector>

#include "network/network_enumerator.h"

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::network {

// At most this many workgroups and computers are kept, as the system did.
inline constexpr size_t kMaxNetworkEntries = 1024;

// Fills domains (in the provider's order) and the computers of the user's
// domain (the configured domain, compared without regard to case; the first
// one when none matches). The number of hosts; *error tells why a listing
// gave nothing (may be null).
[[nodiscard]] int EnumerateWindowsNetwork(NetworkEnumerator& net, std::vector<std::string>* hosts,
                            std::vector<std::string>* domains, int* user_domain_index, NetError* error);
// Appends the computers of one workgroup to hosts (the two leading
// backslashes of a name removed). The number appended.
[[nodiscard]] int EnumerateHosts(NetworkEnumerator& net, std::vector<std::string>* hosts, const std::string& domain,
                   NetError* error);

// 0 when name is listed already (without regard to case), 1 after appending
// it in upper case when the computer lists at least one share, -1 when it
// lists none or cannot be asked (*error says why; may be null). A name with
// backslashes, blanks or "/" is never asked for.
[[nodiscard]] int AddHostIfReachable(NetworkEnumerator& net, const std::string& name, std::vector<std::string>* hosts,
                       NetError* error);

// 1 and the workgroup whose browse list holds computer (without regard to
// case), asked in the provider's order; 0 when none does or browsing answers
// nothing. Browsing is the only place a computer's workgroup is known here.
[[nodiscard]] int GetJoinedDomain(NetworkEnumerator& net, const std::string& computer, std::string* domain);

// Hosts of data.cfg and the folders below the UNC root (through unc_root),
// upper case, each once, data.cfg's first.
std::vector<std::string> FallbackHosts(extlib::OperationContext& ctx, NetworkEnumerator& unc_root);

}  // namespace dovrane::network
