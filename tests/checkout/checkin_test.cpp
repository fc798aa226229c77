#include "checkout/checkin.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "app/projects/project_commands.h"
#include "checkout/project_status.h"
#include "checkout_fixture.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/attribute_cache_file.h"
#include "extlib/projects/project_attributes.h"
#include "extlib/records/administration.h"
#include "extlib/records/project_list.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "tree/project_rename.h"
#include "tree/tree_command_work.h"

namespace dovrane::checkout {
namespace {

using testing::ReadFile;

class CheckinTest : public CheckedOutFixture {
 protected:
  std::string Setting(const char* key) const {
    std::string value;
    return extlib::GetSettingString("HKLM", key, &value) ? value : "<none>";
  }
  // Slot 23 on the network's administration or on the host's copy.
  void WorkOn(const std::string& net) {
    extlib::close_prj_info_handle(extlib::kSlotNet);
    extlib::lfinipC(extlib::DefaultContext(), extlib::kSlotNet, net);
    extlib::UnCachPrjList(extlib::DefaultContext());
  }
};

TEST_F(CheckinTest, RefusedCheckinsChangeNothing) {
  struct Case {
    const char* name;
    std::function<void(std::vector<CheckoutEntry>*)> change;
  } cases[] = {
      {"not checked out", [](auto*) { extlib::DeleteSetting("HKLM", "InstallRoot\\CheckedOutPath"); }},
      {"another computer's host", [](auto* list) { (*list)[0].host = "SRV2"; }},
  };
  for (const Case& c : cases) {
    std::vector<CheckoutEntry> list = list_;
    c.change(&list);
    const auto before = State();
    EXPECT_EQ(CheckIn(ctx_, kCheckinHost, list), 0) << c.name;
    EXPECT_TRUE(State() == before) << c.name << Difference(State(), before);
    EXPECT_EQ(messenger_.icons.back(), platform::kMbIconError) << c.name;
  }
}

TEST_F(CheckinTest, HostCheckinReleasesDeletesRestoresAndReports) {
  ASSERT_EQ(CheckIn(ctx_, kCheckinHost, list_), 1) << messenger_.All();
  EXPECT_EQ(Setting("InstallRoot\\CheckedOutPath"), "<none>");
  EXPECT_EQ(Setting("InstallRoot\\CheckingInPath"), "<none>");
  EXPECT_EQ(extlib::lfinigC(extlib::DefaultContext(), extlib::kSlotNet), "\\\\SRV1\\cad\\Net\\");
  for (uint32_t n : numbers_) EXPECT_EQ(Status(n) & kHostCheckedOut, 0u) << n;
  EXPECT_TRUE(Files("SRV1/cad/Net", ".out").empty());
  EXPECT_FALSE(testing::Exists(Unc("WS01/cad/Net/project.dat.chkout")));
  EXPECT_FALSE(testing::Exists(Unc("WS01/cad/Net.ChkOut")));
  // Nothing changed on the host: the kept report says so; a backup set per
  // run and one audit line.
  const CheckinReport report = LastCheckinReport();
  EXPECT_TRUE(report.lines.empty());
  ASSERT_EQ(Files("SRV1/cad/Net", ".txt").size(), 1u);
  EXPECT_EQ(ReadFile(Unc("SRV1/cad/Net/" + Files("SRV1/cad/Net", ".txt")[0])), FormatCheckinReport(report));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Unc("SRV1/cad/Net/backup")), {}), 2);
  EXPECT_NE(ReadFile(Unc("SRV1/cad/Net/dovrane.log")).find("\tcheckin host WS01\t0\tOK"), std::string::npos);
}

// What the laptop wrote into a project's attribute cache reaches the
// network's database under the project's number, found through the project's
// record and folder as the release left them.
TEST_F(CheckinTest, TheAttributesOfTheHostsProjectsComeFromTheirDiskCaches) {
  std::string text;
  ASSERT_EQ(extlib::FormatAttributeCache({{"A", "from the laptop"}}, &text), 0);
  char folder[64];
  std::snprintf(folder, sizeof folder, "WS01/cad/Prj/n%07u.prj/", numbers_[0]);
  ASSERT_EQ(platform::WriteFileAtomic(Unc(folder + std::string(extlib::kAttributeCacheFileName)), text), 0);
  ASSERT_EQ(CheckIn(ctx_, kCheckinHost, list_), 1) << messenger_.All();
  extlib::RX_ProjectAttributes network(ctx_, extlib::kSlotNet);
  extlib::AttributeValues values;
  ASSERT_EQ(network.getProjectAttributes(numbers_[0], &values), 0);
  EXPECT_EQ(values, (extlib::AttributeValues{{"A", "from the laptop"}}));
}

