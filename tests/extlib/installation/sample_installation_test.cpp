#include "extlib/installation/sample_installation.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>

#include "extlib/installation/library_init.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/users.h"
#include "extlib/projects/project_folder.h"
#include "extlib/records/administration.h"
#include "extlib/records/project_list.h"
#include "platform/env.h"
#include "platform/path_map.h"
#include "support/temp_dir.h"

namespace dovrane::extlib {
namespace {

class SampleInstallationTest : public ::testing::Test {
 protected:
  // Points this process at the installation as the printed lines would.
  void Use(const std::string& dir) {
    platform::Env* env = platform::CurrentEnv();
    env->SetEnv("DOVRANE_HKLM", dir + "/hklm.toml");
    env->SetEnv("DOVRANE_HKCU", dir + "/hkcu.toml");
    env->SetEnv("DOVRANE_UNC_ROOT", dir + "/unc");
    env->SetEnv("DOVRANE_USERNAME", "admin");
    platform::PathMap::Instance().SetUncRoot(dir + "/unc");
    int mode = 2;
    ASSERT_EQ(lzinit(DefaultContext(), &mode, 0, 0, 0, 0, 0), 0);
  }
  void TearDown() override {
    lzende(DefaultContext());
    platform::PathMap::Instance().SetUncRoot("/net");
  }
  testing::TempDir dir_;
};

TEST_F(SampleInstallationTest, LibraryReadsEveryRecordAndFolder) {
  SampleOptions o;
  o.hosts = 3;
  o.projects = 40;
  std::string error;
  ASSERT_EQ(MakeSampleInstallation(DefaultContext(), dir_.path() + "/i", o, &error), 0) << error;
  Use(dir_.path() + "/i");
  int count = 0;
  PRJ* list = nullptr;
  ASSERT_EQ(ltbpliC_new(DefaultContext(), 23, &count, &list, 0, nullptr), 0);
  ASSERT_EQ(count, 40);
  std::set<std::string> hosts;
  for (int i = 0; i < count; ++i) {
    hosts.insert(list[i].host);
    std::string folder;
    EXPECT_EQ(ProjectFolderByNumber(DefaultContext(), list[i].number, &folder), 0) << list[i].number;
  }
  ltbpliC_delete(&list);
  EXPECT_EQ(hosts.size(), 3u);
  EXPECT_EQ(lfinigC(DefaultContext(), 31), "L:\\Pelomar\\prj\\");  // the local folder through a mapped drive
  std::vector<std::string> names;
  ASSERT_EQ(ListInstallationProjects(DefaultContext(), dir_.path() + "/i", &names), 0);
  EXPECT_EQ(names.size(), 40u);
}

TEST_F(SampleInstallationTest, WorkFolderOnTheMappedDrive) {
  SampleOptions o;
  o.projects = 1;
  std::string error;
  ASSERT_EQ(MakeSampleInstallation(DefaultContext(), dir_.path() + "/w", o, &error), 0) << error;
  platform::PathMap::Instance().SetDriveFolder('L', "");  // as at program start: no mapping yet
  platform::CurrentEnv()->SetEnv("DOVRANE_HKLM", dir_.path() + "/w/hklm.toml");
  std::string before, now;
  platform::CurrentEnv()->GetCwd(&before);
  ASSERT_EQ(VekArbeitsVerzeichnis(DefaultContext()), 0);
  platform::CurrentEnv()->GetCwd(&now);
  platform::CurrentEnv()->ChDir(before);
  EXPECT_EQ(now, dir_.path() + "/w/local/Pelomar/work");
}

TEST_F(SampleInstallationTest, SameSeedSameAdministrationInEachLayout) {
  std::string error;
  for (int version : {1, 2, 3}) {
    SampleOptions o;
    o.projects = 12;
    o.admin_version = version;
    o.attribute_projects = 0;
    const std::string a = dir_.path() + "/a" + std::to_string(version), b = dir_.path() + "/b" + std::to_string(version);
    ASSERT_EQ(MakeSampleInstallation(DefaultContext(), a, o, &error), 0) << error;
    ASSERT_EQ(MakeSampleInstallation(DefaultContext(), b, o, &error), 0) << error;
    std::string pa = dir_.Read("a" + std::to_string(version) + "/unc/SRV1/cad/Net/project.dat");
    EXPECT_EQ(pa, dir_.Read("b" + std::to_string(version) + "/unc/SRV1/cad/Net/project.dat"));
    EXPECT_EQ(pa.size(), 12u + 12u * (version == 3 ? 116u : 137u)) << version;
    EXPECT_EQ(pa.substr(0, 2), " " + std::to_string(version));
  }
  EXPECT_NE(MakeSampleInstallation(DefaultContext(), dir_.path() + "/a3", SampleOptions{}, &error),
            0);  // not over an installation
}

TEST_F(SampleInstallationTest, ProgramPrintsTheExportLines) {
  const std::string cmd = std::string(DOVRANE_MKINSTALL) + " " + dir_.path() + "/p --hosts 2 --projects 5";
  FILE* out = ::popen(cmd.c_str(), "r");
  ASSERT_NE(out, nullptr);
  char line[512];
  std::string text;
  while (std::fgets(line, sizeof line, out)) text += line;
  EXPECT_EQ(::pclose(out), 0);
  EXPECT_NE(text.find("export DOVRANE_HKLM='" + dir_.path() + "/p/hklm.toml'"), std::string::npos) << text;
  EXPECT_NE(std::system((std::string(DOVRANE_MKINSTALL) + " " + dir_.path() + "/q --hosts 0 2>/dev/null").c_str()), 0);
}

}  // namespace
}  // namespace dovrane::extlib
