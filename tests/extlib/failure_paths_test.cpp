// Faults in the middle of writing: nothing half-done stays, every lock is released.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "extlib/installation/hosts.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_lifecycle.h"
#include "extlib/records/administration.h"
#include "extlib/records/project_list.h"
#include "platform/fault_injection_env.h"
#include "support/recording_messenger.h"
#include "support/small_installation.h"

namespace dovrane::extlib {
namespace {

using testing::SmallInstallation;

class FailurePathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    inst_.WriteAdministration({SmallInstallation::Record("Alpha", 5)}, 5);
    inst_.MakeProjectFolder("SRV1", 5);
  }
  void TearDown() override { platform::SetCurrentEnv(nullptr); }
  // 0 when another process can lock record `number` at once.
  int OtherProcessLocks(uint32_t number) {
    pid_t pid = ::fork();
    if (pid == 0) {
      close_prj_info_handle(23);
      SetRecordLockTimeoutMs(50);
      ::_exit(
          lock_prj_info(DefaultContext(), open_prj_info(DefaultContext(), 23, kOpenExisting), number, kLockRecord) == 0
              ? 0
              : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WEXITSTATUS(status);
  }
  SmallInstallation inst_;
  testing::RecordingMessenger messages_;
  platform::FaultInjectionEnv env_;
};

TEST_F(FailurePathsTest, FailedRecordWriteReleasesItsLock) {
  const std::string before = inst_.Admin();
  for (platform::FaultPoint point : {platform::FaultPoint::kWrite, platform::FaultPoint::kSync}) {
    env_.Arm(point, 1, EIO);
    platform::SetCurrentEnv(&env_);
    unsigned char status = kStatusBlank | kStatusProjectOut;
    EXPECT_NE(put_project_status(DefaultContext(), "Alpha", &status), 0);
    EXPECT_EQ(inst_.Admin(), before);
    platform::SetCurrentEnv(nullptr);
    EXPECT_EQ(OtherProcessLocks(5), 0);
  }
  EXPECT_EQ(inst_.Admin(), before);  // the torn line was put back
}

TEST_F(FailurePathsTest, FailedWriteOfSeveralRecordsTakesTheAppendBack) {
  const std::string before = inst_.Admin();
  const PRJ records[] = {SmallInstallation::Record("Alpha2", 5), SmallInstallation::Record("Gamma", 12),
                         SmallInstallation::Record("Delta", 13)};
  for (platform::FaultPoint point : {platform::FaultPoint::kWrite, platform::FaultPoint::kSync}) {
    int h = open_prj_info(DefaultContext(), 23, kOpenExisting);
    ASSERT_GE(h, 0);
    env_.Arm(point, 1, EIO);
    platform::SetCurrentEnv(&env_);
    EXPECT_NE(write_prj_records(DefaultContext(), h, 1, records, 3), 0);  // one slot in place, two appended
    platform::SetCurrentEnv(nullptr);
    EXPECT_EQ(inst_.Admin(), before);
    EXPECT_EQ(OtherProcessLocks(5), 0);
  }
}

TEST_F(FailurePathsTest, FailedCreationLeavesNoFolderAndNoRecord) {
  const std::string before = inst_.Admin();
  for (platform::FaultPoint point : {platform::FaultPoint::kRename, platform::FaultPoint::kWrite}) {
    env_.Arm(point, 1, ENOSPC);
    platform::SetCurrentEnv(&env_);
    uint32_t n = 0;
    EXPECT_EQ(ltbpcrC(DefaultContext(), 23, "Neu", "SRV1", nullptr, 0, 0, 0, 0, nullptr, &n), -1);
    platform::SetCurrentEnv(nullptr);
    EXPECT_FALSE(inst_.dir.Exists("SRV1/cad/Prj/n0000006.prj"));
    EXPECT_EQ(inst_.Admin(), before);
    EXPECT_EQ(OtherProcessLocks(5), 0);
  }
}

TEST_F(FailurePathsTest, FailedRemovalPutsTheFolderBack) {
  env_.Arm(platform::FaultPoint::kWrite, 1, EIO);  // the record write fails after the folder moved
  platform::SetCurrentEnv(&env_);
  uint32_t n = 0;
  EXPECT_EQ(ltbprmC(DefaultContext(), 23, "Alpha", &n), -1);
  platform::SetCurrentEnv(nullptr);
  EXPECT_TRUE(inst_.dir.Exists("SRV1/cad/Prj/n0000005.prj/version.txt"));
  PRJ r;
  EXPECT_EQ(get_project_info(DefaultContext(), "Alpha", &r), 0);
  EXPECT_EQ(OtherProcessLocks(5), 0);
}

TEST_F(FailurePathsTest, CheckoutInformationIsShownForHostsAndProjects) {
  inst_.dir.Write("SRV1/cad/Net/SRV2.out", "host out\r\n");
  inst_.dir.Write("SRV1/cad/Net/n0000005.out", "project out\r\n");
  EXPECT_EQ(DisplayCheckoutInfo(DefaultContext(), "SRV2"), 0);
  EXPECT_EQ(DisplayCheckoutInfo(DefaultContext(), "\\\\SRV1\\cad\\Prj\\n0000005.prj"), 0);
  EXPECT_EQ(DisplayCheckoutInfo(DefaultContext(), "SRV1"), -1);
  ASSERT_EQ(messages_.texts.size(), 2u);
  EXPECT_EQ(messages_.texts[1], "project out\r\n");
}

}  // namespace
}  // namespace dovrane::extlib