TEST_F(CheckinTest, ACheckinCutShortAfterTheSwitchIsFinishedByTheNextOne) {
  // As a crash right after the switch back to the network leaves it.
  ASSERT_TRUE(extlib::PutSettingString("HKLM", "InstallRoot\\CheckingInPath", "\\\\WS01\\cad"));
  ASSERT_TRUE(extlib::DeleteSetting("HKLM", "InstallRoot\\CheckedOutPath"));
  std::filesystem::remove(Unc("SRV1/cad/Net/WS01.out"));
  // A check-out is refused until the check-in is finished.
  EXPECT_EQ(CheckOut(ctx_, kCheckoutHost, list_, answers_), 0);
  EXPECT_NE(messenger_.All().find("[InstallRoot\\CheckingInPath]"), std::string::npos);
  ASSERT_EQ(CheckIn(ctx_, kCheckinHost, list_), 1) << messenger_.All();
  EXPECT_EQ(Setting("InstallRoot\\CheckingInPath"), "<none>");
  for (uint32_t n : numbers_) EXPECT_EQ(Status(n) & kHostCheckedOut, 0u) << n;
  EXPECT_FALSE(testing::Exists(Unc("WS01/cad/Net/project.dat.chkout")));
}

TEST_F(CheckinTest, SingleProjectIsGivenBackOnlyWhenItIsOutAlone) {
  ASSERT_EQ(CheckIn(ctx_, kCheckinHost, list_), 1) << messenger_.All();
  std::vector<CheckoutEntry> one = {{"", list_[0].project + "   ", list_[0].location}};
  // Not out alone: refused with the name trimmed, nothing changed.
  const auto before = State();
  EXPECT_EQ(CheckIn(ctx_, kCheckinProject, one), 0);
  EXPECT_EQ(messenger_.texts.back(), "Unable to unlock project \"" + list_[0].project + "\"!");
  EXPECT_TRUE(State() == before) << Difference(State(), before);
  ASSERT_EQ(CheckOut(ctx_, kCheckoutProject, one, answers_), 1) << messenger_.All();
  char out[64];
  std::snprintf(out, sizeof out, "SRV1/cad/Net/n%07u.out", numbers_[0]);
  ASSERT_TRUE(testing::Exists(Unc(out)));
  ASSERT_EQ(CheckIn(ctx_, kCheckinProject, one), 1) << messenger_.All();
  EXPECT_EQ(Status(numbers_[0]) & kProjectCheckedOut, 0u);
  EXPECT_FALSE(testing::Exists(Unc(out)));
  EXPECT_NE(ReadFile(Unc("SRV1/cad/Net/dovrane.log")).find("\tcheckin project \"" + list_[0].project + "\"\t0"),
            std::string::npos);
  EXPECT_EQ(CheckIn(ctx_, 7, one), 1);  // no such mode: nothing done
}

// The window's project commands find the information file through the
// project's directory on its host, as the trees show it.
TEST_F(CheckinTest, TheWindowsProjectCheckOutAndCheckInMeetTheSameInformationFile) {
  ASSERT_EQ(CheckIn(ctx_, kCheckinHost, list_), 1) << messenger_.All();
  char out[64];
  std::snprintf(out, sizeof out, "SRV1/cad/Net/n%07u.out", numbers_[0]);
  ASSERT_EQ(tree::CheckOutOneProject(ctx_, "WS01", list_[0].project, "away"), 1) << messenger_.All();
  EXPECT_NE(Status(numbers_[0]) & kProjectCheckedOut, 0u);
  ASSERT_TRUE(testing::Exists(Unc(out)));
  ASSERT_EQ(tree::CheckInOneProject(ctx_, "WS01", list_[0].project), 1) << messenger_.All();
  EXPECT_EQ(Status(numbers_[0]) & kProjectCheckedOut, 0u);
  EXPECT_FALSE(testing::Exists(Unc(out)));
}

