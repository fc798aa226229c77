#include "platform/path_map.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "platform/env.h"
#include "platform/manual_clock_env.h"
#include "platform/name_lookup.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace dovrane::platform {
namespace {

class PathMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    map_.SetUncRoot(dir_ / "unc");
    map_.SetDriveFolder('x', dir_ / "drive-x");
    std::filesystem::create_directories(dir_ / "unc/SRV1/cad/Std/Vorlagen");
    std::filesystem::create_directories(dir_ / "drive-x/Prj");
  }
  testing::TempDir dir_;
  PathMap map_;
};

TEST_F(PathMapTest, WindowsFormsMapBelowTheirRoots) {
  EXPECT_EQ(map_.ToNativeLexical("\\\\SRV1\\cad\\Net\\project.dat"), dir_ / "unc/SRV1/cad/Net/project.dat");
  EXPECT_EQ(map_.ToNativeLexical("X:\\Prj\\n0000042.prj"), dir_ / "drive-x/Prj/n0000042.prj");
  EXPECT_EQ(map_.ToNativeLexical("x:\\"), dir_ / "drive-x");
  EXPECT_EQ(map_.ToNativeLexical("Q:\\nowhere"), "");  // an unmapped drive reaches nothing
  EXPECT_EQ(map_.ToNativeLexical("/already/native"), "/already/native");
  EXPECT_EQ(map_.ToNativeLexical("\\\\SRV1\\cad\\.\\Net\\\\x"), dir_ / "unc/SRV1/cad/Net/x");
}

TEST_F(PathMapTest, ComponentsMatchInAnyLetterCaseAndNewNamesKeepTheirSpelling) {
  EXPECT_EQ(map_.ToNative("\\\\srv1\\CAD\\STD\\vorlagen"), dir_ / "unc/SRV1/cad/Std/Vorlagen");
  EXPECT_EQ(map_.ToNative("\\\\SRV1\\cad\\std\\NewFolder\\File.TXT"), dir_ / "unc/SRV1/cad/Std/NewFolder/File.TXT");
  EXPECT_EQ(map_.ToNative("x:\\PRJ"), dir_ / "drive-x/Prj");
}

TEST_F(PathMapTest, WindowsLettersReachUtf8Names) {
  std::filesystem::create_directories(dir_ / "unc/SRV1/cad/M\xC3\xBCller");  // Müller on disk
  EXPECT_EQ(map_.ToNative("\\\\SRV1\\cad\\M\xDCLLER"), dir_ / "unc/SRV1/cad/M\xC3\xBCller");
}

TEST_F(PathMapTest, NativePathsBelowARootReadAsTheirWindowsForm) {
  EXPECT_EQ(map_.ToWindows(dir_ / "unc/SRV1/cad/Prj/x.prj"), "\\\\SRV1\\cad\\Prj\\x.prj");
  EXPECT_EQ(map_.ToWindows(dir_ / "drive-x/Prj"), "X:\\Prj");
  EXPECT_EQ(map_.ToWindows(dir_ / "drive-x"), "X:\\");
  EXPECT_EQ(map_.ToWindows("\\\\SRV1\\cad"), "\\\\SRV1\\cad");
  EXPECT_EQ(map_.ToWindows("/elsewhere/x"), "/elsewhere/x");
  // A folder whose name only starts like the root is not below it.
  EXPECT_EQ(map_.ToWindows(dir_ / "unc2/SRV1"), dir_ / "unc2/SRV1");
}

// Shares mounted elsewhere than below the UNC root: SRV1's share is both
// below the root (in other letter case) and mounted; SRV2's only mounted by
// the kernel, SRV3's only by GVfs.
class PathMapMountTest : public PathMapTest {
 protected:
  void SetUp() override {
    PathMapTest::SetUp();
    std::filesystem::create_directories(dir_ / "mnt/srv1-cad/Std");
    std::filesystem::create_directories(dir_ / "mnt/office share/Prj/n0000007.prj");
    std::filesystem::create_directories(dir_ / "gvfs/smb-share:server=srv3,share=cad/Prj");
    map_.SetShareMounts({{"srv1", "CAD", "", dir_ / "mnt/srv1-cad", MountKind::kCifs},
                         {"srv2", "Office", "192.168.10.6", dir_ / "mnt/office share", MountKind::kCifs},
                         {"srv3", "cad", "", dir_ / "gvfs/smb-share:server=srv3,share=cad", MountKind::kGvfs}});
  }
};

