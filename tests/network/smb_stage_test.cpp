// Against real SMB servers, started by tests/network/smb_stage.sh (the CTest
// test smb_stage); skipped when run without them.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>

#include "extlib/project_data.h"
#include "network/host_registration.h"
#include "network/network_browse.h"
#include "network/smb_enumerator.h"
#include "platform/env.h"
#include "support/recording_messenger.h"
#include "support/small_installation.h"

namespace dovrane::network {
namespace {

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

class SmbStageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Env* env = platform::CurrentEnv();
    servers_ = Words(env->GetEnv("DOVRANE_SMB_STAGE"));
    shares_ = Words(env->GetEnv("DOVRANE_SMB_SHARES"));
    if (servers_.empty()) GTEST_SKIP() << "no SMB servers: run the CTest test smb_stage";
    options_.cache_dir = cache_.path() + "/smb";
    user_ = options_;
    user_.user = env->GetEnv("DOVRANE_SMB_USER");
    user_.password = env->GetEnv("DOVRANE_SMB_PASSWORD");
  }
  static std::vector<std::string> Names(const NetListing& l) {
    std::vector<std::string> names;
    for (const NetEntry& e : l.entries) names.push_back(e.name);
    return names;
  }
  std::vector<std::string> servers_, shares_;
  testing::TempDir cache_;
  SmbOptions options_, user_;
};

TEST_F(SmbStageTest, SharesOfEveryServerAreListedQuickly) {
  SmbEnumerator guest(options_);
  for (const std::string& s : servers_) ASSERT_TRUE(guest.Shares(s).ok()) << s;  // connected once
  const auto start = std::chrono::steady_clock::now();
  for (const std::string& s : servers_) {
    NetListing l = guest.Shares(s);
    ASSERT_TRUE(l.ok()) << s << ": " << NetErrorText(l.error);
    EXPECT_EQ(Names(l), (std::vector<std::string>{"cad", "priv"})) << s;  // no IPC$
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  // Each call sets up a client of its own; the 100 ms hold for a connected one.
  EXPECT_LT(ms.count(), 1500);
}

TEST_F(SmbStageTest, FoldersOfGuestAndUserSharesAndTheirRefusals) {
  ASSERT_GE(shares_.size(), 1u);
  std::filesystem::create_directories(shares_[0] + "/Daten/Prj");
  std::filesystem::create_directories(shares_[0] + "/Daten/.versteckt");
  testing::WriteFile(shares_[0] + "/Daten/liesmich.txt", "x");
  SmbEnumerator guest(options_), user(user_);
  NetListing l = guest.Directories("\\\\" + servers_[0] + "\\cad\\Daten");
  ASSERT_TRUE(l.ok()) << NetErrorText(l.error);
  EXPECT_EQ(Names(l), (std::vector<std::string>{"Prj"}));
  EXPECT_EQ(guest.Directories("\\\\" + servers_[0] + "\\priv").error, NetError::kAccessDenied);
  EXPECT_TRUE(user.Directories("\\\\" + servers_[0] + "\\priv").ok());
  EXPECT_EQ(guest.Directories("\\\\" + servers_[0] + "\\cad\\fehlt").error, NetError::kNotFound);
  // Browsing needs NT1, which these servers refuse.
  EXPECT_FALSE(guest.Workgroups().ok());
}

TEST_F(SmbStageTest, AHostFoundByAddressIsRegisteredAndRemoved) {
  ASSERT_GE(shares_.size(), 2u);
  testing::SmallInstallation inst;
  testing::RecordingMessenger messages;
  const std::string host = servers_[1];
  // The UNC root's folder for the host is its share (here a link; an administrator mounts it).
  std::filesystem::create_directories(inst.dir.path() + "/" + host);
  std::filesystem::create_directory_symlink(shares_[1], inst.dir.path() + "/" + host + "/cad");
  std::filesystem::create_directories(shares_[1] + "/Prj/Halle.prj");
  ASSERT_EQ(extlib::CreateProjectData(shares_[1] + "/Prj/Halle.prj"), 0);
  SmbEnumerator guest(options_);
  std::vector<std::string> hosts;
  ASSERT_EQ(AddHostIfReachable(guest, host, &hosts, nullptr), 1);
  EXPECT_EQ(Names(guest.Directories("\\\\" + host + "\\cad\\Prj")), (std::vector<std::string>{"Halle.prj"}));
  ASSERT_EQ(RegisterHostInDataCfg("\\\\" + host + "\\cad"), 1);
  extlib::OperationContext quiet;
  ASSERT_EQ(AddHostToAdministration(quiet, "\\cad", "\\\\" + host), 1);
  EXPECT_NE(inst.Admin().find(HostMarker(host)), std::string::npos);
  ASSERT_EQ(UnregisterHostInDataCfg(host), 1);
  ASSERT_EQ(RemoveHostFromAdministration(host), 1);
  EXPECT_EQ(inst.Admin().find(HostMarker(host)), std::string::npos);
  EXPECT_EQ(inst.dir.Read("SRV1/cad/Net/data.cfg"), "SRV1 \\cad\nSRV2 \\cad\n");
  std::filesystem::remove_all(shares_[1] + "/Prj");
}

}  // namespace
}  // namespace dovrane::network
