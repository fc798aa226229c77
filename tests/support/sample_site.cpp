#include "support/sample_site.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/sample_installation.h"
#include "extlib/records/administration.h"
#include "extlib/records/project_list.h"
#include "platform/path_map.h"
#include "platform/text_codec.h"

namespace dovrane::testing {

SampleSite::SampleSite(int projects, int hosts, bool laptop)
    : SampleInstallation(laptop ? std::vector<std::string>{"--hosts", std::to_string(hosts), "--projects",
                                                           std::to_string(projects), "--attribute-projects", "4",
                                                           "--laptop"}
                                : std::vector<std::string>{"--hosts", std::to_string(hosts), "--projects",
                                                           std::to_string(projects), "--attribute-projects", "4"}) {
  std::filesystem::create_directories(start_dir());
  EXPECT_EQ(extlib::ListInstallationProjects(extlib::DefaultContext(), root(), &names_), 0);
}

SampleSite::~SampleSite() {
  if (!active_) return;
  extlib::lzende(extlib::DefaultContext());
  platform::PathMap::Instance().SetUncRoot("/net");
}

std::string SampleSite::start_dir() const {
  return std::filesystem::path(root()).parent_path() / "start";
}

std::string SampleSite::ProjectDir(const std::string& host, uint32_t number) const {
  char name[32];
  std::snprintf(name, sizeof name, "n%07u.prj", number);
  return root() + "/unc/" + host + "/cad/Prj/" + name;
}

std::string SampleSite::Name(uint32_t number) const {
  return number >= 1 && number <= names_.size() ? platform::Cp1252ToUtf8(names_[number - 1]) : "";
}

std::string SampleSite::Shown(uint32_t number) const {
  return number >= 1 && number <= names_.size() ? platform::Cp1252ToUtf8(extlib::PadName(names_[number - 1])) : "";
}

std::map<std::string, std::string> SampleSite::Environment(const std::string& user) const {
  std::map<std::string, std::string> env = SampleInstallation::Environment();
  env["DOVRANE_USERNAME"] = user;
  return env;
}

ProgramResult SampleSite::Run(const std::vector<std::string>& args, const std::string& user) const {
  return RunProgram(DOVRANE_BIN, args, Environment(user), start_dir());
}

void SampleSite::Activate() {
  if (!active_) {
    process_env_.Set(Environment());
    active_ = true;
  }
  platform::PathMap::Instance().SetUncRoot(root() + "/unc");
  int mode = 2;
  ASSERT_EQ(extlib::lzinit(extlib::DefaultContext(), &mode, 0, 0, 0, 0, 0), 0);
}

bool SampleSite::Record(uint32_t number, extlib::PRJ* record) {
  Activate();
  extlib::UnCachPrjList(extlib::DefaultContext());
  return extlib::get_PrjInfo_by_number(extlib::DefaultContext(), number, record) == 0;
}

void SampleSite::EditRecord(uint32_t number, const std::function<void(extlib::PRJ*)>& change) {
  Activate();
  extlib::PRJ record;
  ASSERT_TRUE(Record(number, &record));
  int handle = extlib::open_prj_info(extlib::DefaultContext(), extlib::kSlotNet, extlib::kOpenExisting);
  ASSERT_GE(handle, 0);
  long slot = extlib::get_prj_position(extlib::DefaultContext(), handle, record.name, extlib::kSlotNet, 0);
  ASSERT_GT(slot, 0);
  change(&record);
  ASSERT_EQ(extlib::seek_prj_set(handle, slot), 0);
  ASSERT_EQ(extlib::write_prj_info(extlib::DefaultContext(), handle, &record), 0);
  extlib::lzende(extlib::DefaultContext());  // the program reads the file afresh
}

void SampleSite::DropHostList() { std::filesystem::remove(NetDir() + "/data.cfg"); }

}  // namespace dovrane::testing
