#include "support/mini_installation.h"

#include <filesystem>

#include "platform/path_map.h"

namespace dovrane::testing {

MiniInstallation::MiniInstallation() {
  std::filesystem::create_directories(net_dir());
  std::filesystem::create_directories(work_dir());
  WriteFile(machine_settings(),
            "[InstallRoot]\n"
            "NetDrive = '\\\\SRV1\\cad'\n"
            "NetPath = ''\n"
            "WorkPath = '" + work_dir() + "'\n");
  WriteFile(user_settings(), "[Settings]\n");
}

std::map<std::string, std::string> MiniInstallation::Environment() const {
  return {{"DOVRANE_HKLM", machine_settings()},
          {"DOVRANE_HKCU", user_settings()},
          {"DOVRANE_UNC_ROOT", dir_ / "unc"},
          {"DOVRANE_COMPUTERNAME", "WS1"},
          {"DOVRANE_USERNAME", "tester"},
          {"DOVRANE_RES_DIR", DOVRANE_SOURCE_RES_DIR}};
}

void MiniInstallation::Activate() {
  process_env_.Set(Environment());
  saved_unc_root_ = platform::PathMap::Instance().UncRoot();
  active_ = true;
  platform::PathMap::Instance().SetUncRoot(dir_ / "unc");
}

MiniInstallation::~MiniInstallation() {
  if (active_) platform::PathMap::Instance().SetUncRoot(saved_unc_root_);
}

}  // namespace dovrane::testing
