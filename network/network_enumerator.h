// What the data-server browse dialog asks of the network: the workgroups (or
// domains), the computers of one, the disk shares of a computer and the
// folders below a share. Two providers answer it: libsmbclient
// (SmbEnumerator) and the folders below the UNC root (UncRootEnumerator);
// tests give a fake one.
//
// Every call may take long on a real network; callers run it off the window's
// thread. The SMB provider bounds each call by a hard deadline itself.
#pragma once

#include <string>
#include <vector>

namespace dovrane::network {

// Why a listing failed, in the words the administrator is shown.
enum class NetError {
  kNone,
  kNoMasterBrowser,  // nobody answers the browse request
  kNameUnknown,      // the computer's name does not resolve
  kNotReachable,     // no answer on port 445, refused or timed out
  kSmb1Refused,      // the server does not speak the old protocol browsing needs
  kAccessDenied,
  kNotFound,         // share or folder missing
  kFailed,           // anything else
};

// The message of an error; "" for kNone.
std::string NetErrorText(NetError error);
// An errno value as libsmbclient or the file system gives it, for a listing
// of the given level (browse: workgroups and computers).
NetError NetErrorFromErrno(int error, bool browse);

struct NetEntry {
  std::string name;
  std::string comment;
};

struct NetListing {
  NetError error = NetError::kNone;
  std::vector<NetEntry> entries;  // in the order the provider gave them
  bool ok() const { return error == NetError::kNone; }
};

class NetworkEnumerator {
 public:
  virtual ~NetworkEnumerator() = default;
  virtual NetListing Workgroups() = 0;
  virtual NetListing Computers(const std::string& workgroup) = 0;
  // Disk shares only (no printers, no IPC$).
  virtual NetListing Shares(const std::string& computer) = 0;
  // The folders directly below a Windows path "\\HOST\share[\dir...]",
  // without names beginning with ".".
  virtual NetListing Directories(const std::string& unc_path) = 0;
};

// Splits "\\HOST\share\a\b" into host and the rest ("share\a\b"); false for
// anything else, or for a component that is ".", ".." or holds "/".
bool SplitUncPath(const std::string& unc_path, std::string* host, std::string* rest);

}  // namespace dovrane::network
