// The project folder of a host as the repair reaches it, and whether that
// folder can be trusted to show the host's projects.
#pragma once

#include <map>
#include <string>
#include <utility>

#include "extlib/records/prj_record.h"

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::admin {

// What the host's project folder is looked up for. kScan: the local project
// folder for "localhost", else the host's network path, which must be a
// reachable folder (and the host name's case is checked). kRegister: the
// host's own view of its folder (the local project folder on a single
// workstation), not checked on disk.
enum class FolderUse { kScan, kRegister };
// The host's project folder (Windows form, no trailing backslash). Shows the
// warning of the failing step; 0 or -1.
[[nodiscard]] int ProjectFolderOfHost(extlib::OperationContext& ctx, const std::string& host, FolderUse use,
                                      std::string* dir);

// Warns when the host name is not written in upper case while its folder
// lies on a remote NFS path (where letter case matters).
void CheckHostNameCase(extlib::OperationContext& ctx, const std::string& host, const std::string& dir);

// Whether a folder that exists may be taken as showing what is on the host.
// A share that is not mounted leaves its mount point as an empty folder on
// the local disk; so an empty folder below the UNC root counts only when a
// mounted file system lies between the UNC root and it. Answers are kept per
// folder for the object's life (one check run).
class Reachability;

// build_prj_dir with the host's project folder looked up once per host: a
// check over many records reads the host list once, not once per record.
class EntryPaths {
 public:
  // The entry path of the record (folder or link file), not checked on disk.
  int Build(extlib::OperationContext& ctx, const extlib::PRJ& record, std::string* path);

 private:
  std::map<std::string, std::pair<int, std::string>> folders_;  // host -> code, folder
};

class Reachability {
 public:
  bool FolderReachable(extlib::OperationContext& ctx, const std::string& windows_dir);
  // For a link file whose target is missing: true when the target's parent
  // is reachable (the link is really invalid), false when the target may lie
  // on a share that is not there now.
  bool LinkTargetReachable(extlib::OperationContext& ctx, const std::string& link_path);

 private:
  std::map<std::string, bool> known_;
};

}  // namespace dovrane::admin
