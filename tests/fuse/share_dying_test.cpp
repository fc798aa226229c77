// A share that dies halfway loses nothing: SRV3's share (the test file
// system of the share stage) stops answering (every call fails with
// ENOTCONN) after the k-th call a command makes on it. The command fails,
// naming the host and the cause, or completes; the next -update, with the
// share back, leaves a whole installation: every project before the run is
// there, on the host of the run before or after it. Run by the CTest test
// fuse_stage; skipped elsewhere.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "support/fault_share.h"
#include "support/sample_installation.h"
#include "support/temp_dir.h"

namespace dovrane::testing {
namespace {

struct Operation {
  const char* label;
  // The command for the installation as it is; the project it is about.
  std::vector<std::string> (*args)(const InstallationState& state);
};

void PrintTo(const Operation& o, std::ostream* os) { *os << o.label; }

std::string FirstOn(const InstallationState& s, const std::string& host) {
  for (const auto& [number, r] : s.records)
    if (r.host == host) return r.name;
  return "";
}

const Operation kOperations[] = {
    {"Create", [](const InstallationState&) { return std::vector<std::string>{"Neu", "-create", "SRV3"}; }},
    {"Erase", [](const InstallationState& s) { return std::vector<std::string>{FirstOn(s, "SRV3"), "-erase_y"}; }},
    {"MoveOntoIt", [](const InstallationState& s) { return std::vector<std::string>{FirstOn(s, "SRV1"), "-move", "SRV3"}; }},
    {"MoveOffIt", [](const InstallationState& s) { return std::vector<std::string>{FirstOn(s, "SRV3"), "-move", "SRV2"}; }},
};

// At most this many points of death for one command: every call while the
// command makes fewer, else points spread evenly over its calls (the first
// and last included), which keeps the stage short.
#if defined(__SANITIZE_THREAD__)
constexpr long kMostPoints = 8;  // ThreadSanitizer runs each command several times slower
#else
constexpr long kMostPoints = 24;
#endif

std::vector<long> Points(long calls) {
  std::vector<long> points;
  if (calls <= kMostPoints) {
    for (long k = 0; k < calls; ++k) points.push_back(k);
    return points;
  }
  std::set<long> spread;
  for (long i = 0; i < kMostPoints; ++i) spread.insert(i * (calls - 1) / (kMostPoints - 1));
  return {spread.begin(), spread.end()};
}

class FuseStageShareDying : public ::testing::TestWithParam<Operation> {
 protected:
  void SetUp() override {
    const char* stage = std::getenv("DOVRANE_FUSE_STAGE");
    if (!stage || !*stage) GTEST_SKIP() << "no test share: run the CTest test fuse_stage";
    if (std::string why = FaultShare::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  }
};

TEST_P(FuseStageShareDying, AfterEveryCallLosesNothing) {
  SampleInstallation inst({"--hosts", "3", "--projects", "9", "--seed", "7"});
  const std::string base = inst.root();
  const InstallationState before = inst.State();
  const std::vector<std::string> args = GetParam().args(before);
  ASSERT_FALSE(args.front().empty());
  const std::string project = args.front();

  // The run without fault: how many calls it makes on the share, and its end state.
  TempDir work;
  const std::string copy = work / "run";
  // A fresh copy of the installation for each run.
  auto fresh = [&] {
    inst.Rebase(base);
    SampleInstallation::CopyInstallation(base, copy);
    inst.Rebase(copy);
  };
  fresh();
  long calls = 0;
  InstallationState done;
  {
    FaultShare share(copy + "/unc/SRV3/cad");
    ASSERT_TRUE(share.mounted()) << share.error();
    const long start = share.Calls();
    ProgramResult r = inst.Run(args);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    calls = share.Calls() - start;
  }
  done = inst.State();
  ASSERT_GT(calls, 0) << "the command made no call on SRV3's share";

  for (long k : Points(calls)) {
    SCOPED_TRACE("the share dies after call " + std::to_string(k) + " of " + std::to_string(calls));
    fresh();
    ProgramResult r;
    {
      FaultShare share(copy + "/unc/SRV3/cad");
      ASSERT_TRUE(share.mounted()) << share.error();
      share.Control("dead enotconn after " + std::to_string(k));
      r = inst.Run(args);
      EXPECT_EQ(r.signal, 0);
      if (r.status != 0) {
        const std::string said = r.out + r.err;
        EXPECT_NE(said.find("SRV3"), std::string::npos) << "the host is not named: " << said;
        EXPECT_NE(said.find(std::strerror(ENOTCONN)), std::string::npos) << "the cause is not named: " << said;
        // An update while the host is still gone must not take "cannot
        // tell" for "nothing left" and drop what would put it right.
        EXPECT_EQ(inst.Run({"-update"}).signal, 0);
      }
    }
    // The share is back: the next run completes or takes back what was cut short.
    ProgramResult update = inst.Run({"-update"});
    EXPECT_EQ(update.status, 0) << update.out << update.err;
    const InstallationState after = inst.State();
    ASSERT_TRUE(after.admin_readable) << after.problem;
    EXPECT_EQ(ConsistencyProblems(after), "") << r.out << r.err;
    if (r.status == 0) {
      EXPECT_EQ(after.records, done.records) << "it ended with 0 and yet did not do its work";
    } else if (after.records != before.records && after.records != done.records) {
      ADD_FAILURE() << "neither the state before nor after the command: " << r.out << r.err;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Commands, FuseStageShareDying, ::testing::ValuesIn(kOperations),
                         [](const ::testing::TestParamInfo<Operation>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace dovrane::testing
