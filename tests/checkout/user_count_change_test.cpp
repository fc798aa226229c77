// A change of the number of users (-usercfg) rewrites the user table and every
// record of the network's administration. A host check-out beside it copies
// the two as one pair, and a host that was out meanwhile is checked in with
// its copy read in the layout the copy was written in.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "admin/user_count.h"
#include "checkout/checkin.h"
#include "checkout/project_status.h"
#include "checkout_fixture.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/users.h"
#include "extlib/records/administration.h"
#include "platform/env.h"
#include "tree/project_rename.h"

namespace dovrane::checkout {
namespace {

using testing::ReadFile;

// The width of the first record line (after the two header lines' first),
// which tells the layout's number of user containers.
size_t FirstRecordWidth(const std::string& administration) {
  const size_t start = administration.find('\n');
  if (start == std::string::npos) return 0;
  const size_t end = administration.find('\r', start + 1);
  return end == std::string::npos ? 0 : end - start - 1;
}

// The containers users.dat names, as the library reads it (slot 23 on net).
int ContainersOf(const std::string& net) {
  const std::string saved = extlib::lfinigC(extlib::DefaultContext(), extlib::kSlotNet);
  extlib::lfinipC(extlib::DefaultContext(), extlib::kSlotNet, net);
  const int containers = extlib::lzuGetCountOfUserContainers();
  extlib::lfinipC(extlib::DefaultContext(), extlib::kSlotNet, saved);
  return containers;
}

// Tells when the check-out starts to wait to hold off a whole-file rewrite
// (a shared lock of one byte, waited for), then lets the wait go on.
class HoldWatchEnv : public platform::Env {
 public:
  int Lock(int fd, int64_t start, int64_t length, platform::LockMode mode, int timeout_ms) override {
    if (mode == platform::LockMode::kShared && length == 1 && timeout_ms > 0) {
      std::lock_guard<std::mutex> guard(mutex_);
      waiting_ = true;
      changed_.notify_all();
    }
    return Env::Lock(fd, start, length, mode, timeout_ms);
  }
  void AwaitHold() {
    std::unique_lock<std::mutex> guard(mutex_);
    changed_.wait(guard, [&] { return waiting_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool waiting_ = false;
};

class UserCountChangeTest : public CheckoutFixture {
 protected:
  // The network's user table and administration as a change to one more
  // container leaves them, and the installation put back as it was.
  void ConvertedFiles(std::string* users, std::string* administration) {
    KeepCopy();
    old_users_ = ReadFile(Unc("SRV1/cad/Net/users.dat"));
    old_admin_ = ReadFile(Unc("SRV1/cad/Net/project.dat"));
    containers_ = extlib::lzuGetCountOfUserContainers();
    ASSERT_EQ(admin::SetMaxUserCount(extlib::DefaultContext(), 32 * (containers_ + 1)), 0) << messenger_.All();
    *users = ReadFile(Unc("SRV1/cad/Net/users.dat"));
    *administration = ReadFile(Unc("SRV1/cad/Net/project.dat"));
    ASSERT_NE(FirstRecordWidth(*administration), FirstRecordWidth(old_admin_));
    Restore();
  }
  std::string old_users_, old_admin_;
  int containers_ = 0;
};

// Half-way through a conversion (the table already names the new count, the
// records are still of the old width, the whole administration locked), a
// check-out that cannot wait for the end copies neither: it refuses and
// takes itself back.
TEST_F(UserCountChangeTest, ACheckOutDuringAConversionThatDoesNotEndRefusesAndTakesItselfBack) {
  std::string new_users, new_admin;
  ASSERT_NO_FATAL_FAILURE(ConvertedFiles(&new_users, &new_admin));
  testing::WriteFile(Unc("SRV1/cad/Net/users.dat"), new_users);
  const auto before = State();
  const int holder = ::open(Unc("SRV1/cad/Net/project.dat").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(platform::CurrentEnv()->Lock(holder, 0, 0, platform::LockMode::kExclusive, 0), 0);
  const int timeout = extlib::RecordLockTimeoutMs();
  extlib::SetRecordLockTimeoutMs(200);
  const int rc = CheckOut(ctx_, kCheckoutHost, list_, answers_);
  extlib::SetRecordLockTimeoutMs(timeout);
  ::close(holder);
  EXPECT_EQ(rc, 0);
  EXPECT_NE(messenger_.All().find("is being converted by another workstation"), std::string::npos)
      << messenger_.All();
  EXPECT_EQ(CheckedOutPath(), "<none>");
  EXPECT_EQ(TakenBackView(State()), TakenBackView(before)) << Difference(TakenBackView(before), TakenBackView(State()));
}

// A check-out that meets a conversion under way waits for it and copies the
// converted pair: the copy's table and records are of one layout.
TEST_F(UserCountChangeTest, ACheckOutDuringAConversionCopiesTheConvertedPair) {
  std::string new_users, new_admin;
  ASSERT_NO_FATAL_FAILURE(ConvertedFiles(&new_users, &new_admin));
  testing::WriteFile(Unc("SRV1/cad/Net/users.dat"), new_users);
  const int holder = ::open(Unc("SRV1/cad/Net/project.dat").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(platform::CurrentEnv()->Lock(holder, 0, 0, platform::LockMode::kExclusive, 0), 0);
  HoldWatchEnv watch;
  platform::Env* previous = platform::SetCurrentEnv(&watch);
  int rc = -1;
  std::thread checkout([&] { rc = CheckOut(ctx_, kCheckoutHost, list_, answers_); });
  watch.AwaitHold();
  // The conversion puts the new records in place and lets the file go.
  testing::WriteFile(Unc("SRV1/cad/Net/project.dat.conv~1"), new_admin);
  std::filesystem::rename(Unc("SRV1/cad/Net/project.dat.conv~1"), Unc("SRV1/cad/Net/project.dat"));
  ::close(holder);
  checkout.join();
  platform::SetCurrentEnv(previous);
  ASSERT_EQ(rc, 1) << messenger_.All();
  EXPECT_EQ(ReadFile(Unc("WS01/cad/Net/users.dat")), new_users);
  EXPECT_EQ(ReadFile(Unc("WS01/cad/Net/project.dat.chkout")), new_admin);
  EXPECT_EQ(FirstRecordWidth(ReadFile(Unc("WS01/cad/Net/project.dat"))), FirstRecordWidth(new_admin));
}

class UserCountChangeWhileOutTest : public UserCountChangeTest {
 protected:
  void SetUp() override {
    UserCountChangeTest::SetUp();
    ASSERT_EQ(CheckOut(ctx_, kCheckoutHost, list_, answers_), 1) << messenger_.All();
  }
  void WorkOn(const std::string& net) {
    extlib::close_prj_info_handle(extlib::kSlotNet);
    extlib::lfinipC(extlib::DefaultContext(), extlib::kSlotNet, net);
    extlib::UnCachPrjList(extlib::DefaultContext());
  }
};

// The laptop renames a project while it is out; meanwhile the office changes
// its number of users. The check-in reads the copy in its own, older layout
// and takes the rename over.
TEST_F(UserCountChangeWhileOutTest, TheLaptopsRenameIsTakenOverAfterTheOfficeChangedItsUserCount) {
  ctx_.interactive = 0;
  ASSERT_EQ(tree::RenameProject(ctx_, "Auf der Baustelle", list_[1].project), 0) << messenger_.All();
  WorkOn("\\\\SRV1\\cad\\Net\\");
  const int containers = extlib::lzuGetCountOfUserContainers();
  ASSERT_EQ(admin::SetMaxUserCount(extlib::DefaultContext(), 32 * (containers + 1)), 0) << messenger_.All();
  ASSERT_NE(ContainersOf("\\\\WS01\\cad\\Net\\"), ContainersOf("\\\\SRV1\\cad\\Net\\"));
  WorkOn("\\\\WS01\\cad\\Net\\");
  ASSERT_EQ(CheckIn(ctx_, kCheckinHost, list_), 1) << messenger_.All();
  extlib::PRJ record;
  ASSERT_TRUE(site_.Record(numbers_[1], &record));
  EXPECT_EQ(extlib::TrimmedName(record.name), "Auf der Baustelle");
  EXPECT_EQ(Status(numbers_[1]) & kHostCheckedOut, 0u);
  bool renamed_listed = false;
  for (const std::string& line : LastCheckinReport().lines)
    renamed_listed |= line.find("renamed on WS01") != std::string::npos && line.find("Auf der Baustelle") != std::string::npos;
  EXPECT_TRUE(renamed_listed);
  // Nothing is left for the update to repair.
  const auto checked_in = site_.State();
  const auto update = site_.Run({"-update"});
  EXPECT_EQ(update.status, 0) << update.out << update.err;
  EXPECT_TRUE(site_.State() == checked_in);
}

}  // namespace
}  // namespace dovrane::checkout
