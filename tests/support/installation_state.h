// What an installation holds, read straight from its files, for tests that
// check that nothing was lost: the records of project.dat and the project
// folders on every host of data.cfg.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace dovrane::testing {

struct RecordView {
  std::string name;  // without trailing blanks, UTF-8 as typed on the command line
  std::string host;
  unsigned status = 32;
  bool operator==(const RecordView&) const = default;
};

struct InstallationState {
  bool admin_readable = false;        // header and every line parse
  std::string problem;                // why not, for the failure message
  std::map<uint32_t, RecordView> records;  // by number (deleted slots left out)
  size_t numbered_records = 0;        // records with a number, duplicates counted
  std::set<std::string> folders;      // "HOST/n0000012.prj" (folders and link files)
  // What an operation cut short leaves until it is put right: work entries
  // beside the project folders ("HOST/n0000012.prj.new~", ".del~") and the
  // journals in \Net ("Net/n0000012.prj.new", ".del").
  std::set<std::string> unfinished;
  bool operator==(const InstallationState& o) const {
    return admin_readable == o.admin_readable && records == o.records && folders == o.folders;
  }
};

// Reads the installation whose UNC root and \Net folder (native) are given.
InstallationState ReadInstallationState(const std::string& unc_root, const std::string& net_dir);

// "" when every numbered record has its folder on its host and every folder
// its record, no number is used twice and nothing is left unfinished; else
// what does not match.
std::string ConsistencyProblems(const InstallationState& state);

}  // namespace dovrane::testing
