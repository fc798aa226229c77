// The office's repairs while a host is out: its folder is then the laptop's
// disk, worked on under the laptop's own administration with numbers of its
// own. A repair of the office must leave that folder to the check-in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>

#include "app/projects/project_error.h"
#include "checkout/checkin.h"
#include "checkout/project_status.h"
#include "checkout_fixture.h"
#include "support/installation_state.h"
#include "support/run_program.h"

namespace dovrane::checkout {
namespace {

std::set<std::string> Entries(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

class RepairWhileOutTest : public CheckoutFixture {
 protected:
  void SetUp() override {
    CheckoutFixture::SetUp();
    // The office's administrator keeps this computer's settings as they were
    // before the check-out; the laptop's own then name its copy.
    office_env_ = site_.Environment();
    office_hklm_ = kept_.path() + "/office-hklm.toml";
    std::filesystem::copy_file(office_env_["DOVRANE_HKLM"], office_hklm_);
    office_env_["DOVRANE_HKLM"] = office_hklm_;
    office_env_["DOVRANE_COMPUTERNAME"] = "SRV1";
    ASSERT_EQ(CheckOut(ctx_, kCheckoutHost, list_, answers_), 1) << messenger_.All();
    // The laptop works on its copy: a new project, numbered by its own administration.
    const testing::ProgramResult made = site_.Run({"Feldbuch", "-create", "WS01"});
    ASSERT_EQ(made.status, 0) << made.out << made.err;
  }
  testing::ProgramResult Office(const std::vector<std::string>& args) const {
    return testing::RunProgram(DOVRANE_BIN, args, office_env_, site_.start_dir());
  }
  bool OfficeKnows(const std::string& name) const {
    return Office({name, "-exist"}).status == 0;
  }

  std::map<std::string, std::string> office_env_;
  std::string office_hklm_;
};

TEST_F(RepairWhileOutTest, TheOfficesRestoreAndHostUpdateLeaveTheLaptopsFolderToTheCheckIn) {
  const std::string laptop_folder = Unc("WS01/cad/Prj");
  const std::set<std::string> on_laptop = Entries(laptop_folder);
  ASSERT_FALSE(OfficeKnows("Feldbuch"));

  const testing::ProgramResult restore = Office({"-restore"});
  EXPECT_EQ(restore.status, 0) << restore.out << restore.err;
  const testing::ProgramResult update = Office({"-update", "WS01"});
  EXPECT_EQ(update.status, static_cast<uint8_t>(app::ExitStatusOf(extlib::kPrjHostCheckedOut))) << update.out << update.err;
  EXPECT_NE((update.out + update.err).find("WS01"), std::string::npos) << update.out << update.err;

  // Nothing of the laptop's disk was renamed, renumbered or registered.
  EXPECT_EQ(Entries(laptop_folder), on_laptop);
  EXPECT_FALSE(OfficeKnows("Feldbuch"));
  const testing::InstallationState office = testing::ReadInstallationState(Unc(""), Unc("SRV1/cad/Net"));
  for (uint32_t n : numbers_) {
    ASSERT_TRUE(office.records.count(n)) << "project " << n;
    EXPECT_NE(office.records.at(n).status & kHostCheckedOut, 0u) << "project " << n;
  }

  // The check-in brings the new project home; nothing is left to repair.
  ASSERT_EQ(CheckIn(ctx_, kCheckinHost, list_), 1) << messenger_.All();
  EXPECT_TRUE(OfficeKnows("Feldbuch"));
  const auto checked_in = site_.State();
  const testing::ProgramResult after = site_.Run({"-update"});
  EXPECT_EQ(after.status, 0) << after.out << after.err;
  EXPECT_TRUE(site_.State() == checked_in);
}

// A record of the host out belongs to the laptop until its check-in, even one
// the office's check would mend: a start time past 2038 (a clock decades ahead
// when the project was made) reads as negative, and -restore used to set it to 0.
TEST_F(RepairWhileOutTest, TheOfficesRestoreLeavesTheRecordsOfTheHostOutAsTheyAre) {
  const std::string admin = Unc("SRV1/cad/Net/project.dat");
  std::string text = testing::ReadFile(admin);
  char number[16];
  std::snprintf(number, sizeof number, "@n%07u;", numbers_.at(0));
  const size_t at = text.find(number);
  ASSERT_NE(at, std::string::npos);
  const size_t line = text.rfind('\n', at) + 1;
  ASSERT_EQ(text[line + 75], ';');
  text.replace(line + 76, 8, "A7D88408");  // begin: 2059, past the signed 32 bits
  testing::WriteFile(admin, text);
  const std::string record = text.substr(line, text.find('\r', line) - line);

  const testing::ProgramResult restore = Office({"-restore"});
  EXPECT_EQ(restore.status, 0) << restore.out << restore.err;
  const std::string after = testing::ReadFile(admin);
  const size_t again = after.find(number);
  ASSERT_NE(again, std::string::npos);
  const size_t line_after = after.rfind('\n', again) + 1;
  EXPECT_EQ(after.substr(line_after, after.find('\r', line_after) - line_after), record);
}

// The host named in another letter case than its check-out information file
// (on a share that tells cases apart) is the same host, out all the same.
TEST_F(RepairWhileOutTest, AHostNamedInAnotherCaseIsOutAllTheSame) {
  const auto refused = static_cast<uint8_t>(app::ExitStatusOf(extlib::kPrjHostCheckedOut));
  uint32_t office_project = 1;  // one on another host
  while (std::find(numbers_.begin(), numbers_.end(), office_project) != numbers_.end()) ++office_project;
  for (const std::string host : {"ws01", "Ws01"}) {
    SCOPED_TRACE(host);
    const testing::ProgramResult create = Office({"Neu " + host, "-create", host});
    EXPECT_EQ(create.status, refused) << create.out << create.err;
    EXPECT_FALSE(OfficeKnows("Neu " + host));
    const testing::ProgramResult update = Office({"-update", host});
    EXPECT_EQ(update.status, refused) << update.out << update.err;
    const testing::ProgramResult move = Office({site_.Name(office_project), "-move_y", host});
    EXPECT_EQ(move.status, refused) << move.out << move.err;
  }
}

}  // namespace
}  // namespace dovrane::checkout
