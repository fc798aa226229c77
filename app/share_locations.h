// Where the installation's shares are (--where): the administration's share
// and the share of every host of the host list, each found below the UNC
// root, at a CIFS, FUSE or GVfs mount, or nowhere, with the commands that
// mount it.
#pragma once

#include <string>
#include <vector>

#include "app/long_options.h"
#include "extlib/installation/operation_context.h"
#include "platform/path_map.h"

namespace dovrane::app {

struct ShareUse {
  std::string host;                // Windows-1252
  std::string share;               // Windows-1252
  bool administration = false;     // the \Net folder lies on it
  std::vector<std::string> hosts;  // the hosts of the host list whose projects lie on it
  platform::ShareLocation location;
};

// The shares of the network path net (Windows form) and of the hosts, in that
// order, each share once (names without regard to case). A host whose
// project folder is no UNC path is left out.
std::vector<ShareUse> ShareUses(const platform::PathMap& map, const std::string& net,
                                const std::vector<std::string>& host_names, const std::vector<std::string>& host_paths);

// --where: one line per share (tab-separated: \\HOST\share, how it was found,
// the folder or the mount commands, what lies on it), or JSON lines with
// --json. have_net: the library is initialised (the \Net folder is there);
// without it, the administration's share alone is shown. 0 when every share
// was found, else -6.
[[nodiscard]] int PrintShareLocations(extlib::OperationContext& ctx, const LongOptions& options, bool have_net);

}  // namespace dovrane::app