TEST_F(CheckinTest, RoundTripBringsTheHostsWorkBackAndReportsExactlyWhatChanged) {
  // On the laptop (slot 23 on its copy): a new project, a rename, an erase.
  ctx_.interactive = 0;
  ASSERT_EQ(app::CreateProject(extlib::DefaultContext(), extlib::PadName("Laptop neu"), "WS01"), 0) << messenger_.All();
  ASSERT_EQ(tree::RenameProject(ctx_, "Umbenannt", list_[1].project), 0) << messenger_.All();
  ASSERT_EQ(app::EraseProject(ctx_, extlib::PadName(list_[2].project)), 0) << messenger_.All();
  // Meanwhile on the network: the laptop's new number and its new name are taken.
  WorkOn("\\\\SRV1\\cad\\Net\\");
  ASSERT_EQ(app::CreateProject(extlib::DefaultContext(), extlib::PadName("Netz neu"), "SRV1"), 0) << messenger_.All();
  ASSERT_EQ(app::CreateProject(extlib::DefaultContext(), extlib::PadName("Umbenannt"), "SRV2"), 0) << messenger_.All();
  WorkOn("\\\\WS01\\cad\\Net\\");
  ASSERT_EQ(CheckIn(ctx_, kCheckinHost, list_), 1) << messenger_.All();
  std::vector<std::string> lines = LastCheckinReport().lines;
  std::sort(lines.begin(), lines.end());
  char renamed[16], erased[16];
  std::snprintf(renamed, sizeof renamed, "n%07u", numbers_[1]);
  std::snprintf(erased, sizeof erased, "n%07u", numbers_[2]);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "conflict: name \"Umbenannt\" is used twice; registered as \"Umbenannt_\"",
                       "conflict: number n0000013 of \"Laptop neu\" was taken meanwhile by \"Netz neu\" on SRV1; "
                       "registered as n0000015",
                       "created on WS01: \"Laptop neu\" n0000013",
                       "erased on WS01: \"" + list_[2].project + "\" " + erased,
                       "renamed on WS01: \"" + list_[1].project + "\" to \"Umbenannt\" " + renamed,
                   }));
  // The update finds nothing left to repair.
  const auto checked_in = site_.State();
  const auto update = site_.Run({"-update"});
  EXPECT_EQ(update.status, 0) << update.out << update.err;
  EXPECT_TRUE(site_.State() == checked_in);
}

// The window lists the laptop's own new projects for the check-in too. One of
// them may carry the number another host's project took meanwhile; when that
// project is checked out alone, its mark and information file are its own.
TEST_F(CheckinTest, ANumberTakenMeanwhileKeepsItsOwnersCheckoutFile) {
  ctx_.interactive = 0;
  ASSERT_EQ(app::CreateProject(extlib::DefaultContext(), extlib::PadName("Laptop neu"), "WS01"), 0) << messenger_.All();
  WorkOn("\\\\SRV1\\cad\\Net\\");
  ASSERT_EQ(app::CreateProject(extlib::DefaultContext(), extlib::PadName("Netz neu"), "SRV1"), 0) << messenger_.All();
  // Another computer checks it out alone: its mark and its information file.
  ASSERT_TRUE(ChangeProjectStatus(extlib::DefaultContext(), "Netz neu", StatusAction::kTakeProject));
  testing::WriteFile(Unc("SRV1/cad/Net/n0000013.out"), "[Filename]\r\n\\\\SRV1\\cad\\Net\\n0000013.out\r\n");
  WorkOn("\\\\WS01\\cad\\Net\\");
  std::vector<CheckoutEntry> list = list_;
  list.push_back({"WS01", "Laptop neu", "\\\\WS01\\cad\\Prj\\n0000013.prj"});
  ASSERT_EQ(CheckIn(ctx_, kCheckinHost, list), 1) << messenger_.All();
  EXPECT_TRUE(testing::Exists(Unc("SRV1/cad/Net/n0000013.out")));
  EXPECT_NE(Status(13) & kProjectCheckedOut, 0u);
}

