#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <thread>

#include "checkout/checkin.h"
#include "checkout/project_status.h"
#include "checkout_fixture.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/administration.h"
#include "platform/env.h"
#include "platform/fault_injection_env.h"

namespace dovrane::checkout {
namespace {

class StatusPassTest : public CheckoutFixture {
 protected:
  // Swaps the records in the slots of two projects, as another workstation's
  // rebuild could have written them after the pass read its list.
  void SwapRecords(uint32_t a, uint32_t b) {
    const int handle = extlib::open_prj_info(extlib::DefaultContext(), extlib::kSlotNet, extlib::kOpenExisting);
    ASSERT_GE(handle, 0);
    const long slot_a = extlib::FindRecordSlotByNumber(extlib::DefaultContext(), a),
               slot_b = extlib::FindRecordSlotByNumber(extlib::DefaultContext(), b);
    extlib::PRJ ra, rb;
    ASSERT_EQ(extlib::ReadRecordAtSlot(handle, slot_a, &ra), extlib::kRecordRead);
    ASSERT_EQ(extlib::ReadRecordAtSlot(handle, slot_b, &rb), extlib::kRecordRead);
    ASSERT_EQ(extlib::WriteRecordAtSlot(extlib::DefaultContext(), handle, slot_a, &rb), 0);
    ASSERT_EQ(extlib::WriteRecordAtSlot(extlib::DefaultContext(), handle, slot_b, &ra), 0);
  }
};

TEST_F(StatusPassTest, MarksManyProjectsWithOneReadOfTheList) {
  StatusPass pass("WS01");
  for (const CheckoutEntry& e : list_)
    EXPECT_TRUE(pass.Change(extlib::DefaultContext(), e.project, StatusAction::kTakeWithHost)) << e.project;
  for (uint32_t n : numbers_) EXPECT_EQ(Status(n) & kHostCheckedOut, kHostCheckedOut) << n;
  EXPECT_EQ(pass.ListReads(), 1);
  // The second take is refused as one at a time is; what it found is told.
  unsigned char seen = 0;
  EXPECT_FALSE(pass.Change(extlib::DefaultContext(), list_[0].project, StatusAction::kTakeWithHost));
  ASSERT_TRUE(pass.SeenStatus(list_[0].project, &seen));
  EXPECT_EQ(seen & kHostCheckedOut, kHostCheckedOut);
  // A project of another host does not go out with this one.
  extlib::PRJ other;
  uint32_t other_number = 0;
  for (uint32_t n = 1; n <= kProjects && !other_number; ++n)
    if (site_.Record(n, &other) && std::string(other.host) != "WS01") other_number = n;
  ASSERT_NE(other_number, 0u);
  EXPECT_FALSE(pass.Change(extlib::DefaultContext(), other.name, StatusAction::kTakeWithHost));
  EXPECT_EQ(Status(other_number) & kHostCheckedOut, 0u);
  EXPECT_TRUE(pass.Change(extlib::DefaultContext(), "No such project", StatusAction::kTakeWithHost));
}

TEST_F(StatusPassTest, AHintThatNoLongerHoldsIsLookedUpAgain) {
  StatusPass pass("WS01");
  EXPECT_EQ(pass.Number(extlib::DefaultContext(), list_[0].project), static_cast<long>(numbers_[0]));
  // After the list was read, the two records change places in the file.
  SwapRecords(numbers_[0], numbers_[1]);
  EXPECT_TRUE(pass.Change(extlib::DefaultContext(), list_[0].project, StatusAction::kTakeWithHost));
  EXPECT_EQ(Status(numbers_[0]) & kHostCheckedOut, kHostCheckedOut);
  EXPECT_EQ(Status(numbers_[1]) & kHostCheckedOut, 0u) << "the record in the slot the list named was changed";
  EXPECT_TRUE(pass.Change(extlib::DefaultContext(), list_[1].project, StatusAction::kTakeWithHost));
  EXPECT_EQ(Status(numbers_[1]) & kHostCheckedOut, kHostCheckedOut);
  // Read once more after the miss, and not again for the hints after it.
  EXPECT_EQ(pass.ListReads(), 2);
  for (size_t i = 2; i < list_.size(); ++i)
    EXPECT_TRUE(pass.Change(extlib::DefaultContext(), list_[i].project, StatusAction::kReturnFromHost));
  EXPECT_EQ(pass.ListReads(), 2);
}

// The host's records lie among another host's: marked in one pass, they go
// in with one write, and the other host's records between them stay as they
// were. Where another thread holds one of those, the pass does not wait for
// it: it locks the host's own records one by one and still marks them all.
TEST_F(StatusPassTest, ManyMarksAmongAnotherHostsRecordsAreOneWriteAndWaitForNobody) {
  std::vector<std::string> projects;
  for (const CheckoutEntry& e : list_) projects.push_back(e.project);
  std::vector<uint32_t> others;
  for (uint32_t n = 1; n <= kProjects; ++n)
    if (std::find(numbers_.begin(), numbers_.end(), n) == numbers_.end()) others.push_back(n);
  ASSERT_FALSE(others.empty());
  std::vector<extlib::PRJ> others_before(others.size());
  for (size_t i = 0; i < others.size(); ++i) ASSERT_TRUE(site_.Record(others[i], &others_before[i]));
  // Held by another thread than the pass's: the other host's record that
  // lies between the host's first two.
  const long first = extlib::FindRecordSlotByNumber(extlib::DefaultContext(), numbers_[0]);
  const long second = extlib::FindRecordSlotByNumber(extlib::DefaultContext(), numbers_[1]);
  ASSERT_GT(second, first + 1) << "the sample's hosts take turns: " << first;
  const int handle = extlib::open_prj_info(extlib::DefaultContext(), extlib::kSlotNet, extlib::kOpenExisting);
  ASSERT_GE(handle, 0);
  extlib::RecordLock held;
  ASSERT_EQ(extlib::LockRecordAtSlot(extlib::DefaultContext(), handle, first + 1, &held), 0);
  extlib::SetRecordLockTimeoutMs(60000);  // a wait for it would show as a stuck test
  std::vector<bool> done;
  platform::FaultInjectionEnv counting;
  platform::SetCurrentEnv(&counting);
  std::thread([&] {
    StatusPass("WS01").ChangeAll(extlib::DefaultContext(), projects, StatusAction::kTakeWithHost, &done);
  }).join();
  const int one_by_one = counting.Calls(platform::FaultPoint::kWrite);
  platform::SetCurrentEnv(nullptr);
  EXPECT_EQ(done, std::vector<bool>(projects.size(), true));
  EXPECT_GT(one_by_one, 1);
  EXPECT_EQ(held.Release(), 0);

  counting.Reset();
  platform::SetCurrentEnv(&counting);
  StatusPass("WS01").ChangeAll(extlib::DefaultContext(), projects, StatusAction::kReturnFromHost, &done);
  const int grouped = counting.Calls(platform::FaultPoint::kWrite);
  platform::SetCurrentEnv(nullptr);
  extlib::SetRecordLockTimeoutMs(10000);
  EXPECT_EQ(done, std::vector<bool>(projects.size(), true));
  EXPECT_EQ(grouped, 1);
  for (uint32_t n : numbers_) EXPECT_EQ(Status(n) & kHostCheckedOut, 0u) << n;
  for (size_t i = 0; i < others.size(); ++i) {
    extlib::PRJ now;
    ASSERT_TRUE(site_.Record(others[i], &now));
    const extlib::PRJ& was = others_before[i];
    EXPECT_TRUE(std::string(now.name) == was.name && std::string(now.host) == was.host && now.number == was.number &&
                now.status == was.status && now.dbkey == was.dbkey && now.owner == was.owner)
        << others[i];
  }
}

// Counts the opens of the network's project.dat and the bytes read from it.
class AdministrationReadsEnv : public platform::Env {
 public:
  int OpenAt(int dirfd, const std::string& name, int flags, mode_t mode) override {
    const int fd = Env::OpenAt(dirfd, name, flags, mode);
    if (fd >= 0 && name.ends_with("/SRV1/cad/Net/project.dat")) {
      fds_.insert(fd);
      ++opens;
    }
    return fd;
  }
  int64_t Read(int fd, void* buf, size_t n) override { return Count(fd, Env::Read(fd, buf, n)); }
  int64_t PRead(int fd, void* buf, size_t n, int64_t offset) override {
    return Count(fd, Env::PRead(fd, buf, n, offset));
  }
  int Close(int fd) override {
    fds_.erase(fd);
    return Env::Close(fd);
  }
  int opens = 0;
  int64_t bytes = 0;

