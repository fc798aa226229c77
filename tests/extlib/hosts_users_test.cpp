#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "extlib/installation/hosts.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/users.h"
#include "platform/file_util.h"
#include "platform/ping.h"
#include "support/small_installation.h"

namespace dovrane::extlib {
namespace {

using testing::SmallInstallation;

TEST(HostListTest, LinesWithBlankOrTabAndBadLines) {
  std::vector<HostEntry> hosts;
  int bad = 0;
  ASSERT_EQ(ParseHostList("SRV1 \\Daten\\Cad\r\nLAPTOP\t\\Pelo mar\\\n\nBARE\n", &hosts, &bad), 0);
  ASSERT_EQ(hosts.size(), 3u);
  EXPECT_EQ(hosts[1].data_path, "\\Pelo mar");
  EXPECT_EQ(hosts[2].data_path, "");
  EXPECT_EQ(FormatHostList(hosts), "SRV1 \\Daten\\Cad\nLAPTOP \\Pelo mar\nBARE\n");
  // An unusable line is left out; the hosts around it stay (one bad line must not hide every host).
  for (const char* text : {"S/1 \\x\n", "SRV1 \\a\\..\\b\n", "SRV1 relative\n", "ABCDEFGHIJKLMNOPQ \\x\n",
                           "LAPTOP3 D:\\cad\n"}) {
    EXPECT_EQ(ParseHostList(std::string("OK \\x\n") + text + "LAST \\y\n", &hosts, &bad), 0) << text;
    EXPECT_EQ(bad, 2) << text;
    ASSERT_EQ(hosts.size(), 2u) << text;
    EXPECT_EQ(hosts[1].name, "LAST") << text;
  }
  EXPECT_EQ(ParseHostList("OK \\x\n", &hosts, &bad), 0);
  EXPECT_EQ(bad, 0);
}

TEST(HostListTest, PathsOfAnInstallation) {
  SmallInstallation inst;
  char* list = nullptr;
  int count = 0;
  ASSERT_EQ(get_host_list(DefaultContext(), &list, &count, 17), 0);
  ASSERT_EQ(count, 2);
  EXPECT_STREQ(list + 17, "SRV2");
  std::free(list);
  std::string data, path;
  EXPECT_EQ(get_data_path(DefaultContext(), "srv2", &data), 0);  // host names compare without case
  EXPECT_EQ(get_data_path(DefaultContext(), "SRV3", &data), -19);
  ASSERT_EQ(lfBuildNetPath("SRV2", data, &path), 0);
  EXPECT_EQ(path, "\\\\SRV2\\cad\\Prj");
  EXPECT_EQ(lzcheck_path(DefaultContext(), path), 1);
  EXPECT_EQ(lzcheck_path(DefaultContext(), path + "\\n0000001.prj"), -2);
  EXPECT_EQ(lzcheck_path(DefaultContext(), "\\\\SRV9\\cad\\Prj"), -1);
  inst.dir.Write("SRV1/cad/Net/SRV2.out", "checked out\r\n");
  EXPECT_EQ(IsHostCheckedOut(DefaultContext(), "SRV2"), 1);
  EXPECT_EQ(IsHostCheckedOut(DefaultContext(), "SRV1"), 0);
}

TEST(HostListTest, RowsAreTheLibrarysListAndLocalhostAlone) {
  for (bool network : {true, false}) {
    SmallInstallation inst(1, network);
    EXPECT_EQ(lfnetg(DefaultContext()), network ? 1 : 0);
    std::vector<HostEntry> hosts;
    ASSERT_EQ(GetHostList(DefaultContext(), &hosts), 0);
    const std::vector<std::string> names = network ? std::vector<std::string>{"SRV1", "SRV2"}
                                                   : std::vector<std::string>{"localhost"};
    char* list = nullptr;
    int count = 0;
    ASSERT_EQ(get_host_list(DefaultContext(), &list, &count, 17), 0);
    ASSERT_EQ(hosts.size(), names.size());
    ASSERT_EQ(count, static_cast<int>(names.size()));
    for (size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(hosts[i].name, names[i]);
      EXPECT_EQ(list + i * 17, names[i]);
    }
    std::free(list);
  }
}

TEST(HostListTest, EachInstallationReadsItsOwnList) {
  SmallInstallation inst;  // the current installation: SRV1 and SRV2
  Installation other;
  other.SetSlot(kSlotNet, "\\\\SRV2\\cad");  // no data.cfg there
  std::vector<HostEntry> own, others;
  ASSERT_EQ(GetHostList(DefaultContext(), &own), 0);
  OperationContext other_ctx(other);
  ASSERT_EQ(GetHostList(other_ctx, &others), 0);
  ASSERT_EQ(own.size(), 2u);
  ASSERT_EQ(others.size(), 1u);
  EXPECT_EQ(others[0].name, "localhost");
  EXPECT_EQ(GetHostList(DefaultContext(), &own), 0);  // the other's reading left this one's list alone
  EXPECT_EQ(own.size(), 2u);
}

// A line that cannot be used hides only itself; a list that cannot be read
// at all gives no rows, not the ones of an earlier reading.
TEST(HostListTest, AnUnusableLineIsLeftOutAnUnreadableListGivesNoRows) {
  SmallInstallation inst;
  inst.dir.Write("SRV1/cad/Net/data.cfg", "SRV1 \\cad\nS/2 \\cad\nSRV3 \\cad\n");
  std::vector<HostEntry> hosts = {{"OLD", ""}};
  EXPECT_EQ(GetHostList(DefaultContext(), &hosts), 0);
  ASSERT_EQ(hosts.size(), 2u);
  EXPECT_EQ(hosts[1].name, "SRV3");
  inst.dir.Write("SRV1/cad/Net/data.cfg", std::string(2 * 1024 * 1024, 'x'));  // beyond any host list
  EXPECT_EQ(GetHostList(DefaultContext(), &hosts), -1);
  EXPECT_TRUE(hosts.empty());
}

TEST(PingTest, UnknownNameAndLocalHost) {
  EXPECT_EQ(platform::PingHost("no-such-host.invalid", 200), platform::kPingHostNotFound);
  // The loopback answers: by ICMP, or a refused TCP connection.
  EXPECT_EQ(platform::PingHost("127.0.0.1", 500), 0);
}

TEST(UserTableTest, ParsesAndRefusesBadLines) {
  UserTable t;
  int bad = 0;
  ASSERT_EQ(ParseUserTable("# x\r\ncontainers 3\r\n1\tADMIN\tadmin\r\n40\tM\xFCller\tuser\r\n", &t, &bad), 0);
  EXPECT_EQ(t.containers, 3);
  ASSERT_EQ(t.users.size(), 2u);
  EXPECT_TRUE(t.users[0].administrator);
  EXPECT_EQ(t.users[1].index, 40u);
  for (const char* text : {"containers 0\n", "containers 32\n", "0\tX\tuser\n", "x\tX\tuser\n", "5\t\tuser\n"})
    EXPECT_EQ(ParseUserTable(text, &t, &bad), -1) << text;
}

TEST(UserTableTest, ContainersAndOwnerRights) {
  SmallInstallation inst(2);
  EXPECT_EQ(lzuGetCountOfUserContainers(), 2);
  ASSERT_EQ(lzuSetCountOfUserContainers(DefaultContext(), 3), 0);
  EXPECT_EQ(lzuGetCountOfUserContainers(), 3);
  EXPECT_EQ(lzuSetCountOfUserContainers(DefaultContext(), 32), -1);
  std::string name;
  ASSERT_EQ(lzugnaC(3, &name), 0);
  EXPECT_EQ(name, "SCHMIDT");
  UserInfo me;
  lzuinfC(&me);  // the test user is MUELLER, no administrator
  EXPECT_EQ(me.index, 2u);
  EXPECT_FALSE(me.may_administer);
  PRJ owned = SmallInstallation::Record("A", 1, "SRV1", 2), foreign = SmallInstallation::Record("B", 2, "SRV1", 3);
  EXPECT_EQ(check_PrjOwnerPermision(DefaultContext(), 1, owned), 0);
  EXPECT_EQ(check_PrjOwnerPermision(DefaultContext(), 1, foreign), -14);
  EXPECT_EQ(check_PrjOwnerPermision(DefaultContext(), 0, foreign), -13);
  SetMemberBit(&foreign, 2, true);
  EXPECT_EQ(check_PrjOwnerPermision(DefaultContext(), 0, foreign), 0);
}

}  // namespace
}  // namespace dovrane::extlib