// What was done on the laptop while it was out stays on record: its copy's
// audit lines join the network's log at the check-in, before its own line,
// as text (a control character in them is a blank).
TEST_F(CheckinTest, TheLaptopsAuditLinesJoinTheNetworksLog) {
  const std::string laptop_lines =
      "2026-12-01T08:00:00Z\tWS01\tanna\tcreate \"Laptop neu\" WS01\t0\tOK\r\n"
      "2026-12-02T09:30:00Z\tWS01\tanna\terase \x1b[2JAlt\t0\tOK";
  testing::WriteFile(Unc("WS01/cad/Net/dovrane.log"), laptop_lines);
  const std::string network_log = Unc("SRV1/cad/Net/dovrane.log");
  const std::string before = testing::Exists(network_log) ? ReadFile(network_log) : "";
  ASSERT_EQ(CheckIn(ctx_, kCheckinHost, list_), 1) << messenger_.All();
  const std::string log = ReadFile(network_log);
  ASSERT_EQ(log.compare(0, before.size(), before), 0);
  const std::string added = log.substr(before.size());
  EXPECT_EQ(added.find("2026-12-01T08:00:00Z\tWS01\tanna\tcreate \"Laptop neu\" WS01\t0\tOK\r\n"), 0u) << added;
  const size_t erase = added.find("2026-12-02T09:30:00Z\tWS01\tanna\terase  [2JAlt\t0\tOK\r\n");
  const size_t checkin = added.find("\tcheckin host WS01\t0\tOK");
  EXPECT_NE(erase, std::string::npos) << added;
  EXPECT_GT(checkin, erase) << added;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), std::count(before.begin(), before.end(), '\n') + 3) << log;
}

// Any workstation may delete the host's check-out file (the stale-check-out
// command): the check-in still brings the host back, and names the file.
TEST_F(CheckinTest, AHostFileDeletedElsewhereDoesNotStopTheCheckIn) {
  std::filesystem::remove(Unc("SRV1/cad/Net/WS01.out"));
  ASSERT_EQ(CheckIn(ctx_, kCheckinHost, list_), 1) << messenger_.All();
  EXPECT_EQ(Setting("InstallRoot\\CheckedOutPath"), "<none>");
  EXPECT_EQ(Setting("InstallRoot\\CheckingInPath"), "<none>");
  EXPECT_NE(messenger_.All().find("WS01.out"), std::string::npos) << messenger_.All();
  for (const CheckoutEntry& e : list_) {
    extlib::PRJ r;
    WorkOn("\\\\SRV1\\cad\\Net\\");
    ASSERT_EQ(extlib::get_project_info(extlib::DefaultContext(), extlib::PadName(e.project), &r), 0) << e.project;
    EXPECT_EQ(extlib::StatusFlags(r.status) & (extlib::kStatusHostOut | extlib::kStatusProjectOut), 0) << e.project;
  }
}

// The laptop's administration is a file anyone with the laptop may edit: a
// name there that -create would refuse reaches the network only in a safe
// form, and the check-in says so.
TEST_F(CheckinTest, NamesFromTheLaptopPassTheNameChecks) {
  ctx_.interactive = 0;
  const int handle = extlib::open_prj_info(extlib::DefaultContext(), extlib::kSlotNet, extlib::kOpenExisting);
  ASSERT_GE(handle, 0);
  extlib::RecordLock lock;
  ASSERT_EQ(extlib::LockRecordByName(extlib::DefaultContext(), extlib::kSlotNet, list_[1].project, &lock), 0);
  extlib::PRJ r;
  ASSERT_EQ(extlib::ReadRecordAtSlot(handle, lock.slot(), &r), 0);
  extlib::SetPrjName(&r, "a/../../b");
  ASSERT_EQ(extlib::WriteRecordAtSlot(extlib::DefaultContext(), handle, lock.slot(), &r), 0);
  ASSERT_EQ(lock.Release(), 0);
  ASSERT_EQ(CheckIn(ctx_, kCheckinHost, list_), 1) << messenger_.All();
  EXPECT_NE(messenger_.All().find("Invalid project name <a/../../b>"), std::string::npos) << messenger_.All();
  WorkOn("\\\\SRV1\\cad\\Net\\");
  extlib::PRJ network;
  ASSERT_EQ(extlib::get_PrjInfo_by_number(extlib::DefaultContext(), r.number, &network), 0);
  EXPECT_TRUE(extlib::IsValidProjectName(extlib::TrimmedName(network.name))) << network.name;
  EXPECT_EQ(extlib::TrimmedName(network.name).find('/'), std::string::npos);
}

