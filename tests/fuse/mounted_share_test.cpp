// A host's share found where a desktop mounts it, for real: the share stage's
// FUSE file system mounted as GVfs mounts a share (a folder
// smb-share:server=...,share=... in the user's GVfs folder, itself a FUSE
// mount) and as an SMB client mounts one share (an entry of the mount table
// whose source is //HOST/share). The real program then works on the host
// SRV9, whose share \\SRV9\data has no folder below the UNC root, through the
// mount: it finds the share, creates a project on it and registers a folder
// found there. Run by the CTest test fuse_stage; skipped elsewhere.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "support/fault_share.h"
#include "support/sample_installation.h"

namespace dovrane::testing {
namespace {

namespace fs = std::filesystem;

class FuseStageMountedShare : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* stage = std::getenv("DOVRANE_FUSE_STAGE");
    if (!stage || !*stage) GTEST_SKIP() << "no test share: run the CTest test fuse_stage";
    if (std::string why = FaultShare::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    // The host SRV9 with its projects on \\SRV9\data\Prj, nowhere below the UNC root.
    const std::string host_list = inst_.net_dir() + "/data.cfg";
    std::string hosts = ReadFile(host_list);
    ASSERT_FALSE(hosts.empty());
    if (hosts.back() != '\n') hosts += '\n';
    WriteFile(host_list, hosts + "SRV9 \\data\n");
    ASSERT_FALSE(fs::exists(inst_.unc_root() + "/SRV9"));
  }

  // The share's contents as a registered host has them (its marker), and a
  // project folder nobody has registered yet.
  void FillShare(const std::string& folder) {
    fs::create_directories(folder + "/Prj/Altbau.prj");
    fs::copy_file(inst_.unc_root() + "/SRV2/cad/Prj/project.srv", folder + "/Prj/project.srv");
    WriteFile(folder + "/Prj/Altbau.prj/plan.txt", "Grundriss");
  }

  // The name of a project's folder on \\SRV9\data\Prj, as -getpath says; "" when it says another.
  std::string ProjectFolder(const std::map<std::string, std::string>& env, const std::string& name) {
    const ProgramResult path = inst_.Run({name, "-getpath"}, env);
    EXPECT_EQ(path.status, 0) << path.out << path.err;
    const std::string prefix = "\\\\SRV9\\data\\Prj\\";
    if (path.out.rfind(prefix, 0) != 0 || path.out.size() <= prefix.size() + 1) {
      ADD_FAILURE() << name << ": " << path.out;
      return "";
    }
    std::string folder = path.out.substr(prefix.size());
    while (!folder.empty() && (folder.back() == '\n' || folder.back() == '\r')) folder.pop_back();
    return folder;
  }

  // The program reaches \\SRV9\data at folder (found as `how`) and nowhere
  // else: every call it makes there passes through the test share.
  void ExpectWorkThroughTheMount(FaultShare* share, const std::map<std::string, std::string>& env,
                                 const std::string& how, const std::string& folder) {
    const ProgramResult where = inst_.Run({"--where"}, env);
    EXPECT_EQ(where.status, 0) << where.out << where.err;
    EXPECT_NE(where.out.find("\\\\SRV9\\data\t" + how + "\t" + folder + "\tprojects of SRV9\n"), std::string::npos)
        << where.out;

    const long calls = share->Calls();
    const ProgramResult create = inst_.Run({"Neubau Nord", "-create", "SRV9"}, env);
    ASSERT_EQ(create.status, 0) << create.out << create.err;
    EXPECT_GT(share->Calls(), calls) << "the project was not made through the mount";
    const std::string project = ProjectFolder(env, "Neubau Nord");
    EXPECT_TRUE(fs::is_directory(folder + "/Prj/" + project)) << project;

    // The folder found on the share is registered by the host's update, its
    // contents kept.
    const ProgramResult update = inst_.Run({"-update", "SRV9"}, env);
    EXPECT_EQ(update.status, 0) << update.out << update.err;
    const std::string altbau = ProjectFolder(env, "Altbau");
    EXPECT_EQ(ReadFile(folder + "/Prj/" + altbau + "/plan.txt"), "Grundriss") << altbau;
    EXPECT_FALSE(fs::exists(inst_.unc_root() + "/SRV9"));
  }

  SampleInstallation inst_{{"--hosts", "2", "--projects", "4", "--seed", "9"}};
};

TEST_F(FuseStageMountedShare, InTheGvfsFolderOfTheDesktop) {
  // As gvfsd-fuse shows it: one FUSE mount at $XDG_RUNTIME_DIR/gvfs, each
  // share the file manager mounted a folder in it.
  const std::string runtime = inst_.root() + "/run-user";
  const std::string gvfs = runtime + "/gvfs";
  const std::string folder = gvfs + "/smb-share:server=srv9,share=data";
  FillShare(folder);
  FaultShare share(gvfs, {"gvfsd-fuse", "gvfsd-fuse"});
  ASSERT_TRUE(share.mounted()) << share.error();
  // The system's own places: no test mount table, no test GVfs folder.
  const std::map<std::string, std::string> env = {
      {"XDG_RUNTIME_DIR", runtime}, {"DOVRANE_MOUNTINFO", ""}, {"DOVRANE_GVFS_DIR", ""}};
  ExpectWorkThroughTheMount(&share, env, "GVfs", folder);
  EXPECT_GT(share.Calls(), 0) << share.Log();
}

TEST_F(FuseStageMountedShare, AtAMountPointOfTheMountTable) {
  // An SMB client in user space that names the share as its source, as the
  // kernel's does; the mount point has a blank (escaped in the table).
  const std::string folder = inst_.root() + "/mnt/srv9 data";
  FillShare(folder);
  const std::map<std::string, std::string> env = {
      {"XDG_RUNTIME_DIR", inst_.root() + "/no-runtime"}, {"DOVRANE_MOUNTINFO", ""}, {"DOVRANE_GVFS_DIR", ""}};
  {
    // A FUSE mount whose source names no share (a whole network, as
    // smbnetfs mounts it) is not taken for \\SRV9\data.
    FaultShare network(folder, {"smbnetfs", "smbnetfs"});
    ASSERT_TRUE(network.mounted()) << network.error();
    const ProgramResult where = inst_.Run({"--where"}, env);
    EXPECT_EQ(where.status, 250) << where.out << where.err;
    EXPECT_NE(where.out.find("\\\\SRV9\\data\tnot found\t"), std::string::npos) << where.out;
  }
  {
    FaultShare share(folder, {"//srv9/data", "smb"});
    ASSERT_TRUE(share.mounted()) << share.error();
    ExpectWorkThroughTheMount(&share, env, "FUSE mount", folder);
  }
  // Unmounted, the share is found nowhere again.
  const ProgramResult gone = inst_.Run({"Neubau Nord", "-getpath"}, env);
  EXPECT_EQ(gone.status, 250) << gone.out << gone.err;
}

}  // namespace
}  // namespace dovrane::testing
