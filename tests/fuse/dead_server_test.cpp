// One dead data server must not stop the office: while SRV3's share hangs in
// the kernel (the test file system of the share stage), the programs that
// meet it must hold no lock on a shared file, so that another program's
// create on SRV1 goes through in its usual time; and they end by
// themselves, naming the host. Run by the CTest test fuse_stage; skipped
// elsewhere.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/background_program.h"
#include "support/fault_share.h"
#include "support/sample_installation.h"

namespace dovrane::testing {
namespace {

long MsSince(std::chrono::steady_clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

// The programs that meet the hanging host, by what they are given.
struct Meeting {
  const char* label;
  std::vector<std::string> (*args)(const InstallationState& state);
};

void PrintTo(const Meeting& m, std::ostream* os) { *os << m.label; }

std::string FirstOn(const InstallationState& s, const std::string& host) {
  for (const auto& [number, r] : s.records)
    if (r.host == host) return r.name;
  return "";
}

const Meeting kMeetings[] = {
    {"UpdateOfTheHost", [](const InstallationState&) { return std::vector<std::string>{"-update", "SRV3"}; }},
    {"Restore", [](const InstallationState&) { return std::vector<std::string>{"-restore"}; }},
    {"MoveOntoIt", [](const InstallationState& s) { return std::vector<std::string>{FirstOn(s, "SRV1"), "-move", "SRV3"}; }},
    {"MoveOffIt", [](const InstallationState& s) { return std::vector<std::string>{FirstOn(s, "SRV3"), "-move", "SRV1"}; }},
    {"EraseOnIt", [](const InstallationState& s) { return std::vector<std::string>{FirstOn(s, "SRV3"), "-erase_y"}; }},
    {"CheckinOfAFolderOnIt",
     [](const InstallationState&) { return std::vector<std::string>{"-checkin", "\\\\SRV3\\cad\\Prj\\Kopie.prj"}; }},
};

class FuseStageDeadServer : public ::testing::TestWithParam<Meeting> {
 protected:
  void SetUp() override {
    const char* stage = std::getenv("DOVRANE_FUSE_STAGE");
    if (!stage || !*stage) GTEST_SKIP() << "no test share: run the CTest test fuse_stage";
    if (std::string why = FaultShare::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  }
};

TEST_P(FuseStageDeadServer, OthersCreateOnSrv1InTheirUsualTime) {
  SampleInstallation inst({"--hosts", "3", "--projects", "12", "--seed", "5"});
  const InstallationState before = inst.State();
  ASSERT_FALSE(FirstOn(before, "SRV1").empty());
  ASSERT_FALSE(FirstOn(before, "SRV3").empty());
  // The runs give up on a share after 2 s.
  const std::string hklm = inst.Environment().at("DOVRANE_HKLM");
  std::string settings = ReadFile(hklm);
  ASSERT_NE(settings.find("[InstallRoot]\n"), std::string::npos);
  settings.replace(settings.find("[InstallRoot]\n"), 14, "[InstallRoot]\nShareWaitSeconds = 2\n");
  WriteFile(hklm, settings);
  // A plain folder a check-in could register.
  WriteFile(inst.unc_root() + "/SRV3/cad/Prj/Kopie.prj/data.txt", "x");

  FaultShare share(inst.unc_root() + "/SRV3/cad");
  ASSERT_TRUE(share.mounted()) << share.error();

  // The usual time of a create, with the share alive (the best of two).
  long usual = 1 << 30;
  for (const char* name : {"Usual1", "Usual2"}) {
    auto start = std::chrono::steady_clock::now();
    ProgramResult r = inst.Run({name, "-create", "SRV1"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    usual = std::min(usual, MsSince(start));
  }

  share.Control("dead hang");
  const std::vector<std::string> args = GetParam().args(before);
  BackgroundProgram meeting(DOVRANE_BIN, args, inst.Environment(), inst.root());
  // The program is inside a call on the share (the share says when).
  const bool met = share.WaitForHung(1, 10000);
  ASSERT_TRUE(met || meeting.Running())
      << "the program ended before it met the share: " << meeting.result().out << meeting.result().err;

  // Another program works on SRV1 meanwhile: no lock of a shared file is
  // held by the one that waits (a held record lock makes it wait 10 s).
  auto start = std::chrono::steady_clock::now();
  ProgramResult r = inst.Run({"WhileSrv3Hangs", "-create", "SRV1"});
  const long took = MsSince(start);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_LT(took, std::max(3 * usual, usual + 2000)) << "usual " << usual << " ms";
  ProgramResult list = inst.Run({"--list"});
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("WhileSrv3Hangs"), std::string::npos);

  // The program that met the hanging host gives up on it by itself, names
  // it, and leaves its records.
  const bool ended = meeting.Wait(8000);
  EXPECT_TRUE(ended) << "still waiting on the dead share after 8 s (its deadline is 2 s)";
  if (ended) {
    const ProgramResult& m = meeting.result();
    EXPECT_EQ(m.status, 250) << m.out << m.err;  // -6: host not reachable
    EXPECT_NE(m.err.find("Host SRV3 does not answer"), std::string::npos) << m.out << m.err;
    EXPECT_GE(meeting.elapsed_ms(), 2000);
  }
  meeting.Kill();
  share.Unmount();
  // What it left half done, the next run completes.
  ProgramResult update = inst.Run({"-update"});
  EXPECT_EQ(update.status, 0) << update.out << update.err;
  const InstallationState after = inst.State();
  EXPECT_TRUE(after.admin_readable) << after.problem;
  for (const auto& [number, rec] : before.records) {
    if (rec.host != "SRV3") continue;
    auto it = after.records.find(number);
    ASSERT_NE(it, after.records.end()) << "the record of " << rec.name << " on SRV3 was lost";
    EXPECT_EQ(it->second.host, "SRV3") << rec.name;
  }
  EXPECT_EQ(ConsistencyProblems(after), "");
}

INSTANTIATE_TEST_SUITE_P(Programs, FuseStageDeadServer, ::testing::ValuesIn(kMeetings),
                         [](const ::testing::TestParamInfo<Meeting>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace dovrane::testing
