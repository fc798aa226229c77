// A sample installation (hosts SRV1..SRVn, projects with their folders) that
// this process works on, for the tests of the administration repair; and the
// same installation for runs of the real program.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "admin/host_scan.h"
#include "admin/project_index.h"
#include "extlib/administration.h"
#include "extlib/library_init.h"
#include "extlib/prj_record.h"
#include "extlib/project_list.h"
#include "extlib/sample_installation.h"
#include "platform/path_map.h"
#include "support/recording_messenger.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace dovrane::admin {

class RepairTest : public ::testing::Test {
 protected:
  // hosts, projects: the sample installation's size.
  void MakeInstallation(int hosts = 3, int projects = 24) {
    extlib::SampleOptions options;
    options.hosts = hosts;
    options.projects = projects;
    options.attribute_projects = 4;
    std::string error;
    ASSERT_EQ(extlib::MakeSampleInstallation(root(), options, &error), 0) << error;
    std::istringstream lines(extlib::SampleEnvironment(root()));
    for (std::string line; std::getline(lines, line);) {
      size_t eq = line.find('=');
      std::string key = line.substr(7, eq - 7), value = line.substr(eq + 1);
      if (value.size() >= 2 && value.front() == '\'') value = value.substr(1, value.size() - 2);
      env_[key] = value;
      const char* old = std::getenv(key.c_str());
      saved_.emplace(key, old ? old : "\x01");
      ::setenv(key.c_str(), value.c_str(), 1);
    }
    platform::PathMap::Instance().SetUncRoot(root() + "/unc");
    int mode = 2;
    ASSERT_EQ(extlib::lzinit(&mode, 0, 0, 0, 0, 0), 0);
    extlib::SetRecordLockTimeoutMs(500);
  }
  void TearDown() override {
    extlib::close_prj_info_handle(extlib::kSlotNet);
    extlib::UnCachPrjList();
    DropIndex();
    ClearPendingEntries();
    extlib::SetRecordLockTimeoutMs(10000);
    for (const auto& [k, v] : saved_) v == "\x01" ? ::unsetenv(k.c_str()) : ::setenv(k.c_str(), v.c_str(), 1);
    platform::PathMap::Instance().SetUncRoot("/net");
    extlib::lfinipC(extlib::kSlotNet, "");
    extlib::lfinipC(extlib::kSlotLocalProjects, "");
  }

  std::string root() const { return dir_.path() + "/" + name_; }
  // A path below the UNC root, "SRV1/cad/Prj/...".
  std::string Unc(const std::string& relative) const { return root() + "/unc/" + relative; }
  std::string Folder(const std::string& host, uint32_t number) const {
    return Unc(host + "/cad/Prj/" + extlib::NumberText(number) + ".prj");
  }
  std::string Admin() const { return testing::ReadFile(Unc("SRV1/cad/Net/project.dat")); }

  // The records as the library reads them now.
  std::vector<extlib::PRJ> Records() const {
    extlib::close_prj_info_handle(extlib::kSlotNet);
    extlib::UnCachPrjList();
    int count = 0;
    extlib::PRJ* list = nullptr;
    std::vector<extlib::PRJ> out;
    if (extlib::ltbpliC_new(extlib::kSlotNet, &count, &list, 0, nullptr) == 0) out.assign(list, list + count);
    extlib::ltbpliC_delete(&list);
    return out;
  }
  const extlib::PRJ* Find(const std::vector<extlib::PRJ>& records, uint32_t number) const {
    for (const extlib::PRJ& r : records)
      if (r.number == number) return &r;
    return nullptr;
  }
  const extlib::PRJ* FindName(const std::vector<extlib::PRJ>& records, const std::string& name) const {
    for (const extlib::PRJ& r : records)
      if (extlib::TrimmedName(r.name) == name) return &r;
    return nullptr;
  }
  // The first record on host.
  extlib::PRJ OnHost(const std::string& host) const {
    for (const extlib::PRJ& r : Records())
      if (host == r.host) return r;
    ADD_FAILURE() << "no project on " << host;
    return {};
  }

  // Runs the real program on the installation.
  testing::ProgramResult Run(const std::vector<std::string>& args) const {
    std::map<std::string, std::string> env = env_;
    env["DOVRANE_RES_DIR"] = DOVRANE_SOURCE_RES_DIR;
    return testing::RunProgram(DOVRANE_BIN, args, env, root());
  }

  testing::TempDir dir_;
  testing::RecordingMessenger messages_;
  std::map<std::string, std::string> env_;
  std::string name_ = "inst";

 private:
  std::map<std::string, std::string> saved_;
};

}  // namespace dovrane::admin
