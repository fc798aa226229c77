#include "platform/share_mounts.h"

#include <gtest/gtest.h>

namespace dovrane::platform {
namespace {

// As a Debian desktop shows it: a root file system, /proc, CIFS mounts made by
// fstab, a bind mount of a folder of one of them, a mount of a folder inside a
// share, GVfs's own FUSE mount, an NFS mount, FUSE mounts of single shares
// (the user's, another user's, root's), smbnetfs's network tree and a line cut
// short. The running user is 1000.
const char kMountInfo[] =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw,errors=remount-ro\n"
    "25 22 0:22 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw\n"
    "101 22 0:45 / /mnt/cad rw,relatime shared:60 - cifs //srv1/cad rw,vers=3.1.1,cache=strict,username=admin,"
    "uid=1000,forceuid,gid=1000,forcegid,addr=192.168.10.5,file_mode=0755,dir_mode=0755,soft,nounix,serverino,"
    "mapposix,rsize=4194304,wsize=4194304,bsize=1048576,echo_interval=60,actimeo=1,closetimeo=1\n"
    "102 22 0:46 / /media/Office\\040Share rw,relatime shared:61 - smb3 //SRV2/Office\\040Data/ rw,vers=3.0,"
    "addr=192.168.10.6\n"
    "103 22 0:45 /Prj /srv/prj-only rw,relatime shared:60 - cifs //srv1/cad rw,vers=3.1.1,addr=192.168.10.5\n"
    "104 22 0:47 / /mnt/sub rw,relatime - cifs //srv3/data/sub rw,addr=192.168.10.8\n"
    "105 22 0:48 / /mnt/ip rw,relatime - cifs //192.168.10.7/cad rw,addr=192.168.10.7\n"
    "106 22 0:49 / /run/user/1000/gvfs rw,nosuid,nodev,relatime shared:300 - fuse.gvfsd-fuse gvfsd-fuse "
    "rw,user_id=1000,group_id=1000\n"
    "107 22 0:50 / /mnt/nfs rw - nfs4 srv1:/export rw\n"
    "108 22 0:51 / /mnt/B\xC3\xBCro rw,relatime - cifs //srv4/B\xC3\xBCro rw\n"
    "110 22 0:53 / /home/anna/srv5\\040cad rw,nosuid,nodev - fuse.smbfs //srv5/cad rw,user_id=1000,group_id=1000\n"
    "111 22 0:54 / /home/eve/srv1 rw,nosuid,nodev - fuse.smbfs //srv1/cad rw,user_id=1001,group_id=1001,"
    "allow_other\n"
    "112 22 0:55 / /srv/srv7 rw,nosuid,nodev - fuse //srv7/cad rw,user_id=0,group_id=0,allow_other,addr=10.0.0.7\n"
    "113 22 0:56 / /home/anna/smb rw,nosuid,nodev - fuse.smbnetfs smbnetfs rw,user_id=1000,group_id=1000\n"
    "114 22 0:57 / /home/anna/other rw,nosuid,nodev - fuse.sshfs //srv8/cad rw\n"
    "109 22 0:52 / /mnt/cut rw\n";

TEST(ShareMountsTest, MountInfoGivesWholeShareMountsOnly) {
  const std::vector<ShareMount> mounts = ParseMountInfo(kMountInfo, 1000);
  ASSERT_EQ(mounts.size(), 6u);
  EXPECT_EQ(mounts[0].host, "srv1");
  EXPECT_EQ(mounts[0].share, "cad");
  EXPECT_EQ(mounts[0].mount_point, "/mnt/cad");
  EXPECT_EQ(mounts[0].address, "192.168.10.5");
  EXPECT_EQ(mounts[0].kind, MountKind::kCifs);
  // smb3 type, escaped blanks in the mount point and the source, a trailing slash.
  EXPECT_EQ(mounts[1].host, "SRV2");
  EXPECT_EQ(mounts[1].share, "Office Data");
  EXPECT_EQ(mounts[1].mount_point, "/media/Office Share");
  // The bind mount of \Prj and the mount of a folder inside a share are no share.
  EXPECT_EQ(mounts[2].host, "192.168.10.7");
  EXPECT_EQ(mounts[2].mount_point, "/mnt/ip");
  EXPECT_EQ(mounts[3].share, "B\xC3\xBCro");
  EXPECT_EQ(mounts[3].address, "");
  // FUSE mounts of a share by this user or by root; another user's (who may
  // name any share), one naming no mounter and a network tree are left out.
  EXPECT_EQ(mounts[4].host, "srv5");
  EXPECT_EQ(mounts[4].mount_point, "/home/anna/srv5 cad");
  EXPECT_EQ(mounts[4].kind, MountKind::kFuse);
  EXPECT_EQ(mounts[5].host, "srv7");
  EXPECT_EQ(mounts[5].mount_point, "/srv/srv7");
  EXPECT_EQ(mounts[5].address, "");  // a FUSE file system's options are its own
  EXPECT_EQ(mounts[5].kind, MountKind::kFuse);
  // The same table read by user 1001 has its FUSE mount instead of the others.
  const std::vector<ShareMount> eves = ParseMountInfo(kMountInfo, 1001);
  ASSERT_EQ(eves.size(), 6u);
  EXPECT_EQ(eves[4].mount_point, "/home/eve/srv1");
  EXPECT_EQ(eves[5].host, "srv7");
}

TEST(ShareMountsTest, GvfsNamesGiveShareMountsWithKeysInAnyOrder) {
  const std::vector<ShareMount> mounts =
      GvfsShareMounts("/run/user/1000/gvfs", {"smb-share:domain=OFFICE,server=srv1,share=cad,user=admin",
                                              "smb-share:server=nas.local,share=my%20docs",
                                              "sftp:host=srv1,user=admin", "smb-server:server=srv1",
                                              "smb-share:server=srv4", "smb-share:share=cad,server=SRV5"});
  ASSERT_EQ(mounts.size(), 3u);
  EXPECT_EQ(mounts[0].host, "srv1");
  EXPECT_EQ(mounts[0].share, "cad");
  EXPECT_EQ(mounts[0].mount_point, "/run/user/1000/gvfs/smb-share:domain=OFFICE,server=srv1,share=cad,user=admin");
  EXPECT_EQ(mounts[0].kind, MountKind::kGvfs);
  EXPECT_EQ(mounts[1].host, "nas.local");
  EXPECT_EQ(mounts[1].share, "my docs");
  EXPECT_EQ(mounts[2].host, "SRV5");
  EXPECT_EQ(mounts[2].share, "cad");
}

TEST(ShareMountsTest, SharesAreFoundWithoutRegardToCaseOrByTheAddressAMountNames) {
  const std::vector<ShareMount> mounts = ParseMountInfo(kMountInfo, 1000);
  const ShareMount* m = FindShareMount(mounts, "SRV1", "CAD");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->mount_point, "/mnt/cad");
  m = FindShareMount(mounts, "srv2", "office data");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->mount_point, "/media/Office Share");
  // Windows-1252 names as the installation keeps them, against UTF-8 on the mount.
  m = FindShareMount(mounts, "SRV4", "B\xDCRO");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->mount_point, "/mnt/B\xC3\xBCro");
  // \\192.168.10.5\cad is srv1's share; the address alone matches no other share.
  m = FindShareMount(mounts, "192.168.10.5", "cad");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->mount_point, "/mnt/cad");
  EXPECT_EQ(FindShareMount(mounts, "192.168.10.5", "other"), nullptr);
  EXPECT_EQ(FindShareMount(mounts, "SRV3", "data"), nullptr);  // only a folder of it is mounted
  EXPECT_EQ(FindShareMount(mounts, "SRV1", "ca"), nullptr);
  EXPECT_TRUE(AnyMountByAddress(mounts));
  EXPECT_FALSE(AnyMountByAddress(GvfsShareMounts("/g", {"smb-share:server=srv1,share=cad"})));
}

TEST(ShareMountsTest, MountCommandsAreReadyForAShell) {
  const std::string plain = MountCommandsFor("SRV1", "cad", "/net");
  EXPECT_EQ(plain,
            "sudo mkdir -p /net/SRV1/cad && sudo mount -t cifs //SRV1/cad /net/SRV1/cad"
            " -o username=$USER,uid=$(id -u),gid=$(id -g)\n"
            "gio mount smb://SRV1/cad");
  // A blank and a Windows-1252 letter: quoted for the shell, escaped in the address.
  const std::string odd = MountCommandsFor("SRV1", "B\xFCro Daten", "/net");
  EXPECT_NE(odd.find("'/net/SRV1/B\xC3\xBCro Daten'"), std::string::npos) << odd;
  EXPECT_NE(odd.find("'//SRV1/B\xC3\xBCro Daten'"), std::string::npos) << odd;
  EXPECT_NE(odd.find("gio mount smb://SRV1/B%C3%BCro%20Daten"), std::string::npos) << odd;
}

}  // namespace
}  // namespace dovrane::platform
