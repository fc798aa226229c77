// A small network installation below a temporary folder for the library's
// tests: hosts SRV1 and SRV2 (data path \cad), \Net on SRV1 with data.cfg,
// the user table and project.dat; slot 23 points at it. Written by hand, record
// by record, in this process: for tests that need exact administration
// contents (damaged lines, chosen numbers) rather than a whole sample site.
#pragma once

#include <string>
#include <vector>

#include "extlib/installation/installation.h"
#include "extlib/records/prj_record.h"
#include "support/temp_dir.h"

namespace dovrane::testing {

class SmallInstallation {
 public:
  explicit SmallInstallation(int containers = 1, bool network = true);
  ~SmallInstallation();
  // project.dat with these records in the version 3 layout.
  void WriteAdministration(const std::vector<extlib::PRJ>& records, uint32_t highest, int line_end = 2);
  static extlib::PRJ Record(const std::string& name, uint32_t number, const std::string& host = "SRV1",
                            uint32_t owner = 1);
  // An empty project folder n%07u.prj on the host, with version.txt.
  void MakeProjectFolder(const std::string& host, uint32_t number, int version = 20);
  std::string Native(const std::string& relative) const { return dir.path() + "/" + relative; }
  std::string Admin() const { return dir.Read("SRV1/cad/Net/project.dat"); }

  // The slots and caches are the installation's own, gone with it.
  extlib::ScopedInstallation installation;
  TempDir dir;
  int containers;
};

}  // namespace dovrane::testing
