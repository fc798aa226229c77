// --dry-run: a repair runs whole, with its own code, against a private copy
// of the installation's shared folders (the UNC root and every mapped drive
// folder), so it prints exactly the words of the real run while the
// installation itself keeps every byte and time stamp. The copy is made after
// the library is initialised (its folders are Windows paths, mapped anew at
// each use) and removed at the end.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/confined_env.h"
#include "platform/path_map.h"

namespace dovrane::app {

class DryRunCopy {
 public:
  // paths: the path map the run's installation goes through; pointed at the
  // copies while the preview runs.
  explicit DryRunCopy(platform::PathMap& paths) : paths_(paths) {}
  ~DryRunCopy();
  DryRunCopy(const DryRunCopy&) = delete;
  DryRunCopy& operator=(const DryRunCopy&) = delete;

  // Copies the shared folders below a new temporary folder ($TMPDIR, else
  // /tmp) and points the path map at the copies. 0 or -errno (nothing is
  // pointed anywhere then).
  int Prepare();

 private:
  platform::PathMap& paths_;
  std::string temp_;
  std::string unc_root_;                          // the real one, put back at the end
  std::vector<std::pair<char, std::string>> drives_;  // the real drive folders
  bool active_ = false;
  std::unique_ptr<platform::ConfinedEnv> confined_;  // current while the preview runs
  platform::Env* outer_env_ = nullptr;
};

// Copies the tree at from (native) to to, which must not exist: folders,
// files with their bytes, modes and times, symbolic links as links (a host,
// share, Net or Prj folder that is a link to a folder as that folder's
// copy); other entries (pipes, sockets, devices) are left out. 0 or -errno.
[[nodiscard]] int CopyTreeForDryRun(const std::string& from, const std::string& to);

}  // namespace dovrane::app
