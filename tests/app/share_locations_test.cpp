// Shares the system has mounted elsewhere than below the UNC root, through the
// real program: `--where` and a project query on a sample installation whose
// hosts' shares are reached through a test mount table (DOVRANE_MOUNTINFO) and
// a GVfs folder of the test's own (DOVRANE_GVFS_DIR).
#include "app/share_locations.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "support/sample_installation.h"
#include "support/temp_dir.h"

namespace dovrane::app {
namespace {

namespace fs = std::filesystem;

// The first project of the administration that lies on host.
std::string ProjectOn(const testing::SampleInstallation& inst, const std::string& host) {
  std::istringstream lines(testing::ReadFile(inst.net_dir() + "/project.dat"));
  for (std::string line; std::getline(lines, line);) {
    if (line.size() > 50 && line.find(";" + host + " ") != std::string::npos) {
      std::string name = line.substr(0, 50);
      while (!name.empty() && name.back() == ' ') name.pop_back();
      return name;
    }
  }
  return "";
}

void MoveShare(const std::string& from, const std::string& to) {
  fs::create_directories(fs::path(to).parent_path());
  fs::rename(from, to);
  fs::remove(fs::path(from).parent_path());
}

TEST(ShareLocationsTest, WhereNamesEachShareAndQueriesReachSharesOnlyMounted) {
  testing::SampleInstallation inst({"--hosts", "4", "--projects", "16"});
  const std::string root = inst.root();
  // SRV2's share mounted by the kernel (a blank in the mount point), SRV3's by
  // GVfs, SRV4's by an SMB client in user space (FUSE) of this user.
  MoveShare(inst.unc_root() + "/SRV2/cad", root + "/mnt/office share");
  const std::string gvfs = root + "/gvfs";
  MoveShare(inst.unc_root() + "/SRV3/cad", gvfs + "/smb-share:domain=OFFICE,server=srv3,share=cad,user=admin");
  MoveShare(inst.unc_root() + "/SRV4/cad", root + "/fuse/srv4");
  const std::string me = std::to_string(getuid());
  testing::WriteFile(root + "/mountinfo",
                     "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                     "101 22 0:45 / " + root + "/mnt/office\\040share rw,relatime shared:60 - cifs //srv2/CAD "
                     "rw,vers=3.1.1,addr=192.168.10.6,uid=1000\n"
                     // A bind mount of SRV3's \Prj is not the share.
                     "103 22 0:46 /Prj " + root + "/elsewhere rw - cifs //srv3/cad rw,addr=192.168.10.7\n"
                     "104 22 0:47 / " + root + "/fuse/srv4 rw,nosuid,nodev - fuse.smb //srv4/cad rw,user_id=" + me +
                     ",group_id=0\n");
  const std::map<std::string, std::string> mounted = {{"DOVRANE_MOUNTINFO", root + "/mountinfo"},
                                                      {"DOVRANE_GVFS_DIR", gvfs}};
  const std::string srv2_project = ProjectOn(inst, "SRV2"), srv3_project = ProjectOn(inst, "SRV3"),
                    srv4_project = ProjectOn(inst, "SRV4");
  ASSERT_FALSE(srv2_project.empty());
  ASSERT_FALSE(srv3_project.empty());
  ASSERT_FALSE(srv4_project.empty());

  testing::ProgramResult where = inst.Run({"--where"}, mounted);
  EXPECT_EQ(where.status, 0) << where.err;
  EXPECT_EQ(where.out, "\\\\SRV1\\cad\tUNC root\t" + inst.unc_root() + "/SRV1/cad\tadministration, projects of SRV1\n"
                       "\\\\SRV2\\cad\tCIFS mount\t" + root + "/mnt/office share\tprojects of SRV2\n"
                       "\\\\SRV3\\cad\tGVfs\t" + gvfs + "/smb-share:domain=OFFICE,server=srv3,share=cad,user=admin"
                       "\tprojects of SRV3\n"
                       "\\\\SRV4\\cad\tFUSE mount\t" + root + "/fuse/srv4\tprojects of SRV4\n");
  const testing::ProgramResult json = inst.Run({"--where", "--json"}, mounted);
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_NE(json.out.find("{\"share\":\"\\\\\\\\SRV2\\\\cad\",\"host\":\"SRV2\",\"found\":\"cifs\",\"folder\":\"" + root +
                          "/mnt/office share\",\"administration\":false,\"hosts\":[\"SRV2\"],\"mount_commands\":[]}\n"),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"host\":\"SRV4\",\"found\":\"fuse\",\"folder\":\"" + root + "/fuse/srv4\""),
            std::string::npos)
      << json.out;

