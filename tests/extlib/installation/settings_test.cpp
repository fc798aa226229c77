#include "extlib/installation/settings.h"

#include <gtest/gtest.h>

#include "platform/path_map.h"
#include "support/mini_installation.h"

namespace dovrane::extlib {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { inst_.Activate(); }
  testing::MiniInstallation inst_;
};

TEST_F(SettingsTest, ValuesRoundTripThroughTheFiles) {
  ASSERT_TRUE(PutSettingString("HKCU", "Settings\\LastHost", "\\\\SRV2\\d\xFC" "r"));  // Windows-1252 ü
  ASSERT_TRUE(PutSettingNumber("HKCU", "Settings\\PingIsAllowed", 1));
  std::string s;
  long n = 0;
  ASSERT_TRUE(GetSettingString("HKCU", "Settings\\LastHost", &s));
  EXPECT_EQ(s, "\\\\SRV2\\d\xFC" "r");
  ASSERT_TRUE(GetSettingNumber("HKCU", "Settings\\PingIsAllowed", &n));
  EXPECT_EQ(n, 1);
  EXPECT_NE(testing::ReadFile(inst_.user_settings()).find("d\xC3\xBCr"), std::string::npos);  // UTF-8 on disk
  ASSERT_TRUE(DeleteSetting("HKCU", "Settings\\PingIsAllowed"));
  EXPECT_FALSE(GetSettingNumber("HKCU", "Settings\\PingIsAllowed", &n));
  EXPECT_FALSE(DeleteSetting("HKCU", "Settings\\PingIsAllowed"));
}

TEST_F(SettingsTest, NetSetupPathFollowsTheCheckedOutPathWhileItIsSet) {
  std::string net;
  ASSERT_TRUE(GetSetupPath("Net", &net));
  EXPECT_EQ(net, "\\\\SRV1\\cad");
  ASSERT_TRUE(PutSettingString("HKLM", "InstallRoot\\CheckedOutPath", "C:\\Laptop\\cad"));
  ASSERT_TRUE(GetSetupPath("Net", &net));
  EXPECT_EQ(net, "C:\\Laptop\\cad");
  char buf[8];
  EXPECT_EQ(RVSYS_VekRegGetSetupPath("Net", buf, sizeof buf), 0);  // does not fit: no cut path
  ASSERT_TRUE(DeleteSetting("HKLM", "InstallRoot\\CheckedOutPath"));
  ASSERT_TRUE(GetSetupPath("Net", &net));
  EXPECT_EQ(net, "\\\\SRV1\\cad");
}

TEST_F(SettingsTest, ADamagedFileIsNeverOverwritten) {
  const std::string damaged = "[Settings\nPingIsAllowed = = 1\n";
  testing::WriteFile(inst_.user_settings(), damaged);
  long n;
  EXPECT_FALSE(GetSettingNumber("HKCU", "Settings\\PingIsAllowed", &n));
  EXPECT_FALSE(PutSettingNumber("HKCU", "Settings\\PingIsAllowed", 0));
  EXPECT_EQ(testing::ReadFile(inst_.user_settings()), damaged);
}

TEST_F(SettingsTest, ProfileLivesInTheUserFileAndDrivesReachThePathMap) {
  ASSERT_TRUE(WriteProfileString("Settings", "LastCheckoutComment", "on the road"));
  EXPECT_EQ(GetProfileString("Settings", "LastCheckoutComment", "x"), "on the road");
  EXPECT_EQ(GetProfileInt("Settings", "Missing", 7), 7);
  ASSERT_TRUE(PutSettingString("HKLM", "Drives\\P", inst_.root() + "/p-drive"));
  ApplyPlatformSettings(platform::PathMap::Instance());
  EXPECT_EQ(platform::PathMap::Instance().DriveFolder('p'), inst_.root() + "/p-drive");
  platform::PathMap::Instance().SetDriveFolder('P', "");
}

}  // namespace
}  // namespace dovrane::extlib
