// Installations made by the sample installation tool, for tests that run the
// real program on them and look at the files afterwards (fault and kill runs,
// concurrency). Nothing in this process is pointed at them; for that, the
// sample site builds on this.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/installation_state.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace dovrane::testing {

class SampleInstallation {
 public:
  // Makes an installation in a folder of its own (dovrane-mkinstall).
  explicit SampleInstallation(const std::vector<std::string>& options = {"--hosts", "2", "--projects", "6"});
  // Copies the installation at root `from` to `to` (replacing it), with its
  // settings pointed at the copy.
  static void CopyInstallation(const std::string& from, const std::string& to);

  const std::string& root() const { return root_; }
  std::string unc_root() const { return root_ + "/unc"; }
  std::string net_dir() const;
  std::map<std::string, std::string> Environment() const;
  std::vector<std::string> ProjectNames() const;

  // Runs dovrane with args in the installation's work folder.
  ProgramResult Run(const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& extra_env = {}) const;
  // The same with another program of ours (a test probe).
  ProgramResult RunOther(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& extra_env = {}) const;
  InstallationState State() const { return ReadInstallationState(unc_root(), net_dir()); }

  // Points at another folder holding a copy (for fault runs).
  void Rebase(const std::string& root);

 private:
  TempDir dir_;
  std::string root_;
  std::map<std::string, std::string> env_;
};

}  // namespace dovrane::testing
