// The smallest installation the program starts on: settings files, a UNC root
// with one host share and an empty \Net folder, and a work folder. For tests of
// the start (settings, paths, the first run), where no project is needed.
#pragma once

#include <map>
#include <string>

#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace dovrane::testing {

class MiniInstallation {
 public:
  MiniInstallation();

  std::string root() const { return dir_.path(); }
  std::string net_dir() const { return dir_ / "unc/SRV1/cad/Net"; }
  std::string work_dir() const { return dir_ / "work"; }
  std::string machine_settings() const { return dir_ / "machine.toml"; }
  std::string user_settings() const { return dir_ / "user.toml"; }
  // The variables that point the program at this installation.
  std::map<std::string, std::string> Environment() const;
  // Points this process at the installation (until the object is destroyed).
  void Activate();
  ~MiniInstallation();

 private:
  TempDir dir_;
  ScopedEnvironment process_env_;
  std::string saved_unc_root_;
  bool active_ = false;
};

}  // namespace dovrane::testing