TEST_F(PathMapMountTest, TheUncRootWinsWhereItHasTheShareAMountServesOtherwise) {
  ShareLocation srv1 = map_.LocateShare("srv1", "CAD");
  EXPECT_EQ(srv1.how, ShareFound::kUncRoot);
  EXPECT_EQ(srv1.folder, dir_ / "unc/SRV1/cad");
  EXPECT_EQ(map_.ToNative("\\\\SRV1\\cad\\Std\\Vorlagen"), dir_ / "unc/SRV1/cad/Std/Vorlagen");

  EXPECT_EQ(map_.LocateShare("SRV2", "office").how, ShareFound::kCifs);
  EXPECT_EQ(map_.ToNative("\\\\SRV2\\Office\\PRJ\\N0000007.PRJ"), dir_ / "mnt/office share/Prj/n0000007.prj");
  EXPECT_EQ(map_.ToNative("\\\\SRV2\\Office\\Prj\\New"), dir_ / "mnt/office share/Prj/New");
  EXPECT_EQ(map_.ToNative("\\\\SRV2\\Office"), dir_ / "mnt/office share");
  const ShareLocation srv3 = map_.LocateShare("SRV3", "CAD");
  EXPECT_EQ(srv3.how, ShareFound::kGvfs);
  EXPECT_EQ(map_.ToNative("\\\\SRV3\\cad\\prj"), dir_ / "gvfs/smb-share:server=srv3,share=cad/Prj");

  // A share found nowhere keeps the UNC root's spelling, as before mounts were asked.
  const ShareLocation srv9 = map_.LocateShare("SRV9", "cad");
  EXPECT_EQ(srv9.how, ShareFound::kNowhere);
  EXPECT_EQ(srv9.folder, dir_ / "unc/SRV9/cad");
  EXPECT_EQ(map_.ToNative("\\\\SRV9\\cad\\Net"), dir_ / "unc/SRV9/cad/Net");

  // Without the root's folder, SRV1's share is its mount; a new root forgets the old decisions.
  std::filesystem::create_directories(dir_ / "unc2");
  map_.SetUncRoot(dir_ / "unc2");
  EXPECT_EQ(map_.LocateShare("SRV1", "cad").how, ShareFound::kCifs);
  EXPECT_EQ(map_.ToNative("\\\\SRV1\\cad\\std"), dir_ / "mnt/srv1-cad/Std");
}

TEST_F(PathMapMountTest, PathsBelowAMountPointReadAsTheShare) {
  // Not asked for yet: named as the mount names it.
  EXPECT_EQ(map_.ToWindows(dir_ / "mnt/office share/Prj/n0000007.prj"), "\\\\srv2\\Office\\Prj\\n0000007.prj");
  EXPECT_EQ(map_.ToWindows(dir_ / "gvfs/smb-share:server=srv3,share=cad"), "\\\\srv3\\cad");
  // Once the installation asked for it, in the installation's spelling.
  ASSERT_EQ(map_.LocateShare("SRV2", "OFFICE").how, ShareFound::kCifs);
  EXPECT_EQ(map_.ToWindows(dir_ / "mnt/office share/Prj"), "\\\\SRV2\\OFFICE\\Prj");
  // The root still comes first; a folder that only begins like a mount point is not below it.
  EXPECT_EQ(map_.ToWindows(dir_ / "unc/SRV1/cad/Std"), "\\\\SRV1\\cad\\Std");
  EXPECT_EQ(map_.ToWindows(dir_ / "mnt/office sharex/Prj"), dir_ / "mnt/office sharex/Prj");
  // Round trip through the mount.
  EXPECT_EQ(map_.ToNative(map_.ToWindows(dir_ / "mnt/office share/Prj/n0000007.prj")),
            dir_ / "mnt/office share/Prj/n0000007.prj");
}

TEST_F(PathMapMountTest, AMountNamingAnAddressServesTheHostWithThatAddress) {
  map_.SetShareMounts({{"192.168.10.7", "cad", "192.168.10.7", dir_ / "mnt/srv1-cad", MountKind::kCifs}});
  SetNameResolverForTesting([](const std::string& host, sockaddr_in* address) {
    if (host != "SRV7") return false;
    address->sin_family = AF_INET;
    return inet_pton(AF_INET, "192.168.10.7", &address->sin_addr) == 1;
  });
  const ShareLocation srv7 = map_.LocateShare("SRV7", "cad");
  const ShareLocation srv8 = map_.LocateShare("SRV8", "cad");
  SetNameResolverForTesting(nullptr);
  EXPECT_EQ(srv7.how, ShareFound::kCifs);
  EXPECT_EQ(srv7.folder, dir_ / "mnt/srv1-cad");
  EXPECT_EQ(srv8.how, ShareFound::kNowhere);
}

TEST_F(PathMapMountTest, ASystemMountMadeWhileRunningIsFoundOnceTheNotFoundDecisionIsOld) {
  ManualClockEnv clock;
  Env* outer = SetCurrentEnv(&clock);
  testing::ScopedEnvironment env;
  const std::string table = dir_ / "mountinfo";
  testing::WriteFile(table, "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n");
  env.Set({{"DOVRANE_MOUNTINFO", table}, {"DOVRANE_GVFS_DIR", dir_ / "no-gvfs"}});
  map_.UseSystemShareMounts();
  EXPECT_EQ(map_.LocateShare("SRV2", "office").how, ShareFound::kNowhere);
  testing::WriteFile(table, "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                            "40 22 0:45 / " + dir_ / "mnt/office\\040share" + " rw - cifs //srv2/office rw\n");
  EXPECT_EQ(map_.LocateShare("SRV2", "office").how, ShareFound::kNowhere);  // kept a little while
  clock.Advance(2000);
  const ShareLocation later = map_.LocateShare("SRV2", "office");
  SetCurrentEnv(outer);
  EXPECT_EQ(later.how, ShareFound::kCifs);
  EXPECT_EQ(later.folder, dir_ / "mnt/office share");
}

TEST_F(PathMapMountTest, WorkerThreadsAgreeOnWhereAShareIs) {
  std::vector<std::thread> threads;
  std::vector<std::string> seen(4);
  for (size_t t = 0; t < seen.size(); ++t) {
    threads.emplace_back([this, t, &seen] {
      for (int i = 0; i < 200; ++i) {
        const std::string native = map_.ToNative(t % 2 ? "\\\\SRV2\\Office\\Prj" : "\\\\srv2\\OFFICE\\prj");
        if (seen[t].empty()) seen[t] = native;
        if (native != seen[t]) seen[t] = "changed: " + native;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (const std::string& s : seen) EXPECT_EQ(s, dir_ / "mnt/office share/Prj");
}

}  // namespace
}  // namespace dovrane::platform
