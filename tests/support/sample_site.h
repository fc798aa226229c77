// A sample installation (hosts SRV1..SRVn, project i with number i, users
// ADMIN (administrator), MUELLER, SCHMIDT, ...) that this process can work on
// too: for end-to-end tests of the project commands (runs the program as a
// chosen user in a start folder of its own beside the installation) and for
// tests that call the library on a whole installation (Activate), such as the
// repairs.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "extlib/records/prj_record.h"
#include "support/run_program.h"
#include "support/sample_installation.h"
#include "support/scoped_environment.h"

namespace dovrane::testing {

class SampleSite : public SampleInstallation {
 public:
  // laptop: one more host, WS01, this computer (dovrane-mkinstall --laptop).
  explicit SampleSite(int projects = 12, int hosts = 3, bool laptop = false);
  ~SampleSite();

  std::string start_dir() const;
  // The native folder of project `number` on host.
  std::string ProjectDir(const std::string& host, uint32_t number) const;
  std::string NetDir() const { return net_dir(); }
  std::string WorkDir() const { return root() + "/local/Pelomar/work"; }
  // The trimmed name of project `number` as made (before any change), as
  // typed on the command line (UTF-8).
  std::string Name(uint32_t number) const;
  // The name blank-padded to 50 characters, as the program shows it.
  std::string Shown(uint32_t number) const;

  std::map<std::string, std::string> Environment(const std::string& user = "admin") const;
  ProgramResult Run(const std::vector<std::string>& args, const std::string& user = "admin") const;

  // Points this process's library at the installation (until destroyed).
  void Activate();
  // The record of project `number` read through the library; false when gone.
  bool Record(uint32_t number, extlib::PRJ* record);
  // Changes a record in place through the library.
  void EditRecord(uint32_t number, const std::function<void(extlib::PRJ*)>& change);
  // Makes the installation a single-workstation one (no host list).
  void DropHostList();

 private:
  std::vector<std::string> names_;
  ScopedEnvironment process_env_;
  bool active_ = false;
};

}  // namespace dovrane::testing
