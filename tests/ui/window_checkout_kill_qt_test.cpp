// The host check-out started from the window's "Check Out" button, killed at
// every write, close, rename and folder creation of the check-out's worker
// (the window in a process of its own, tests/ui/window_probe_main.cpp). The
// window started again and its button pressed once more then finishes the
// check-out or takes it back, by the answer to its question:
// afterwards the installation is consistent (no mark without its information
// file, no information file without its mark, no temporary file left, the
// laptop switched over exactly when finished, every record there).
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>

#include "checkout/checkout_fixture.h"
#include "extlib/installation/settings.h"
#include "support/sample_site.h"
#include "support/temp_dir.h"

namespace dovrane::ui {
namespace {

namespace fs = std::filesystem;

class WindowCheckoutKillTest : public ::testing::Test {
 protected:
  static constexpr int kMostRunsPerHalf = 12;

  void SetUp() override {
    // The machine settings in the form the settings library writes them, so
    // that a snapshot compares values, not the sample tool's layout.
    site_.Activate();
    ASSERT_TRUE(extlib::PutSettingString("HKLM", "InstallRoot\\ChkOut_Test", "-"));
    ASSERT_TRUE(extlib::DeleteSetting("HKLM", "InstallRoot\\ChkOut_Test"));
    fs::copy(site_.root(), base_.path() + "/inst", fs::copy_options::recursive);
    before_ = checkout::Snapshot(site_.root());
    records_before_ = site_.State();
  }
  void Restore() {
    fs::remove_all(site_.root());
    fs::copy(base_.path() + "/inst", site_.root(), fs::copy_options::recursive);
  }
  testing::ProgramResult Press(const std::vector<std::string>& answers, const std::string& fault = "") {
    std::vector<std::string> args = {"press"};
    args.insert(args.end(), answers.begin(), answers.end());
    std::map<std::string, std::string> env = {{"QT_QPA_PLATFORM", "offscreen"}};
    if (!fault.empty()) env["DOVRANE_FAULT"] = fault;
    return site_.RunOther(DOVRANE_WINDOW_PROBE, args, env);
  }
  // The worker's calls of a whole check-out from the button.
  std::vector<int> Calls() {
    Restore();
    testing::ProgramResult r = Press({}, "write:100000000:KILL");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::vector<int> calls;
    const size_t at = r.out.find("calls:");
    std::istringstream in(at == std::string::npos ? "" : r.out.substr(at + 6));
    for (int c; in >> c;) calls.push_back(c);
    EXPECT_EQ(calls.size(), 7u) << r.out;
    calls.resize(7);
    return calls;
  }
  // The installation as a take-back leaves it; the user settings file is the
  // window's own (the remembered comment, the switches), not the installation's.
  static std::map<std::string, std::string> View(const std::map<std::string, std::string>& files) {
    auto view = checkout::TakenBackView(files);
    view.erase("/hkcu.toml");
    return view;
  }
  // Whether the machine settings of a snapshot switch the laptop to its copy.
  static bool SwitchedOver(const std::map<std::string, std::string>& files) {
    return files.at("/hklm.toml").find("CheckedOutPath") != std::string::npos;
  }
  // What is wrong with the installation now; "" when consistent. finished:
  // the laptop must be switched over, else it must not be.
  std::string Problems(bool finished) {
    std::string problems;
    const auto files = checkout::Snapshot(site_.root());
    for (const auto& [name, text] : files)
      if (name.find(".new~") != std::string::npos && !name.starts_with("/hklm.toml.new~"))
        problems += "temporary left: " + name + "\n";
    const bool switched = SwitchedOver(files);
    if (switched != finished) problems += finished ? "not switched over\n" : "switched over\n";
    const testing::InstallationState state = site_.State();
    std::set<std::string> names, names_before;
    for (const auto& [n, r] : records_before_.records) names_before.insert(r.name + "@" + r.host);
    for (const auto& [n, r] : state.records) {
      names.insert(r.name + "@" + r.host);
      char out[32];
      std::snprintf(out, sizeof out, "/unc/SRV1/cad/Net/n%07u.out", n);
      const bool marked = (r.status & 0x04) != 0, has_file = files.count(out) != 0;
      if (marked != has_file) problems += std::string(out) + (marked ? ": mark without file\n" : ": file without mark\n");
      if (r.host == "WS01" && marked != finished) problems += std::string(out) + ": mark " + (marked ? "left\n" : "missing\n");
    }
    if (names != names_before) problems += "records changed\n";
    if ((files.count("/unc/SRV1/cad/Net/WS01.out") != 0) != finished) problems += "host file\n";
    if (finished && !files.count("/unc/WS01/cad/Net/project.dat.chkout")) problems += "no copy in place\n";
    if (!finished && View(files) != View(before_))
      problems += "not as before:\n" + checkout::Difference(View(files), View(before_));
    return problems;
  }
  // Kills the check-out from the button at every other call of point (the
  // odd ones when finish, else the even ones), then lets the window recover,
  // finishing the check-out or taking it back. how: KILL or KILL_AFTER.
  void KillAtEvery(const char* point, int index, const char* how, bool finish) {
    const int count = Calls()[index];
    ASSERT_GT(count, 0) << point;
    // Writes and closes are many: the core's kill runs take every one; from
    // the button an even spread of them (a window started twice a point)
    // proves the window's part in a time the sanitizer builds can afford.
    const int step = 2 * std::max(1, count / (2 * kMostRunsPerHalf));
    int recovered = 0;
    for (int nth = finish ? 1 : 2; nth <= count; nth += step) {
      Restore();
      const std::string where = std::string(point) + " " + std::to_string(nth);
      testing::ProgramResult killed = Press({}, std::string(point) + ":" + std::to_string(nth) + ":" + how);
      ASSERT_EQ(killed.signal, SIGKILL) << where << ": the kill was not reached\n" << killed.out;
      const auto after = checkout::Snapshot(site_.root());
      if (SwitchedOver(after)) {
        EXPECT_EQ(Problems(true), "") << where << " (went through)";
        continue;
      }
      if (View(after) == View(before_)) continue;  // nothing began
      testing::ProgramResult again = Press({finish ? "yes" : "no"});
      EXPECT_EQ(again.status, 0) << where << "\n" << again.out << again.err;
      EXPECT_NE(again.out.find("was cut short"), std::string::npos)
          << where << ": no question\n" << again.out
          << checkout::Difference(View(after), View(before_));
      EXPECT_EQ(Problems(finish), "") << where << (finish ? " finished" : " taken back") << "\n" << again.out;
      ++recovered;
      if (::testing::Test::HasFailure()) return;  // one broken point is enough to read
    }
    EXPECT_GT(recovered, 0) << point;
  }