 private:
  int64_t Count(int fd, int64_t n) {
    if (n > 0 && fds_.count(fd)) bytes += n;
    return n;
  }
  std::set<int> fds_;
};

struct Reads {
  size_t projects = 0;
  int64_t file_size = 0;
  int checkout_opens = 0, checkin_opens = 0;
  int64_t checkout_bytes = 0, checkin_bytes = 0;
};

// A host check-out and check-in of the laptop of an installation of
// `projects` projects on two hosts, counting what they read of project.dat.
Reads CheckOutAndIn(int projects) {
  Reads reads;
  testing::SampleSite site(projects, 2, true);
  site.Activate();
  testing::RecordingMessenger messenger;
  extlib::OperationContext ctx(extlib::ProcessInstallation(), &messenger);
  std::vector<CheckoutEntry> list;
  for (uint32_t n = 1; n <= static_cast<uint32_t>(projects); ++n) {
    extlib::PRJ r;
    if (!site.Record(n, &r) || std::string(r.host) != "WS01") continue;
    char location[64];
    std::snprintf(location, sizeof location, "\\\\WS01\\cad\\Prj\\n%07u.prj", n);
    list.push_back({list.empty() ? "WS01" : "", extlib::TrimmedName(r.name), location});
  }
  reads.projects = list.size();
  reads.file_size = static_cast<int64_t>(std::filesystem::file_size(site.NetDir() + "/project.dat"));
  CheckoutAnswers answers;
  answers.comment = "unterwegs";
  StdSizes sizes;
  EXPECT_TRUE(MeasureOfficeStandard(ctx, "\\\\SRV1\\cad", &sizes));
  answers.components = FillStdItemTable(sizes, ReadStdChoice());
  AdministrationReadsEnv env;
  platform::Env* previous = platform::SetCurrentEnv(&env);
  EXPECT_EQ(CheckOut(ctx, kCheckoutHost, list, answers), 1) << messenger.All();
  reads.checkout_opens = env.opens;
  reads.checkout_bytes = env.bytes;
  env.opens = 0;
  env.bytes = 0;
  EXPECT_EQ(CheckIn(ctx, kCheckinHost, list), 1) << messenger.All();
  reads.checkin_opens = env.opens;
  reads.checkin_bytes = env.bytes;
  platform::SetCurrentEnv(previous);
  extlib::lzende(extlib::DefaultContext());
  return reads;
}

// A host's check-out and check-in read the administration a fixed number of
// times however many projects the host has: four times the projects add no
// whole reads of the file, and the bytes read stay a few files' worth.
TEST(HostCheckoutReads, TheAdministrationIsReadAFixedNumberOfTimesNotOnceAProject) {
  // Every look-up compares the file: a list kept by its own time would hide reads.
  extlib::SetProjectListRevalidateMs(0);
  const Reads few = CheckOutAndIn(12);
  const Reads many = CheckOutAndIn(60);
  ASSERT_GE(many.projects, 4 * few.projects) << few.projects << " " << many.projects;
  EXPECT_EQ(many.checkout_opens, few.checkout_opens);
  EXPECT_EQ(many.checkin_opens, few.checkin_opens);
  // The bytes grow with the file, not with the file times the projects.
  const double growth = static_cast<double>(many.file_size) / static_cast<double>(few.file_size);
  EXPECT_LE(many.checkout_bytes, 2 * growth * static_cast<double>(few.checkout_bytes)) << few.checkout_bytes;
  EXPECT_LE(many.checkin_bytes, 2 * growth * static_cast<double>(few.checkin_bytes)) << few.checkin_bytes;
  // A check-in whose host changed nothing reads all of the file for the
  // backup and for the update, and the release's span before and after its
  // write: about four times the file. Reading it again for the release, the
  // attributes' folders or the report (eight times in all) would cost each a
  // read of all of it over a slow line.
  EXPECT_LE(many.checkin_bytes, 5 * many.file_size) << many.checkin_opens << " opens";
  std::printf("check-out: %d opens, %lld bytes; check-in: %d opens, %lld bytes of project.dat (%lld bytes, %zu projects)\n",
              many.checkout_opens, static_cast<long long>(many.checkout_bytes), many.checkin_opens,
              static_cast<long long>(many.checkin_bytes), static_cast<long long>(many.file_size), many.projects);
}

}  // namespace
}  // namespace dovrane::checkout
