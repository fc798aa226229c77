// An administration that is there but out of reach (no access rights, a
// read-only folder) is not reported as missing: the run ends with -1 and a
// message that names the cause. Run as an ordinary user, since root passes
// every permission.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "support/sample_site.h"

namespace dovrane::app {
namespace {

namespace fs = std::filesystem;

class AccessErrorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0 || !fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "needs root and setpriv";
    // The whole sample, its parents included, open to the ordinary user.
    for (fs::path p = site_.root(); p != p.root_path(); p = p.parent_path())
      fs::permissions(p, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    for (const auto& e : fs::recursive_directory_iterator(fs::path(site_.root()).parent_path()))
      if (!e.is_symlink()) fs::permissions(e.path(), fs::perms::all, fs::perm_options::add);
  }
  // The program as the user "nobody".
  testing::ProgramResult RunAsUser(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"--reuid=65534", "--regid=65534", "--clear-groups", DOVRANE_BIN};
    all.insert(all.end(), args.begin(), args.end());
    return testing::RunProgram("/usr/bin/setpriv", all, site_.Environment(), site_.start_dir());
  }
  testing::SampleSite site_{6};
};

TEST_F(AccessErrorsTest, AnAdministrationWithoutAccessRightsIsUnreadableNotMissing) {
  fs::permissions(site_.NetDir() + "/project.dat", fs::perms::none);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{site_.Name(2), "-info"}, {site_.Name(2), "-exist"}, {"Neu", "-create", "SRV1"},
        {site_.Name(2), "-erase_y"}, {"--list"}}) {
    const testing::ProgramResult r = RunAsUser(args);
    EXPECT_EQ(r.status, 255) << args.back() << r.err;
    EXPECT_NE(r.err.find("project.dat can not be read: Permission denied"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("does not exist"), std::string::npos) << r.err;
  }
}

TEST_F(AccessErrorsTest, ACreateThatCannotWriteSaysWhere) {
  fs::permissions(site_.NetDir(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
  testing::ProgramResult r = RunAsUser({"Neu", "-create", "SRV1"});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find("Can't write the create journal"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Permission denied"), std::string::npos) << r.err;
  fs::permissions(site_.NetDir(), fs::perms::all);
  const std::string prj = site_.root() + "/unc/SRV2/cad/Prj";
  fs::permissions(prj, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  r = RunAsUser({"Neu", "-create", "SRV2"});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find("Can't make the project folder"), std::string::npos) << r.err;
  EXPECT_EQ(RunAsUser({"Neu", "-exist"}).status, 253);
}

}  // namespace
}  // namespace dovrane::app
