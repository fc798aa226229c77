// A complete sample network installation below a folder, for the demo, the
// tests and the benchmarks: settings files, a UNC root with the hosts'
// shares, \Net with project.dat, data.cfg, the user table, net.id and the
// attribute database, project folders with data, and the office standard.
// The same seed gives the same installation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::extlib {

struct SampleOptions {
  int hosts = 3;           // SRV1..SRVn, \Net on SRV1
  int projects = 40;
  int admin_version = 3;   // 1 and 2 write the older layouts
  uint64_t seed = 1;
  int containers = 1;      // user containers of the records
  int attribute_projects = 200;  // projects that get attribute values
  bool project_folders = true;   // false: the administration only (benchmarks)
  bool project_data = true;      // false: folders with version.txt only (benchmarks)
  bool laptop = false;           // one more host, this computer (WS01, data path \cad), with projects
};

// 0, or -1 with a reason in *error. dir must not hold an installation yet.
[[nodiscard]] int MakeSampleInstallation(OperationContext& ctx, const std::string& dir, const SampleOptions& options,
                                         std::string* error);
// The shell lines that point dovrane at the installation below dir.
std::string SampleEnvironment(OperationContext& ctx, const std::string& dir);
// The project names (trimmed, Windows-1252) of the installation's project.dat,
// in any of the three layouts. 0 or -1.
int ListInstallationProjects(OperationContext& ctx, const std::string& dir, std::vector<std::string>* names);
// dir as an absolute path.
std::string AbsoluteFolder(extlib::OperationContext& ctx, const std::string& dir);

}  // namespace dovrane::extlib
