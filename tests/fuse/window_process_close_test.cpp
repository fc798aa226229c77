// The real dovrane-window, a process of its own (offscreen), on an
// installation whose SRV3 share hangs in the kernel (the test file system of
// the share stage): once its checks of SRV3 are stuck there, SIGTERM closes
// the window as its close button does, and the process ends within a
// second with status 0, leaving the stuck threads to the kernel. Run by the
// CTest test fuse_stage; skipped elsewhere.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>

#include "support/background_program.h"
#include "support/fault_share.h"
#include "support/sample_site.h"
#include "support/temp_dir.h"

namespace dovrane::testing {
namespace {

class FuseStageWindowProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* stage = std::getenv("DOVRANE_FUSE_STAGE");
    if (!stage || !*stage) GTEST_SKIP() << "no test share: run the CTest test fuse_stage";
    if (std::string why = FaultShare::Unavailable(); !why.empty()) GTEST_SKIP() << why;
#ifndef DOVRANE_WINDOW_BIN
    GTEST_SKIP() << "built without the window";
#endif
  }
};

#ifdef DOVRANE_WINDOW_BIN
TEST_F(FuseStageWindowProcess, ASignalClosesTheWindowAtOnceWhileItsChecksHang) {
  SampleSite site(12, 3);
  FaultShare share(site.unc_root() + "/SRV3/cad");
  ASSERT_TRUE(share.mounted()) << share.error();
  // The sample's hosts are made up: no pinging, so the checks look at the
  // hosts' shares (the lock files of their projects).
  WriteFile(site.start_dir() + "/noping", "");
  WriteFile(site.WorkDir() + "/noping", "");
  share.Control("dead hang");
  std::map<std::string, std::string> env = site.Environment();
  env["QT_QPA_PLATFORM"] = "offscreen";
  BackgroundProgram window(DOVRANE_WINDOW_BIN, {}, env, site.start_dir());
  ASSERT_TRUE(share.WaitForHung(1, 30000)) << "the window never reached SRV3's share\n"
                                           << window.result().out << window.result().err;
  ASSERT_TRUE(window.Running()) << window.result().err;

  const auto signalled = std::chrono::steady_clock::now();
  window.Signal(SIGTERM);
  // Three seconds at most, so that a window that waits fails instead of hanging.
  const bool ended = window.Wait(3000);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - signalled);
  ASSERT_TRUE(ended) << "the window did not end within 3 s of SIGTERM";
  EXPECT_LT(took.count(), 1000) << "the window waited for threads stuck on the share";
  EXPECT_EQ(window.result().signal, 0) << "cut off by the signal instead of closing";
  EXPECT_EQ(window.result().status, 0) << window.result().err;
}
#endif

}  // namespace
}  // namespace dovrane::testing
