#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "extlib/installation/operation_context.h"
#include "extlib/records/administration.h"
#include "extlib/records/record_layout.h"
#include "platform/fault_injection_env.h"
#include "support/small_installation.h"

namespace dovrane::extlib {
namespace {

using testing::SmallInstallation;

// Fifty records: SRV1 owns the odd slots 1..9 and slot 50, SRV2 the rest.
// Slot 50 lies more than kJoinedGapBytes after slot 9.
class RecordRangeLocksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<PRJ> records;
    for (uint32_t n = 1; n <= 50; ++n)
      records.push_back(SmallInstallation::Record("P" + std::to_string(n), n, (n <= 9 && n % 2) || n == 50 ? "SRV1" : "SRV2"));
    inst_.WriteAdministration(records, 50);
    handle_ = open_prj_info(DefaultContext(), kSlotNet, kOpenExisting);
    ASSERT_GE(handle_, 0);
    SetRecordLockTimeoutMs(100);
  }
  void TearDown() override { SetRecordLockTimeoutMs(10000); }

  // The line of a slot as the file holds it.
  std::string Line(long slot) const {
    const size_t bytes = static_cast<size_t>(layout::V3LineLength(1) + 2);
    return inst_.Admin().substr(12 + static_cast<size_t>(slot - 1) * bytes, bytes);
  }
  // What a second workstation gets when it locks the slot.
  int LockElsewhere(long slot) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      close_prj_info_handle(kSlotNet);  // the child opens the file itself
      RecordLock lock;
      ::_exit(-LockRecordAtSlot(DefaultContext(), open_prj_info(DefaultContext(), kSlotNet, kOpenExisting), slot, &lock));
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? -WEXITSTATUS(status) : 99;
  }

  SmallInstallation inst_;
  int handle_ = -1;
};

// A group of records close together is one lock over its range, the records
// between them included, one write that puts those back unchanged, and one
// release. A record too far from the others is left to be locked on its own.
TEST_F(RecordRangeLocksTest, RecordsCloseTogetherAreLockedAndWrittenAsOneGroup) {
  const long slots[] = {1, 3, 5, 7, 9, 50};
  RecordRangeLocks groups;
  std::vector<bool> locked;
  ASSERT_EQ(groups.Take(handle_, slots, 6, &locked), 0);
  EXPECT_EQ(locked, (std::vector<bool>{true, true, true, true, true, false}));
  EXPECT_EQ(LockElsewhere(4), kPrjLockFailed) << "a record between them is the group's too";
  EXPECT_EQ(LockElsewhere(50), 0) << "the far record was left free";

  PRJ changed[5];
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(ReadRecordAtSlot(handle_, slots[i], &changed[i]), 0);
    changed[i].status = static_cast<unsigned char>(changed[i].status | kStatusHostOut);
  }
  const std::string two = Line(2), four = Line(4), eight = Line(8);
  platform::FaultInjectionEnv counting;
  platform::SetCurrentEnv(&counting);
  const int rc = WriteRecordsAtSlots(DefaultContext(), handle_, slots, changed, 5);
  platform::SetCurrentEnv(nullptr);
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(counting.Calls(platform::FaultPoint::kWrite), 1);
  EXPECT_EQ(counting.Calls(platform::FaultPoint::kSync), 1);
  EXPECT_EQ(Line(2), two);
  EXPECT_EQ(Line(4), four);
  EXPECT_EQ(Line(8), eight);
  for (long slot = 1; slot <= 10; ++slot) {
    PRJ r;
    ASSERT_EQ(ReadRecordAtSlot(handle_, slot, &r), 0);
    EXPECT_EQ((r.status & kStatusHostOut) != 0, slot % 2 == 1) << slot;
  }
  EXPECT_EQ(groups.Release(), 0);
  EXPECT_EQ(LockElsewhere(4), 0);
  EXPECT_EQ(LockElsewhere(3), 0);
}

// A group one of whose records another thread holds is not taken, and not
// waited for: its slots are left to be locked one by one. A record this
// thread locked on its own keeps its lock when a group around it is released.
TEST_F(RecordRangeLocksTest, AGroupWithARecordHeldElsewhereIsLeftToSingleLocks) {
  const long slots[] = {1, 3, 5};
  RecordLock elsewhere;
  ASSERT_EQ(LockRecordAtSlot(DefaultContext(), handle_, 4, &elsewhere), 0);
  SetRecordLockTimeoutMs(60000);  // a wait for it would show as a stuck test
  std::vector<bool> locked;
  int taken = -1, single = -1;
  std::thread([&] {
    RecordRangeLocks groups;
    taken = groups.Take(handle_, slots, 3, &locked);
    RecordLock lock;
    single = LockRecordAtSlot(DefaultContext(), handle_, 3, &lock);
  }).join();
  EXPECT_EQ(taken, 0);
  EXPECT_EQ(locked, (std::vector<bool>{false, false, false}));
  EXPECT_EQ(single, 0);
  EXPECT_EQ(elsewhere.Release(), 0);
  SetRecordLockTimeoutMs(100);

  RecordRangeLocks groups;
  RecordLock own;
  ASSERT_EQ(LockRecordAtSlot(DefaultContext(), handle_, 7, &own), 0);
  const long around[] = {6, 8};
  ASSERT_EQ(groups.Take(handle_, around, 2, &locked), 0);
  EXPECT_EQ(locked, (std::vector<bool>{false, false})) << "a group over a lock of this thread's own";
  const long close[] = {1, 3, 5};
  ASSERT_EQ(groups.Take(handle_, close, 3, &locked), 0);
  EXPECT_EQ(locked, (std::vector<bool>{true, true, true}));
  EXPECT_EQ(groups.Release(), 0);
  EXPECT_EQ(LockElsewhere(2), 0);
  EXPECT_EQ(LockElsewhere(7), kPrjLockFailed);
  EXPECT_EQ(own.Release(), 0);
}

}  // namespace
}  // namespace dovrane::extlib
