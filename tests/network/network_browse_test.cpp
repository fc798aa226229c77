#include "network/network_browse.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "extlib/installation/operation_context.h"
#include "network/deadline_call.h"
#include "network/smb_enumerator.h"
#include "network/unc_root_enumerator.h"
#include "platform/path_map.h"
#include "platform/threads_at_large.h"
#include "support/fake_enumerator.h"
#include "support/scoped_environment.h"
#include "support/small_installation.h"
#include "support/temp_dir.h"

namespace dovrane::network {
namespace {

using testing::FakeEnumerator;

int64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count();
}

TEST(NetworkBrowseTest, TheUsersDomainIsSelectedAndItsComputersListed) {
  testing::ScopedEnvironment env;
  for (auto [domain, index] : {std::pair{"buero", 1}, std::pair{"ELSEWHERE", 0}}) {
    env.Set({{"DOVRANE_DOMAIN", domain}});
    FakeEnumerator net;
    net.Set("", {NetError::kNone, {{"LAGER", ""}, {"BUERO", ""}}});
    net.Set("LAGER", {NetError::kNone, {{"\\\\L1", ""}}});
    net.Set("BUERO", {NetError::kNone, {{"\\\\SRV1", ""}, {"PC7", ""}}});
    std::vector<std::string> hosts, domains;
    int user = -1;
    NetError error = NetError::kFailed;
    const int n = EnumerateWindowsNetwork(net, &hosts, &domains, &user, &error);
    EXPECT_EQ(user, index) << domain;
    EXPECT_EQ(domains, (std::vector<std::string>{"LAGER", "BUERO"}));
    EXPECT_EQ(n, static_cast<int>(hosts.size()));
    const std::vector<std::string> want = index ? std::vector<std::string>{"SRV1", "PC7"} : std::vector<std::string>{"L1"};
    EXPECT_EQ(hosts, want);
    EXPECT_EQ(error, NetError::kNone);
  }
}

TEST(NetworkBrowseTest, AnEmptyBrowseSaysWhy) {
  FakeEnumerator net;
  net.Set("", {NetError::kNoMasterBrowser, {}});
  std::vector<std::string> hosts, domains;
  int user = -1;
  NetError error = NetError::kNone;
  EXPECT_EQ(EnumerateWindowsNetwork(net, &hosts, &domains, &user, &error), 0);
  EXPECT_EQ(error, NetError::kNoMasterBrowser);
  EXPECT_TRUE(domains.empty());
  EXPECT_NE(NetErrorText(error).find("master browser"), std::string::npos);
}

TEST(NetworkBrowseTest, TheJoinedDomainIsTheWorkgroupWhoseListHoldsTheComputer) {
  FakeEnumerator net;
  net.Set("", {NetError::kNone, {{"LAGER", ""}, {"BUERO", ""}}});
  net.Set("LAGER", {NetError::kNone, {{"\\\\L1", ""}}});
  net.Set("BUERO", {NetError::kNone, {{"\\\\SRV1", ""}, {"PC7", ""}}});
  const std::pair<const char*, const char*> cases[] = {{"pc7", "BUERO"}, {"l1", "LAGER"}, {"SRV9", ""}, {"", ""}};
  for (auto [computer, want] : cases) {
    std::string domain = "stale";
    EXPECT_EQ(GetJoinedDomain(net, computer, &domain), *want ? 1 : 0) << computer;
    EXPECT_EQ(domain, want) << computer;
  }
  net.Set("", {NetError::kNoMasterBrowser, {}});
  std::string domain;
  EXPECT_EQ(GetJoinedDomain(net, "PC7", &domain), 0);
}

TEST(NetworkBrowseTest, AddHostIfReachableAsksOnlyForNewValidNames) {
  FakeEnumerator net;
  net.Set("\\\\srv9", {NetError::kNone, {{"cad", ""}}});
  net.Set("\\\\dead", {NetError::kNotReachable, {}});
  std::vector<std::string> hosts = {"SRV1"};
  struct Case {
    const char* name;
    int rc;
    int calls;
    NetError error;
  } cases[] = {{"srv1", 0, 0, NetError::kNone},          {"srv9", 1, 1, NetError::kNone},
               {"dead", -1, 2, NetError::kNotReachable}, {"a\\b", -1, 2, NetError::kNameUnknown},
               {"../x", -1, 2, NetError::kNameUnknown},  {"SRV9", 0, 2, NetError::kNone}};
  for (const Case& c : cases) {
    NetError error = NetError::kFailed;
    EXPECT_EQ(AddHostIfReachable(net, c.name, &hosts, &error), c.rc) << c.name;
    EXPECT_EQ(net.Calls(), c.calls) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
  }
  EXPECT_EQ(hosts, (std::vector<std::string>{"SRV1", "SRV9"}));
}

TEST(NetworkBrowseTest, FallbackOffersDataCfgHostsAndUncRootFolders) {
  testing::SmallInstallation inst;
  inst.dir.Write("laptop/share/.keep", "");
  inst.dir.Write("not a host/x/.keep", "");
  inst.dir.Write("plainfile", "");
  UncRootEnumerator unc(platform::PathMap::Instance());
  EXPECT_EQ(FallbackHosts(extlib::DefaultContext(), unc), (std::vector<std::string>{"SRV1", "SRV2", "LAPTOP"}));
}

TEST(NetworkBrowseTest, UncRootListsFoldersOnlyAndRefusesPathsOutOfIt) {
  testing::SmallInstallation inst;
  inst.dir.Write("SRV1/cad/Daten/.hidden/x", "");
  inst.dir.Write("SRV1/cad/Daten/b/x", "");
  inst.dir.Write("SRV1/cad/Daten/A/x", "");
  inst.dir.Write("SRV1/cad/Daten/file.txt", "");
  UncRootEnumerator unc(platform::PathMap::Instance());
  NetListing l = unc.Directories("\\\\SRV1\\cad\\Daten");
  ASSERT_TRUE(l.ok());
  ASSERT_EQ(l.entries.size(), 2u);
  EXPECT_EQ(l.entries[0].name, "A");
  EXPECT_EQ(l.entries[1].name, "b");
  EXPECT_EQ(unc.Shares("SRV1").entries.size(), 1u);
  for (const char* bad : {"\\\\SRV1\\cad\\..\\..", "\\\\SRV1\\.\\cad", "\\SRV1\\cad", "\\\\SRV1\\c/d"})
    EXPECT_EQ(unc.Directories(bad).error, NetError::kNotFound) << bad;
  EXPECT_EQ(unc.Shares("NOSUCH").error, NetError::kNameUnknown);
}

// Shares the system mounted elsewhere (a CIFS mount, the desktop's GVfs) are
// offered beside the UNC root's, and their folders are listed.
TEST(NetworkBrowseTest, MountedSharesAreOfferedBesideTheUncRoot) {
  testing::SmallInstallation inst;
  testing::TempDir mounts;
  mounts.Write("mnt/daten/Prj/.keep", "");
  mounts.Write("gvfs/smb-share:server=ws3,share=cad/Usr/.keep", "");
  mounts.Write("mountinfo", "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                            "40 22 0:45 / " + mounts / "mnt/daten" + " rw - cifs //srv5/daten rw,addr=10.0.0.5\n");
  testing::ScopedEnvironment env;
  env.Set({{"DOVRANE_MOUNTINFO", mounts / "mountinfo"}, {"DOVRANE_GVFS_DIR", mounts / "gvfs"}});
  // The process's map keeps a mount table it read for two seconds: an earlier
  // test of this process may have had it read the system's.
  platform::PathMap::Instance().UseSystemShareMounts();
  UncRootEnumerator unc(platform::PathMap::Instance());
  std::vector<std::string> computers;
  for (const NetEntry& e : unc.Computers("").entries) computers.push_back(e.name);
  EXPECT_EQ(computers, (std::vector<std::string>{"SRV1", "SRV2", "SRV5", "WS3"}));
  const NetListing shares = unc.Shares("SRV5");
  ASSERT_EQ(shares.entries.size(), 1u);
  EXPECT_EQ(shares.entries[0].name, "daten");
  const NetListing folders = unc.Directories("\\\\SRV5\\daten");
  ASSERT_TRUE(folders.ok());
  ASSERT_EQ(folders.entries.size(), 1u);
  EXPECT_EQ(folders.entries[0].name, "Prj");
  EXPECT_EQ(unc.Shares("WS3").entries.size(), 1u);
}

TEST(DeadlineCallTest, ACallerNeverWaitsLongerThanTheDeadline) {
  auto gate = std::make_shared<std::atomic<bool>>(false);
  const auto start = std::chrono::steady_clock::now();
  std::optional<int> late = RunWithDeadline<int>(
      [gate] {
        while (!gate->load()) std::this_thread::yield();
        return 1;
      },
      50);
  EXPECT_FALSE(late.has_value());
  EXPECT_LT(ElapsedMs(start), 1000);
  // Abandoned, it counts as a thread at large: the process ends without
  // destroying the statics it may still use.
  EXPECT_GE(platform::ThreadsAtLarge(), 1);
  gate->store(true);  // the abandoned helper ends on its own
  EXPECT_EQ(RunWithDeadline<int>([] { return 7; }, 5000).value_or(0), 7);
  for (int i = 0; i < 2000 && (RunningDeadlineHelpers() > 0 || platform::ThreadsAtLarge() > 0); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(RunningDeadlineHelpers(), 0);
  EXPECT_EQ(platform::ThreadsAtLarge(), 0);
}

TEST(SmbEnumeratorTest, AComputerWithoutSmbCostsNoMoreThanTheProbe) {
  testing::TempDir cache;
  SmbOptions options;
  options.cache_dir = cache.path() + "/smb";
  options.deadline_ms = 2000;
  options.probe_ms = 300;
  SmbEnumerator smb(options);
  // Nothing listens on this loopback address (refused), and a documentation
  // address that nobody routes (silent or unreachable).
  for (const char* host : {"127.0.0.213", "192.0.2.1"}) {
    const auto start = std::chrono::steady_clock::now();
    NetListing l = smb.Shares(host);
    EXPECT_EQ(l.error, NetError::kNotReachable) << host;
    EXPECT_LT(ElapsedMs(start), 1000) << host;
  }
  EXPECT_EQ(smb.Shares("a/b").error, NetError::kNameUnknown);
}

TEST(NetErrorTest, ErrnoValuesMapToTheMessages) {
  struct Case {
    int error;
    bool browse;
    NetError want;
  } cases[] = {{-EACCES, false, NetError::kAccessDenied}, {ENOENT, true, NetError::kNoMasterBrowser},
               {ENOENT, false, NetError::kNotFound},      {ETIMEDOUT, false, NetError::kNotReachable},
               {ECONNRESET, true, NetError::kSmb1Refused}, {EINVAL, false, NetError::kNameUnknown},
               {0, false, NetError::kNone},               {EIO, false, NetError::kFailed}};
  for (const Case& c : cases) {
    EXPECT_EQ(NetErrorFromErrno(c.error, c.browse), c.want) << c.error;
    EXPECT_EQ(NetErrorText(c.want).empty(), c.want == NetError::kNone);
  }
}

}  // namespace
}  // namespace dovrane::network
