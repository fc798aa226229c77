// The progress of long repairs on a terminal, and on anything else.
#include "app/terminal_progress.h"

#include <gtest/gtest.h>

#include "support/pty_program.h"
#include "support/sample_installation.h"
#include "support/temp_dir.h"

namespace dovrane::app {
namespace {

TEST(TerminalProgressTest, StatusTextNamesDoneTotalRateAndTimeLeft) {
  const std::tuple<double, double, int64_t, std::string> cases[] = {
      {0, 10, 0, "0 of 10, 0.0/s"},                   // nothing done: no time left to tell
      {5, 10, 1000, "5 of 10, 5.0/s, 0:01 left"},
      {120, 400, 3400, "120 of 400, 35.3/s, 0:08 left"},
      {100, 100000, 1000, "100 of 100000, 100.0/s, 16:39 left"},
  };
  for (const auto& [done, total, ms, text] : cases) EXPECT_EQ(StatusText(done, total, ms), text);
}

// On a terminal the projects' lines give way to one status line, and go to
// the trace file; --verbose shows them too; a pipe gets every line as before.
TEST(TerminalProgressTest, RepairOnATerminalShowsHeadingsAndOneStatusLine) {
  testing::SampleInstallation inst({"--hosts", "2", "--projects", "8"});
  const std::string trace = inst.root() + "/local/Pelomar/work/STDERR.OUT";
  auto quiet = testing::RunProgramOnTerminal(DOVRANE_BIN, {"-restore"}, "", inst.Environment(), inst.root());
  EXPECT_EQ(quiet.status, 0) << quiet.out;
  EXPECT_NE(quiet.out.find("== prjAdmUpdate =="), std::string::npos) << quiet.out;
  EXPECT_NE(quiet.out.find(" of 8, "), std::string::npos) << quiet.out;
  EXPECT_EQ(quiet.out.find("\t<"), std::string::npos) << quiet.out;
  EXPECT_NE(testing::ReadFile(trace).find("\t<"), std::string::npos);
  auto verbose = testing::RunProgramOnTerminal(DOVRANE_BIN, {"--verbose", "-restore"}, "", inst.Environment(),
                                               inst.root());
  EXPECT_NE(verbose.out.find("\t<"), std::string::npos) << verbose.out;
  auto piped = inst.Run({"-restore"});
  EXPECT_EQ(piped.out.find("\x1b[K"), std::string::npos);
  EXPECT_NE(piped.out.find("\t<"), std::string::npos) << piped.out;
}

}  // namespace
}  // namespace dovrane::app
