#include "ui/refresh_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include "extlib/installation/operation_context.h"
#include "support/temp_dir.h"

namespace dovrane::ui {
namespace {

class RefreshCheckTest : public ::testing::Test {
 protected:
  // Gives project.dat a modification time of its own.
  void StampAdministration(long seconds) {
    testing::WriteFile(net_ + "/project.dat", "records");
    struct timeval times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimes((net_ + "/project.dat").c_str(), times), 0);
  }
  RefreshProbe Probe() { return ProbeRefresh(extlib::DefaultContext(), request_); }

  testing::TempDir dir_;
  std::string net_ = dir_ / "Net";
  RefreshRequest request_{net_, "SRV1", {}, {}, {}, 0};
  RefreshCheckState state_;
};

TEST_F(RefreshCheckTest, FirstTimeStampOnlyRecordsThenOutsideChangesRefill) {
  StampAdministration(1000);
  EXPECT_FALSE(state_.AdministrationChanged(Probe(), 1));  // nothing remembered yet
  EXPECT_FALSE(state_.AdministrationChanged(Probe(), 1));  // unchanged
  StampAdministration(2000);
  EXPECT_TRUE(state_.AdministrationChanged(Probe(), 1));
  EXPECT_FALSE(state_.AdministrationChanged(Probe(), 1));  // remembered now
}

TEST_F(RefreshCheckTest, OwnWritesOnlyMoveTheTimeStamp) {
  StampAdministration(1000);
  state_.RecordTimeStamp(Probe());
  StampAdministration(2000);
  EXPECT_FALSE(state_.AdministrationChanged(Probe(), 0));  // the outside-change flag was cleared
  EXPECT_FALSE(state_.AdministrationChanged(Probe(), 1));  // and the new time is remembered
}

TEST_F(RefreshCheckTest, MissingAdministrationCountsAsUnchanged) {
  EXPECT_FALSE(state_.AdministrationChanged(Probe(), 1));
  StampAdministration(1000);
  EXPECT_FALSE(state_.AdministrationChanged(Probe(), 1));  // its first time only records
}

TEST_F(RefreshCheckTest, OneShotRequestAnswersOnce) {
  StampAdministration(1000);
  state_.RecordTimeStamp(Probe());
  state_.RequestRefill();
  EXPECT_EQ(state_.Decide(request_, Probe(), 0, 1, true), RefreshAction::kRefill);
  EXPECT_EQ(state_.Decide(request_, Probe(), 0, 1, true), RefreshAction::kNone);
}

TEST_F(RefreshCheckTest, ForcedCheckRefillsWithoutChange) {
  StampAdministration(1000);
  state_.RecordTimeStamp(Probe());
  EXPECT_EQ(state_.Decide(request_, Probe(), 1, 1, true), RefreshAction::kRefill);
  EXPECT_EQ(state_.Decide(request_, Probe(), 0, 1, true), RefreshAction::kNone);
}

TEST_F(RefreshCheckTest, HostCheckOutFilesAgainstHostKinds) {
  struct Case {
    uint32_t kind;
    bool file;
    bool disagree;
  };
  const Case cases[] = {
      {0x10000, false, false},                       {0x10000, true, true},
      {kKindHostCheckedOut, true, false},            {kKindHostCheckedOut, false, true},
      {kKindAdminHostCheckedOut, true, false},       {kKindAdminHostCheckedOut, false, false},
      {kKindHostNoAnswer, false, false},  {kKindHostNoAnswer, true, false},
  };
  for (const Case& c : cases) {
    testing::TempDir dir;
    RefreshRequest request{dir / "Net", "", {{"SRV2", c.kind}}, {}, {}, 0};
    testing::WriteFile(dir / "Net/project.dat", "");
    if (c.file) testing::WriteFile(dir / "Net/SRV2.out", "");
    EXPECT_EQ(HostItemsDisagree(request, ProbeRefresh(extlib::DefaultContext(), request)), c.disagree)
        << std::hex << c.kind << " " << c.file;
  }
}

TEST_F(RefreshCheckTest, HostFileAppearingBeepsAndRefills) {
  StampAdministration(1000);
  request_.hosts = {{"SRV1", 0x10000}, {"SRV2", 0x10000}};
  EXPECT_EQ(state_.Decide(request_, Probe(), 0, 1, true), RefreshAction::kNone);
  testing::WriteFile(net_ + "/SRV2.out", "checked out");
  EXPECT_EQ(state_.Decide(request_, Probe(), 0, 1, true), RefreshAction::kRefillAfterBeep);
  // Items of a fill that has since been replaced are not judged.
  EXPECT_EQ(state_.Decide(request_, Probe(), 0, 1, false), RefreshAction::kNone);
}

TEST_F(RefreshCheckTest, HostNamesCannotLeaveTheNetFolder) {
  testing::WriteFile(dir_ / "escape.out", "");
  request_.hosts = {{"../escape", 0x10000}};
  EXPECT_FALSE(HostItemsDisagree(request_, Probe()));
}

TEST_F(RefreshCheckTest, ProjectItemsOfKindZeroOr273NeverTrigger) {
  request_.project_kind = [](const std::string& text, const std::string& data_path) {
    return text == "A" && data_path == "SRV1" ? 17u : 1u;
  };
  const std::pair<uint32_t, bool> cases[] = {{0, false}, {kKindProjectUnreachable, false}, {17, false}, {1, true}};
  for (const auto& [kind, disagree] : cases) {
    request_.projects = {{"A", kind}};
    EXPECT_EQ(ProjectItemsDisagree(request_, Probe()), disagree) << kind;
  }
}

}  // namespace
}  // namespace dovrane::ui
