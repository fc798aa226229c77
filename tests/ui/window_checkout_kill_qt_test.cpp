// The host check-out started from the window's "Check Out" button, killed at
// every write, close, rename and folder creation of the check-out's worker
// (the window in a process of its own, tests/ui/window_probe_main.cpp). The
// window started again and its button pressed once more then finishes the
// check-out or takes it back, by the answer to its question, alternately:
// afterwards the installation is consistent (no mark without its information
// file, no information file without its mark, no temporary file left, the
// laptop switched over exactly when finished, every record there).
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>

#include "checkout/checkout_fixture.h"
#include "extlib/settings.h"
#include "support/sample_site.h"
#include "support/temp_dir.h"

namespace dovrane::ui {
namespace {

namespace fs = std::filesystem;

class WindowCheckoutKillTest : public ::testing::Test {
 protected:
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
  // Kills the check-out from the button at every call of point, then lets
  // the window recover. how: KILL or KILL_AFTER.
  void KillAtEvery(const char* point, int index, const char* how) {
    const int count = Calls()[index];
    ASSERT_GT(count, 0) << point;
    int recovered = 0;
    for (int nth = 1; nth <= count; ++nth) {
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
      // Alternately finished (Yes) and taken back (No).
      const bool finish = nth % 2 == 1;
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

// The indexes of the calls the probe prints: open write sync rename close unlink mkdir.
TEST_F(WindowCheckoutKillTest, KilledAtEveryWriteTheWindowFinishesOrTakesBack) { KillAtEvery("write", 1, "KILL"); }
TEST_F(WindowCheckoutKillTest, KilledAfterEveryRenameTheWindowFinishesOrTakesBack) {
  KillAtEvery("rename", 3, "KILL_AFTER");
}
TEST_F(WindowCheckoutKillTest, KilledAtEveryCloseTheWindowFinishesOrTakesBack) { KillAtEvery("close", 4, "KILL"); }
TEST_F(WindowCheckoutKillTest, KilledAfterEveryFolderCreationTheWindowFinishesOrTakesBack) {
  KillAtEvery("mkdir", 6, "KILL_AFTER");
}

}  // namespace
}  // namespace dovrane::ui