// Fails the rename of one folder and the creation of files whose name holds a
// text, as on a full volume; everything else goes through.
class FullVolumeEnv : public platform::Env {
 public:
  FullVolumeEnv(std::string rename_from, std::string open_part)
      : rename_from_(std::move(rename_from)), open_part_(std::move(open_part)) {}
  int Rename(const std::string& from, const std::string& to) override {
    if (!rename_from_.empty() && from.ends_with(rename_from_)) return -ENOSPC;
    return Env::Rename(from, to);
  }
  int Open(const std::string& path, int flags, mode_t mode) override {
    if (!open_part_.empty() && (flags & O_CREAT) && path.find(open_part_) != std::string::npos) return -ENOSPC;
    return Env::Open(path, flags, mode);
  }

 private:
  std::string rename_from_, open_part_;
};

// A check-in stopped after the network took the host's work over (its copy of
// \Net could not be renamed away) reports the failure; its projects are
// released already, and another computer may rename one. The next check-in
// finishes the job without taking the copy's records over a second time.
TEST_F(CheckinTest, ACheckinStoppedAfterTheTakeOverDoesNotTakeTheCopyOverAgain) {
  ctx_.interactive = 0;
  ASSERT_EQ(tree::RenameProject(ctx_, "Vom Laptop", list_[1].project), 0) << messenger_.All();
  FullVolumeEnv full("/WS01/cad/Net", "");
  platform::Env* previous = platform::SetCurrentEnv(&full);
  const int stopped = CheckIn(ctx_, kCheckinHost, list_);
  platform::SetCurrentEnv(previous);
  ASSERT_EQ(stopped, 0) << messenger_.All();
  EXPECT_EQ(Setting("InstallRoot\\CheckingInPath"), "\\\\WS01\\cad");
  ASSERT_TRUE(testing::Exists(Unc("WS01/cad/Net/project.dat.chkout")));
  for (uint32_t n : numbers_) EXPECT_EQ(Status(n) & kHostCheckedOut, 0u) << n;
  // Released, the project is the office's again.
  WorkOn("\\\\SRV1\\cad\\Net\\");
  ASSERT_EQ(tree::RenameProject(ctx_, "Im Buero", "Vom Laptop"), 0) << messenger_.All();
  ASSERT_EQ(CheckIn(ctx_, kCheckinHost, list_), 1) << messenger_.All();
  EXPECT_EQ(Setting("InstallRoot\\CheckingInPath"), "<none>");
  EXPECT_FALSE(testing::Exists(Unc("WS01/cad/Net/project.dat.chkout")));
  extlib::PRJ record;
  ASSERT_TRUE(site_.Record(numbers_[1], &record));
  EXPECT_EQ(extlib::TrimmedName(record.name), "Im Buero");
}

// Until the check-in has recorded that the host's side is done, the host's
// projects keep their marks: a check-in stopped before that leaves them out
// of everybody else's reach, and the next one takes the copy over whole.
TEST_F(CheckinTest, ACheckinStoppedBeforeItsJournalKeepsTheMarksAndTheNextOneFinishes) {
  ctx_.interactive = 0;
  ASSERT_EQ(tree::RenameProject(ctx_, "Vom Laptop", list_[1].project), 0) << messenger_.All();
  FullVolumeEnv full("", kCheckinJournalName);
  platform::Env* previous = platform::SetCurrentEnv(&full);
  const int stopped = CheckIn(ctx_, kCheckinHost, list_);
  platform::SetCurrentEnv(previous);
  ASSERT_EQ(stopped, 0) << messenger_.All();
  EXPECT_EQ(Setting("InstallRoot\\CheckingInPath"), "\\\\WS01\\cad");
  for (uint32_t n : numbers_) EXPECT_NE(Status(n) & kHostCheckedOut, 0u) << n;
  WorkOn("\\\\SRV1\\cad\\Net\\");
  EXPECT_NE(tree::RenameProject(ctx_, "Im Buero", "Vom Laptop"), 0);
  ASSERT_EQ(CheckIn(ctx_, kCheckinHost, list_), 1) << messenger_.All();
  for (uint32_t n : numbers_) EXPECT_EQ(Status(n) & kHostCheckedOut, 0u) << n;
  extlib::PRJ record;
  ASSERT_TRUE(site_.Record(numbers_[1], &record));
  EXPECT_EQ(extlib::TrimmedName(record.name), "Vom Laptop");
  EXPECT_FALSE(testing::Exists(Unc("WS01/cad/Net")  + "/" + kCheckinJournalName));
}

}  // namespace
}  // namespace dovrane::checkout