  // A project's folder on a mounted share is reached; without the mounts it is not.
  for (const std::string& name : {srv2_project, srv3_project, srv4_project}) {
    SCOPED_TRACE(name);
    const testing::ProgramResult path = inst.Run({name, "-getpath"}, mounted);
    EXPECT_EQ(path.status, 0) << path.err;
    EXPECT_NE(path.out.find("\\cad\\Prj\\"), std::string::npos) << path.out;
    const testing::ProgramResult unmounted =
        inst.Run({name, "-getpath"}, {{"DOVRANE_MOUNTINFO", root + "/none"}, {"DOVRANE_GVFS_DIR", root + "/none"}});
    EXPECT_EQ(unmounted.status, 250) << unmounted.out;  // -6: the host cannot be reached
  }

  // SRV3 unmounted: --where says so, with the commands that mount it, and fails.
  fs::rename(gvfs, root + "/gvfs-gone");
  where = inst.Run({"--where"}, mounted);
  EXPECT_EQ(where.status, 250);
  EXPECT_NE(where.out.find("\\\\SRV3\\cad\tnot found\tsudo mkdir -p " + inst.unc_root() +
                           "/SRV3/cad && sudo mount -t cifs //SRV3/cad " + inst.unc_root() + "/SRV3/cad"),
            std::string::npos)
      << where.out;
  EXPECT_NE(where.out.find("   or   gio mount smb://SRV3/cad\tprojects of SRV3\n"), std::string::npos) << where.out;
}

TEST(ShareLocationsTest, AnAdministrationShareFoundNowhereIsSaidWithItsMountCommands) {
  testing::SampleInstallation inst({"--hosts", "2", "--projects", "4"});
  fs::rename(inst.unc_root() + "/SRV1", inst.root() + "/srv1-away");
  const std::map<std::string, std::string> none = {{"DOVRANE_MOUNTINFO", inst.root() + "/none"},
                                                   {"DOVRANE_GVFS_DIR", inst.root() + "/none"}};
  const testing::ProgramResult list = inst.Run({"--list"}, none);
  EXPECT_EQ(list.status, 1);
  EXPECT_NE(list.err.find("The share \\\\SRV1\\cad is neither below the UNC root (" + inst.unc_root() +
                          ") nor mounted. It is mounted with\n  sudo mkdir -p "),
            std::string::npos)
      << list.err;
  EXPECT_NE(list.err.find("\n  gio mount smb://SRV1/cad\n"), std::string::npos) << list.err;
  // --where shows the one share it knows of without its \Net folder.
  const testing::ProgramResult where = inst.Run({"--where", "--json"}, none);
  EXPECT_EQ(where.status, 250);
  EXPECT_NE(where.out.find("\"found\":\"none\",\"folder\":\"\",\"administration\":true,\"hosts\":[],"
                           "\"mount_commands\":[\"sudo mkdir -p "),
            std::string::npos)
      << where.out;
  EXPECT_EQ(where.out.find("SRV2"), std::string::npos) << where.out;
}

TEST(ShareLocationsTest, EachShareIsListedOnceWithEverythingOnIt) {
  const std::vector<ShareUse> uses = ShareUses(platform::PathMap::Instance(), "\\\\SRV1\\cad\\", {"SRV1", "SRV2", "SRV3", "SRV4"},
                                               {"\\\\SRV1\\CAD\\Prj", "\\\\SRV2\\cad\\Prj", "\\\\srv1\\cad\\Prj",
                                                "D:\\Prj"});
  ASSERT_EQ(uses.size(), 2u);
  EXPECT_EQ(uses[0].host, "SRV1");
  EXPECT_TRUE(uses[0].administration);
  EXPECT_EQ(uses[0].hosts, (std::vector<std::string>{"SRV1", "SRV3"}));
  EXPECT_EQ(uses[1].host, "SRV2");
  EXPECT_FALSE(uses[1].administration);
  EXPECT_EQ(uses[1].hosts, (std::vector<std::string>{"SRV2"}));
}

}  // namespace
}  // namespace dovrane::app