  testing::SampleSite site_{8, 2, true};
  testing::TempDir base_;
  std::map<std::string, std::string> before_;
  testing::InstallationState records_before_;
};

// The indexes of the calls the probe prints: open write sync rename close
// unlink mkdir. Each kind of call in two halves: the window finishes the
// check-outs killed at the odd calls and takes back those killed at the even ones.
TEST_F(WindowCheckoutKillTest, KilledAtAnOddWriteTheWindowFinishes) { KillAtEvery("write", 1, "KILL", true); }
TEST_F(WindowCheckoutKillTest, KilledAtAnEvenWriteTheWindowTakesBack) { KillAtEvery("write", 1, "KILL", false); }
TEST_F(WindowCheckoutKillTest, KilledAfterAnOddRenameTheWindowFinishes) {
  KillAtEvery("rename", 3, "KILL_AFTER", true);
}
TEST_F(WindowCheckoutKillTest, KilledAfterAnEvenRenameTheWindowTakesBack) {
  KillAtEvery("rename", 3, "KILL_AFTER", false);
}
TEST_F(WindowCheckoutKillTest, KilledAtAnOddCloseTheWindowFinishes) { KillAtEvery("close", 4, "KILL", true); }
TEST_F(WindowCheckoutKillTest, KilledAtAnEvenCloseTheWindowTakesBack) { KillAtEvery("close", 4, "KILL", false); }
TEST_F(WindowCheckoutKillTest, KilledAfterAnOddFolderCreationTheWindowFinishes) {
  KillAtEvery("mkdir", 6, "KILL_AFTER", true);
}
TEST_F(WindowCheckoutKillTest, KilledAfterAnEvenFolderCreationTheWindowTakesBack) {
  KillAtEvery("mkdir", 6, "KILL_AFTER", false);
}

// The host check-in started from the button of a checked-out laptop, killed
// after every rename and every deletion of its worker: the window started
// again offers "Check In" and, pressed, finishes the check-in (saying so when
// one was under way). Afterwards the host is checked in whole: neither
// setting, no mark, no information file, no copy of \Net, no temporary.
class WindowCheckinKillTest : public WindowCheckoutKillTest {
 protected:
  void SetUp() override {
    WindowCheckoutKillTest::SetUp();
    testing::ProgramResult out = Press({});
    ASSERT_EQ(out.status, 0) << out.out << out.err;
    ASSERT_TRUE(SwitchedOver(checkout::Snapshot(site_.root()))) << out.out;
    fs::remove_all(base_.path() + "/inst");
    fs::copy(site_.root(), base_.path() + "/inst", fs::copy_options::recursive);
  }
  std::string NotCheckedIn() {
    std::string problems;
    const auto files = checkout::Snapshot(site_.root());
    const std::string& settings = files.at("/hklm.toml");
    if (settings.find("CheckedOutPath") != std::string::npos) problems += "CheckedOutPath left\n";
    if (settings.find("CheckingInPath") != std::string::npos) problems += "CheckingInPath left\n";
    for (const auto& [name, text] : files) {
      if ((name.find(".new~") != std::string::npos || name.find(".del~") != std::string::npos) &&
          !name.starts_with("/hklm.toml.new~"))
        problems += "temporary left: " + name + "\n";
      if (name.starts_with("/unc/SRV1/cad/Net/") && name.ends_with(".out")) problems += "left: " + name + "\n";
    }
    if (files.count("/unc/WS01/cad/Net/project.dat.chkout")) problems += "copy left\n";
    const testing::InstallationState state = site_.State();
    for (const auto& [n, r] : state.records)
      if (r.status & 0x04) problems += "marked: " + std::to_string(n) + "\n";
    for (const auto& [n, r] : records_before_.records)
      if (!state.records.count(n)) problems += "record lost: " + std::to_string(n) + "\n";
    return problems;
  }
  void KillAtEvery(const char* point, int index) {
    const int count = Calls()[index];
    ASSERT_GT(count, 0) << point;
    for (int nth = 1; nth <= count; ++nth) {
      Restore();
      const std::string where = std::string(point) + " " + std::to_string(nth);
      testing::ProgramResult killed = Press({}, std::string(point) + ":" + std::to_string(nth) + ":KILL_AFTER");
      ASSERT_EQ(killed.signal, SIGKILL) << where << ": the kill was not reached\n" << killed.out;
      const std::string settings = checkout::Snapshot(site_.root()).at("/hklm.toml");
      const bool under_way = settings.find("CheckingInPath") != std::string::npos;
      if (!under_way && settings.find("CheckedOutPath") == std::string::npos) {
        // Killed after its last step: checked in already.
        EXPECT_EQ(NotCheckedIn(), "") << where;
        continue;
      }
      testing::ProgramResult again = Press({});
      EXPECT_EQ(again.status, 0) << where << "\n" << again.out << again.err;
      if (under_way) {
        EXPECT_NE(again.out.find("cut short is finished"), std::string::npos) << where << "\n" << again.out;
      }
      EXPECT_EQ(NotCheckedIn(), "") << where << "\n" << again.out << "settings after the kill:\n" << settings;
      if (::testing::Test::HasFailure()) return;
    }
  }
};

TEST_F(WindowCheckinKillTest, KilledAfterEveryRenameTheWindowFinishesTheCheckIn) { KillAtEvery("rename", 3); }
TEST_F(WindowCheckinKillTest, KilledAfterEveryDeletionTheWindowFinishesTheCheckIn) { KillAtEvery("unlink", 5); }

}  // namespace
}  // namespace dovrane::ui
