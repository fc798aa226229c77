// A host's share the test can make slow, failing, hanging or dead: the FUSE
// file system tests/fuse/fault_share_main.cpp mounted over a folder of an
// installation (the folder's contents pass through). Needs root and
// /dev/fuse; Unavailable() says why a run cannot have one.
#pragma once

#include <string>

#include "support/temp_dir.h"

namespace dovrane::testing {

class FaultShare {
 public:
  // Empty when a share can be mounted here; otherwise why not.
  static std::string Unavailable();

  // What the mount table shows for it: its source and its type (fuse.TYPE).
  struct MountName {
    std::string source = "dovrane-fault-share";
    std::string type = "faultshare";
  };

  // Mounts over folder (which must exist); mounted() tells whether it worked,
  // error() why not.
  explicit FaultShare(const std::string& folder) : FaultShare(folder, MountName()) {}
  FaultShare(const std::string& folder, const MountName& name);
  // Lets hung calls go, unmounts (detaching when busy) and ends the file system.
  ~FaultShare();
  FaultShare(const FaultShare&) = delete;
  FaultShare& operator=(const FaultShare&) = delete;

  bool mounted() const { return pid_ > 0; }
  const std::string& error() const { return error_; }
  const std::string& folder() const { return folder_; }

  // Sends one command (see fault_share_main.cpp) and returns the answer line
  // ("ok ..." or "error ..."); an answer that is not "ok" fails the test.
  std::string Control(const std::string& command);
  long Calls();
  long Hung();
  // Waits (at most timeout_ms) until at least n calls hang in it; the file
  // system answers when its count gets there.
  bool WaitForHung(long n, int timeout_ms);
  // Unmounts now (the destructor does it otherwise).
  void Unmount();
  // The file system's own log (standard error), for failure messages.
  std::string Log() const;

 private:
  TempDir work_;
  std::string folder_;
  std::string socket_;
  std::string error_;
  int pid_ = -1;
};

}  // namespace dovrane::testing