namespace dovrane::extlib {
namespace {

// The table is kept between reads only while the file is the one read: a
// table rewritten in place at a later time, or another file of the same size
// and time put in its place, is read again.
TEST(UserTableTest, AChangedOrReplacedTableIsReadAgain) {
  testing::SmallInstallation inst(2);
  ASSERT_EQ(lzuGetCountOfUserContainers(), 2);
  const std::string file = inst.Native("SRV1/cad/Net/users.dat");
  std::string text;
  ASSERT_EQ(platform::ReadWholeFile(file, &text), 0);
  const size_t at = text.find("containers 2");
  ASSERT_NE(at, std::string::npos);
  struct stat before{};
  ASSERT_EQ(::stat(file.c_str(), &before), 0);
  text[at + 11] = '3';
  {
    std::ofstream in_place(file, std::ios::binary | std::ios::trunc);
    in_place << text;
  }
  const timespec later[2] = {before.st_atim, {before.st_mtim.tv_sec + 2, before.st_mtim.tv_nsec}};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), later, 0), 0);
  EXPECT_EQ(lzuGetCountOfUserContainers(), 3);
  ASSERT_EQ(::stat(file.c_str(), &before), 0);
  text[at + 11] = '4';
  const std::string other = file + ".other";
  {
    std::ofstream replacement(other, std::ios::binary);
    replacement << text;
  }
  const timespec same[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, other.c_str(), same, 0), 0);
  ASSERT_EQ(::rename(other.c_str(), file.c_str()), 0);
  EXPECT_EQ(lzuGetCountOfUserContainers(), 4);
}

TEST(HostListTest, AnAppendedHostIsKnownAtOnce) {
  testing::SmallInstallation inst;
  std::string data;
  EXPECT_EQ(get_data_path(DefaultContext(), "SRV3", &data), -19);
  inst.dir.Write("SRV1/cad/Net/data.cfg", "SRV1 \\cad\nSRV2 \\cad\nSRV3 \\Daten\n");
  ASSERT_EQ(get_data_path(DefaultContext(), "SRV3", &data), 0);
  EXPECT_EQ(data, "\\Daten");
  ::unlink(inst.Native("SRV1/cad/Net/data.cfg").c_str());
  EXPECT_EQ(lfnetg(DefaultContext()), 0);
}

}  // namespace
}  // namespace dovrane::extlib
