#include "checkout/checkout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "checkout/net_copy.h"
#include "checkout/project_status.h"
#include "checkout_fixture.h"
#include "extlib/installation/operation_context.h"
#include "support/scoped_environment.h"

namespace dovrane::checkout {
namespace {

using testing::ReadFile;

class CheckoutTest : public CheckoutFixture {};

TEST_F(CheckoutTest, HostCheckoutCopiesMarksAndSwitchesTheInstallation) {
  const std::string network_admin = ReadFile(Unc("SRV1/cad/Net/project.dat"));
  const auto admin_time = std::filesystem::last_write_time(Unc("SRV1/cad/Net/project.dat"));
  testing::WriteFile(Unc("SRV1/cad/Net/dovrane.log"), "an office's earlier line\n");
  ASSERT_EQ(CheckOut(ctx_, kCheckoutHost, list_, answers_), 1) << messenger_.All();
  // The administration's copy keeps its time; the office's audit log stays in the office.
  EXPECT_EQ(std::filesystem::last_write_time(Unc("WS01/cad/Net/project.dat.chkout")), admin_time);
  EXPECT_FALSE(testing::Exists(Unc("WS01/cad/Net/dovrane.log")));
  EXPECT_EQ(CheckedOutPath(), "\\\\WS01\\cad");
  EXPECT_EQ(extlib::lfinigC(extlib::DefaultContext(), extlib::kSlotNet), "\\\\WS01\\cad\\Net\\");
  // The host list ends with a line feed, the full administration is kept.
  EXPECT_EQ(ReadFile(Unc("WS01/cad/Net/data.cfg")), "WS01 \\cad\n");
  EXPECT_EQ(ReadFile(Unc("WS01/cad/Net/project.dat.chkout")), network_admin);
  EXPECT_EQ(ReadFile(Unc("WS01/cad/Net/project.dat")), ReduceAdministration(network_admin, "WS01"));
  EXPECT_TRUE(testing::Exists(Unc("WS01/cad/Net/WS01.out")));
  EXPECT_TRUE(testing::Exists(Unc("SRV1/cad/Net/WS01.out")));
  // The network administration as it was before is in a backup set, and the
  // audit log names the check-out.
  int sets = 0;
  for (const auto& set : std::filesystem::directory_iterator(Unc("SRV1/cad/Net/backup"))) {
    EXPECT_EQ(ReadFile(set.path().string() + "/project.dat"), network_admin);
    ++sets;
  }
  EXPECT_EQ(sets, 1);
  EXPECT_NE(ReadFile(Unc("SRV1/cad/Net/dovrane.log")).find("\tcheckout host WS01\t0\tOK"), std::string::npos);
  const auto network = site_.State();
  for (uint32_t n : numbers_) {
    EXPECT_EQ(network.records.at(n).status & kHostCheckedOut, kHostCheckedOut) << n;
    char out[64];
    std::snprintf(out, sizeof out, "SRV1/cad/Net/n%07u.out", n);
    EXPECT_TRUE(testing::Exists(Unc(out))) << out;
  }
  // Symbols and the files directly in \STD went along, textures were not chosen.
  EXPECT_TRUE(testing::Exists(Unc("WS01/cad/STD/Sym/Sym.dat")));
  EXPECT_TRUE(testing::Exists(Unc("WS01/cad/STD/std.cfg")));
  EXPECT_FALSE(testing::Exists(Unc("WS01/cad/STD/design")));
}

TEST_F(CheckoutTest, ReducedAdministrationKeepsTheFirstTwoLinesAndTheHostsOwn) {
  const std::string text =
      " 3n0000009\r\n"
      "First                                             @n0000001;19; ;0000000000;5EBA60B9;SRV3            @003;8C\r\n"
      "Other                                             @n0000002;19; ;0000000000;5EBA60B9;SRV3            @003;8C\r\n"
      "Mine                                              @n0000003;19; ;0000000000;5EBA60B9;ws01            @003;8C\r\n"
      "Old layout                                        @WS01            ;x\r\n";
  EXPECT_EQ(ReduceAdministration(text, "WS01"),
            text.substr(0, text.find("Other")) + text.substr(text.find("Mine")));
}

TEST_F(CheckoutTest, ASecondCheckoutCopiesTheHostsProjectsUnmarked) {
  const std::string text =
      " 3n0000009\r\n"
      "First                                             @n0000001;19;$;0000000000;5EBA60B9;SRV3            @003;8C\r\n"
      "Mine                                              @n0000003;19;$;0000000000;5EBA60B9;ws01            @003;8C\r\n"
      "Mine alone                                        @n0000004;19;%;0000000000;5EBA60B9;WS01            @003;8C\r\n";
  std::string want = text;
  want[want.find("$;0000000000;5EBA60B9;ws01")] = ' ';
  want[want.find("%;0000000000;5EBA60B9;WS01")] = '!';
  EXPECT_EQ(WithoutHostMarks(text, "WS01"), want);
}

TEST_F(CheckoutTest, RefusedCheckoutsChangeNothing) {
  struct Case {
    const char* name;
    std::function<void(std::vector<CheckoutEntry>*, CheckoutAnswers*)> change;
  } cases[] = {
      {"another computer's host", [](auto* list, auto*) { (*list)[0].host = "SRV2"; }},
      {"comment cancelled", [](auto*, auto* a) { a->comment.reset(); }},
      {"components cancelled", [](auto*, auto* a) { a->components.reset(); }},
      {"already checked out",
       [](auto*, auto*) { extlib::PutSettingString("HKLM", "InstallRoot\\CheckedOutPath", "\\\\WS01\\cad"); }},
  };
  for (const Case& c : cases) {
    std::vector<CheckoutEntry> list = list_;
    CheckoutAnswers answers = answers_;
    c.change(&list, &answers);
    const auto before = State();
    const std::string log = ReadFile(Unc("SRV1/cad/Net/dovrane.log"));
    EXPECT_EQ(CheckOut(ctx_, kCheckoutHost, list, answers), 0) << c.name;
    EXPECT_TRUE(State() == before) << c.name << Difference(State(), before);
    // One audit line says the check-out failed.
    const std::string line = ReadFile(Unc("SRV1/cad/Net/dovrane.log")).substr(log.size());
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << c.name << line;
    EXPECT_TRUE(line.ends_with("\t1\tfailed\r\n")) << c.name << line;
  }
}

TEST_F(CheckoutTest, TheAdministrationServerIsNotCheckedOut) {
  testing::ScopedEnvironment env;
  env.Set({{"DOVRANE_COMPUTERNAME", "SRV1"}});
  list_[0].host = "SRV1";
  const auto before = State();
  EXPECT_EQ(CheckOut(ctx_, kCheckoutHost, list_, answers_), 0);
  EXPECT_TRUE(State() == before) << Difference(State(), before);
  ASSERT_EQ(messenger_.icons.size(), 1u);
  EXPECT_NE(messenger_.texts[0].find("[InstallRoot\\NetPath]"), std::string::npos);
}

TEST_F(CheckoutTest, AbortAtAProjectTakesEverythingBack) {
  site_.EditRecord(numbers_[1], [](extlib::PRJ* r) { r->status |= kHostCheckedOut; });
  site_.Activate();
  const auto before = State();
  messenger_.Answer(platform::kIdAbort);
  EXPECT_EQ(CheckOut(ctx_, kCheckoutHost, list_, answers_), 0);
  EXPECT_TRUE(State() == before) << Difference(State(), before);
  EXPECT_EQ(CheckedOutPath(), "<none>");
}

TEST_F(CheckoutTest, IgnoredProjectStaysUnmarkedButIsListed) {
  site_.EditRecord(numbers_[1], [](extlib::PRJ* r) { r->status |= kHostCheckedOut; });
  site_.Activate();
  messenger_.Answer(platform::kIdIgnore);
  ASSERT_EQ(CheckOut(ctx_, kCheckoutHost, list_, answers_), 1) << messenger_.All();
  char out[64];
  std::snprintf(out, sizeof out, "SRV1/cad/Net/n%07u.out", numbers_[1]);
  EXPECT_FALSE(testing::Exists(Unc(out)));
  EXPECT_NE(ReadFile(Unc("SRV1/cad/Net/WS01.out")).find("\"" + list_[1].project + "\""), std::string::npos);
}

TEST_F(CheckoutTest, SingleProjectIsMarkedOnceAndARefusedFileTakesTheMarkBack) {
  std::vector<CheckoutEntry> one = {{"", list_[0].project, list_[0].location}};
  ASSERT_EQ(CheckOut(ctx_, kCheckoutProject, one, answers_), 1) << messenger_.All();
  EXPECT_EQ(Status(numbers_[0]) & kProjectCheckedOut, kProjectCheckedOut);
  EXPECT_EQ(CheckOut(ctx_, kCheckoutProject, one, answers_), 0);  // already out: (3, 12)
  // A stale information file whose replacement is refused: nothing changes.
  one = {{"", list_[1].project, list_[1].location}};
  char out[64];
  std::snprintf(out, sizeof out, "SRV1/cad/Net/n%07u.out", numbers_[1]);
  testing::WriteFile(Unc(out), "stale\r\n");
  const auto before = State();
  messenger_.Answer(platform::kIdNo);
  EXPECT_EQ(CheckOut(ctx_, kCheckoutProject, one, answers_), 0);
  EXPECT_TRUE(State() == before) << Difference(State(), before);
}

// A project that went out with its host is refused before it is marked: a
// check-out killed between its mark and its question (replace the host's
// information file?) left a mark on the out host's record that no -unblock
// may clear while the host is out. Even a Yes changes nothing.
TEST_F(CheckoutTest, AProjectOutWithItsHostIsRefusedBeforeAnyMark) {
  site_.EditRecord(numbers_[1], [](extlib::PRJ* r) { r->status |= kHostCheckedOut; });
  site_.Activate();
  char out[64];
  std::snprintf(out, sizeof out, "SRV1/cad/Net/n%07u.out", numbers_[1]);
  testing::WriteFile(Unc(out), "the host's check-out\r\n");
  const auto before = State();
  messenger_.Answer({platform::kIdYes, platform::kIdYes});
  const std::vector<CheckoutEntry> one = {{"", list_[1].project, list_[1].location}};
  EXPECT_EQ(CheckOut(ctx_, kCheckoutProject, one, answers_), 0);
  EXPECT_TRUE(State() == before) << Difference(State(), before);
  EXPECT_EQ(ReadFile(Unc(out)), "the host's check-out\r\n");
  EXPECT_EQ(messenger_.All().find("already exists"), std::string::npos) << messenger_.All();
}

TEST_F(CheckoutTest, StatusActionsChangeOnlyTheirBit) {
  struct Case {
    unsigned char before;
    StatusAction action;
    bool ok;
    unsigned char after;
  } cases[] = {
      {32, StatusAction::kTakeWithHost, true, 36},    {36, StatusAction::kTakeWithHost, false, 36},
      {32 | 0x08, StatusAction::kReturnFromHost, true, 40}, {36 | 0x01, StatusAction::kReturnFromHost, true, 33},
      {32, StatusAction::kTakeProject, true, 33},     {33, StatusAction::kTakeProject, false, 33},
      {36, StatusAction::kTakeProject, false, 36},  // out with its host already
      {32, StatusAction::kReturnProject, false, 32},  {37, StatusAction::kReturnProject, true, 36},
  };
  for (const Case& c : cases) {
    site_.EditRecord(numbers_[0], [&](extlib::PRJ* r) { r->status = c.before; });
    site_.Activate();
    EXPECT_EQ(ChangeProjectStatus(extlib::DefaultContext(), list_[0].project, c.action), c.ok) << int(c.before);
    EXPECT_EQ(Status(numbers_[0]), c.after) << int(c.before);
  }
  EXPECT_TRUE(ChangeProjectStatus(extlib::DefaultContext(), "No such project", StatusAction::kTakeWithHost));
}

}  // namespace
}  // namespace dovrane::checkout
