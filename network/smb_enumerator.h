// The network through libsmbclient. Two client contexts: one limited to NT1
// for NetBIOS browsing (workgroups and their computers exist only there) and
// a normal SMB2/3 one for shares and folders. Port 445 only (port 139 has a
// fixed wait of its own), a short TCP test of it first, and every call under
// a hard deadline on a helper thread that is abandoned at the deadline.
#pragma once

#include <string>

#include "network/network_enumerator.h"

namespace dovrane::network {

struct SmbOptions {
  // The whole call, name lookup and connection included.
  int deadline_ms = 3000;
  // The TCP test of port 445 before a computer is asked.
  int probe_ms = 700;
  // The client's own folder for its name cache and state: a stale cache of
  // another program's blocked a listing for 13 s. Made when missing.
  std::string cache_dir;
  // Credentials for shares that are not open to guests; empty: guest.
  std::string user;
  std::string password;
  std::string workgroup = "WORKGROUP";
  // The computers' SMB port (tests run servers on other ports).
  int port = 445;
};

class SmbEnumerator : public NetworkEnumerator {
 public:
  explicit SmbEnumerator(SmbOptions options);
  NetListing Workgroups() override;
  NetListing Computers(const std::string& workgroup) override;
  NetListing Shares(const std::string& computer) override;
  NetListing Directories(const std::string& unc_path) override;

  // The default cache folder: $XDG_CACHE_HOME/dovrane/smb, else ~/.cache/dovrane/smb.
  static std::string DefaultCacheDir();

 private:
  // Lists url ("smb://...") under the deadline; the wanted entry kind.
  NetListing List(const std::string& url, unsigned kind, bool browse, const std::string& probe_host);
  SmbOptions options_;
};

}  // namespace dovrane::network
