// A host check-out cut short is recognised and taken back whole, touching
// nothing it cannot prove its own; a check-in cut short is recognised; a
// host without projects is checked out and in.
#include "checkout/unfinished_checkout.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "app/projects/project_move.h"
#include "checkout/checkin.h"
#include "checkout/project_status.h"
#include "checkout_fixture.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/operation_context.h"
#include "platform/env.h"
#include "platform/fault_injection_env.h"
#include "support/run_program.h"

namespace dovrane::checkout {
namespace {

using platform::FaultInjectionEnv;
using platform::FaultPoint;
namespace fs = std::filesystem;

class UnfinishedCheckoutTest : public CheckoutFixture {
 protected:
  void SetUp() override {
    CheckoutFixture::SetUp();
    KeepCopy();
    before_ = State();
  }
  int Checkout(platform::Env* env = nullptr) {
    extlib::OperationContext ctx(extlib::ProcessInstallation(), &messenger_);
    platform::Env* previous = env ? platform::SetCurrentEnv(env) : nullptr;
    int rc = CheckOut(ctx, kCheckoutHost, list_, answers_);
    if (env) platform::SetCurrentEnv(previous);
    return rc;
  }
  Unfinished Find() {
    extlib::OperationContext ctx(extlib::ProcessInstallation(), &messenger_);
    return FindUnfinished(ctx, "WS01");
  }
  int TakeBack() {
    extlib::OperationContext ctx(extlib::ProcessInstallation(), &messenger_);
    return TakeBackCheckout(ctx, "WS01");
  }
  std::string NetFile(const std::string& name) const { return site_.NetDir() + "/" + name; }

