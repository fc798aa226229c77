#include "support/small_installation.h"

#include <cstdio>

#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/administration.h"
#include "extlib/records/project_list.h"
#include "extlib/records/record_line.h"
#include "platform/env.h"
#include "platform/path_map.h"

namespace dovrane::testing {

SmallInstallation::SmallInstallation(int containers_, bool network) : containers(containers_) {
  platform::PathMap::Instance().SetUncRoot(dir.path());
  extlib::close_prj_info_handle(23);
  extlib::lfinipC(extlib::DefaultContext(), 23, "\\\\SRV1\\cad\\Net\\");
  extlib::lfinipC(extlib::DefaultContext(), 31, "\\\\SRV1\\cad\\local\\Prj\\");
  if (network) dir.Write("SRV1/cad/Net/data.cfg", "SRV1 \\cad\nSRV2 \\cad\n");
  dir.Write("SRV1/cad/Net/users.dat", "containers " + std::to_string(containers) +
                                          "\r\n1\tADMIN\tadmin\r\n2\tMUELLER\tuser\r\n3\tSCHMIDT\tuser\r\n");
  dir.Write("SRV1/cad/Prj/.keep", "");
  dir.Write("SRV2/cad/Prj/.keep", "");
  dir.Write("SRV1/cad/local/Prj/.keep", "");
  platform::CurrentEnv()->SetEnv("DOVRANE_USERNAME", "mueller");
  WriteAdministration({}, 0);
}

SmallInstallation::~SmallInstallation() {
  extlib::close_prj_info_handle(23);
  extlib::UnCachPrjList(extlib::DefaultContext());
  extlib::SetRecordLockTimeoutMs(10000);
  extlib::SetProjectListRevalidateMs(200);
  platform::PathMap::Instance().SetUncRoot("/net");
}

void SmallInstallation::WriteAdministration(const std::vector<extlib::PRJ>& records, uint32_t highest,
                                            int line_end) {
  std::string text = extlib::FormatHeader(3, highest, line_end);
  for (const extlib::PRJ& r : records) {
    std::string line;
    extlib::FormatRecordV3(r, containers, &line);
    text += line + (line_end == 2 ? "\r\n" : "\n");
  }
  extlib::close_prj_info_handle(23);
  dir.Write("SRV1/cad/Net/project.dat", text);
  extlib::UnCachPrjList(extlib::DefaultContext());
}

extlib::PRJ SmallInstallation::Record(const std::string& name, uint32_t number, const std::string& host,
                                      uint32_t owner) {
  extlib::PRJ r;
  extlib::SetPrjName(&r, name);
  extlib::SetPrjHost(&r, host);
  r.number = number;
  r.version = 20;
  r.owner = owner;
  extlib::SetMemberBit(&r, owner, true);
  return r;
}

void SmallInstallation::MakeProjectFolder(const std::string& host, uint32_t number, int version) {
  char name[64];
  std::snprintf(name, sizeof name, "%s/cad/Prj/n%07u.prj/version.txt", host.c_str(), number);
  dir.Write(name, std::to_string(version) + "\n");
}

}  // namespace dovrane::testing
