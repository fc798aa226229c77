// The network as the folders below the UNC root show it: each folder is a
// computer, each folder below it a share. The provider when no SMB network
// answers (the kernel here has no CIFS: an administrator mounts each host's
// share below the root himself) and in tests. It has one workgroup, this
// computer's domain.
#pragma once

#include <string>

#include "network/network_enumerator.h"
#include "platform/path_map.h"

namespace dovrane::network {

class UncRootEnumerator : public NetworkEnumerator {
 public:
  // paths: the installation's path map (its UNC root), which must outlive it.
  explicit UncRootEnumerator(const platform::PathMap& paths) : paths_(paths) {}
  NetListing Workgroups() override;
  NetListing Computers(const std::string& workgroup) override;
  NetListing Shares(const std::string& computer) override;
  NetListing Directories(const std::string& unc_path) override;

 private:
  const platform::PathMap& paths_;
};

// The advice for a share the network shows but neither the UNC root has a
// folder for nor the system has mounted: how the administrator mounts it.
std::string MountAdvice(const platform::PathMap& paths, const std::string& computer, const std::string& share);

}  // namespace dovrane::network