  std::map<std::string, std::string> before_;
};

// Killed at every write, close, rename and folder creation (each in a child
// of its own, as the core's kill runs): the state left is recognised as a
// check-out cut short, and taking it back restores the installation exactly,
// without a temporary file left.
TEST_F(UnfinishedCheckoutTest, AKillAtEveryStepIsRecognisedAndTakenBackWhole) {
  Restore();
  const std::string counts_file = kept_.path() + "/counts";
  ASSERT_EQ(testing::RunBounded([&] {
    FaultInjectionEnv counter;
    const int rc = Checkout(&counter);
    std::string text;
    for (int p = 0; p < static_cast<int>(FaultPoint::kCount); ++p)
      text += std::to_string(counter.Calls(static_cast<FaultPoint>(p))) + " ";
    testing::WriteFile(counts_file, text);
    return rc;
  }, 60000), 1);
  int counts[static_cast<int>(FaultPoint::kCount)] = {};
  std::istringstream in(testing::ReadFile(counts_file));
  for (int& c : counts) in >> c;
  int recognised = 0;
  for (FaultPoint point : {FaultPoint::kWrite, FaultPoint::kClose, FaultPoint::kRename, FaultPoint::kMkDir}) {
    const int how = point == FaultPoint::kWrite || point == FaultPoint::kClose ? FaultInjectionEnv::kKill
                                                                                : FaultInjectionEnv::kKillAfter;
    for (int nth = 1; nth <= counts[static_cast<int>(point)]; ++nth) {
      Restore();
      const std::string where = std::to_string(static_cast<int>(point)) + " " + std::to_string(nth);
      ASSERT_EQ(testing::RunBounded([&] {
        FaultInjectionEnv env;
        env.Arm(point, nth, how);
        return Checkout(&env);
      }, 60000), -1) << where << ": the kill was not reached";
      // In a child: the library's per-process state starts afresh, as after a crash.
      const int rc = testing::RunBounded(
          [&] {
            extlib::lzende(extlib::DefaultContext());
            site_.Activate();
            const Unfinished found = Find();
            if (CheckedOutPath() != "<none>") return found == Unfinished::kNone ? 10 : 11;  // it went through
            if (found == Unfinished::kNone) return TakenBackView(State()) == TakenBackView(before_) ? 20 : 21;
            if (found != Unfinished::kCheckout) return 30;
            if (TakeBack() != 1) return 31;
            return Find() == Unfinished::kNone ? 1 : 32;
          },
          60000);
      EXPECT_TRUE(rc == 1 || rc == 10 || rc == 20) << where << ": " << rc;
      if (rc == 1) ++recognised;
      if (rc == 1 || rc == 20 || rc == 21) {
        EXPECT_TRUE(TakenBackView(State()) == TakenBackView(before_))
            << where << "\n" << Difference(State(), before_);
      }
    }
  }
  EXPECT_GT(recognised, 10);
}

// Only what the check-out cut short can be proved to have made goes: a
// temporary naming another computer, one of another host's project and a
// project checked out on its own with its file stay.
TEST_F(UnfinishedCheckoutTest, TakeBackTouchesOnlyWhatIsItsOwn) {
  ASSERT_GE(numbers_.size(), 3u);
  const uint32_t own = numbers_[0], foreign = numbers_[1], alone = numbers_[2];
  uint32_t other_host = 0;
  for (uint32_t n = 1; n <= kProjects && !other_host; ++n) {
    extlib::PRJ r;
    if (site_.Record(n, &r) && std::string(r.host) != "WS01") other_host = n;
  }
  ASSERT_NE(other_host, 0u);
  auto file = [](uint32_t n) { return extlib::NumberText(n) + ".out"; };
  const std::string own_text = "VARNHOLTEK\xae Project Checkout Information\r\n[Host]\r\nWS01\r\n";
  const std::string foreign_text = "VARNHOLTEK\xae Project Checkout Information\r\n[Host]\r\nSRV2\r\n";
  site_.EditRecord(own, [](extlib::PRJ* r) { r->status |= kHostCheckedOut; });
  site_.EditRecord(alone, [](extlib::PRJ* r) { r->status |= kProjectCheckedOut; });
  testing::WriteFile(NetFile(file(own)), own_text);
  testing::WriteFile(NetFile("WS01.out.new~4242"), "VARNHOLTEK");              // cut short: its own
  testing::WriteFile(NetFile(file(foreign) + ".new~77"), foreign_text);        // another computer's
  testing::WriteFile(NetFile(file(other_host) + ".new~78"), own_text);         // another host's project
  testing::WriteFile(NetFile(file(alone)), own_text);                          // checked out on its own
  testing::WriteFile(NetFile(file(alone) + ".new~79"), own_text);
  testing::WriteFile(NetFile("WS01.out.new~x"), "not a temporary of ours");    // no PID
  EXPECT_EQ(Find(), Unfinished::kCheckout);
  ASSERT_EQ(TakeBack(), 1) << messenger_.All();
  EXPECT_EQ(Status(own) & kHostCheckedOut, 0u);
  EXPECT_EQ(Status(alone) & kProjectCheckedOut, kProjectCheckedOut);
  EXPECT_FALSE(testing::Exists(NetFile(file(own))));
  EXPECT_FALSE(testing::Exists(NetFile("WS01.out.new~4242")));
  for (const std::string& kept : {file(foreign) + ".new~77", file(other_host) + ".new~78", file(alone),
                                  file(alone) + ".new~79", std::string("WS01.out.new~x")})
    EXPECT_TRUE(testing::Exists(NetFile(kept))) << kept;
  EXPECT_EQ(Find(), Unfinished::kNone);
}

// A check-out in use, and a check-in under way, are no check-out cut short:
// their marks are not taken back.
TEST_F(UnfinishedCheckoutTest, CheckedOutOrCheckingInIsNoCheckoutCutShort) {
  ASSERT_EQ(Checkout(), 1) << messenger_.All();
  EXPECT_EQ(Find(), Unfinished::kNone);
  EXPECT_EQ(TakeBack(), 0);
  const std::string dir = CheckedOutPath();
  ASSERT_TRUE(extlib::PutSettingString("HKLM", kCheckingInPath, dir));
  ASSERT_TRUE(extlib::DeleteSetting("HKLM", "InstallRoot\\CheckedOutPath"));
  EXPECT_EQ(Find(), Unfinished::kCheckin);
  EXPECT_EQ(TakeBack(), 0);
  for (uint32_t n : numbers_) EXPECT_EQ(Status(n) & kHostCheckedOut, kHostCheckedOut) << n;
  // Checking in again finishes it.
  extlib::OperationContext ctx(extlib::ProcessInstallation(), &messenger_);
  EXPECT_EQ(CheckIn(ctx, kCheckinHost, list_), 1) << messenger_.All();
  EXPECT_EQ(Find(), Unfinished::kNone);
  for (uint32_t n : numbers_) EXPECT_EQ(Status(n) & kHostCheckedOut, 0u) << n;
}

// The host file of a check-out cut short was deleted (the stale-mark
// command): the marks left are the check-out's own only when the person chose
// to finish it; otherwise each asks Abort, Retry, Ignore (here: no answer,
// which aborts and leaves the marks as they were).
TEST_F(UnfinishedCheckoutTest, FinishingWithoutTheHostFileTakesTheMarksAsItsOwn) {
  for (uint32_t n : numbers_) site_.EditRecord(n, [](extlib::PRJ* r) { r->status |= kHostCheckedOut; });
  EXPECT_EQ(Find(), Unfinished::kCheckout);
  EXPECT_EQ(Checkout(), 0);
  EXPECT_NE(messenger_.All().find("[ "), std::string::npos) << messenger_.All();
  EXPECT_EQ(CheckedOutPath(), "<none>");
  for (uint32_t n : numbers_) EXPECT_EQ(Status(n) & kHostCheckedOut, kHostCheckedOut) << n;
  messenger_.messages.clear();
  messenger_.texts.clear();
  answers_.finish_cut_short = true;
  ASSERT_EQ(Checkout(), 1) << messenger_.All();
  EXPECT_EQ(messenger_.All().find("[ "), std::string::npos) << messenger_.All();
  const testing::InstallationState network = site_.State();
  for (size_t i = 0; i < numbers_.size(); ++i) {
    EXPECT_EQ(network.records.at(numbers_[i]).status & kHostCheckedOut, kHostCheckedOut) << numbers_[i];
    EXPECT_TRUE(testing::Exists(NetFile(extlib::NumberText(numbers_[i]) + ".out"))) << numbers_[i];
  }
}

// A host without projects: its list is the one entry naming the host. It is
// checked out (the host file lists no project) and back in.
TEST_F(UnfinishedCheckoutTest, AHostWithoutProjectsIsCheckedOutAndIn) {
  const std::vector<CheckoutEntry> host_only = {{"WS01", "", ""}};
  extlib::OperationContext ctx(extlib::ProcessInstallation(), &messenger_);
  // Its projects go to another host first: a check-out whose copy holds a
  // project its list lacks stops.
  for (const CheckoutEntry& e : list_)
    ASSERT_EQ(app::MoveProject(extlib::DefaultContext(), extlib::PadName(e.project), "SRV1"), 0) << e.project;
  ASSERT_EQ(CheckOut(ctx, kCheckoutHost, host_only, answers_), 1) << messenger_.All();
  EXPECT_EQ(CheckedOutPath(), "\\\\WS01\\cad");
  const std::string host_file = testing::ReadFile(NetFile("WS01.out"));
  EXPECT_NE(host_file.find("[Projects]\r\n\r\n\r\n[Date]"), std::string::npos) << host_file;
  const testing::InstallationState network = site_.State();
  for (uint32_t n : numbers_) EXPECT_EQ(network.records.at(n).status & kHostCheckedOut, 0u) << n;
  ASSERT_EQ(CheckIn(ctx, kCheckinHost, host_only), 1) << messenger_.All();
  EXPECT_EQ(CheckedOutPath(), "<none>");
  EXPECT_FALSE(testing::Exists(NetFile("WS01.out")));
  // A single project needs a project.
  EXPECT_EQ(CheckOut(ctx, kCheckoutProject, host_only, answers_), 0);
}

}  // namespace
}  // namespace dovrane::checkout
