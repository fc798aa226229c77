// The host list is rewritten whole: failed at every point, data.cfg keeps the
// old list or holds the new one, never a part.
#include <gtest/gtest.h>

#include "extlib/installation/hosts.h"
#include "extlib/installation/operation_context.h"
#include "platform/fault_injection_env.h"
#include "support/small_installation.h"

namespace dovrane::extlib {
namespace {

TEST(HostListRewriteTest, EveryFailurePointLeavesTheOldOrTheNewList) {
  testing::SmallInstallation inst;
  std::vector<HostEntry> old_hosts;
  ASSERT_EQ(ReadHostList(DefaultContext(), &old_hosts), 0);
  const std::string old_text = inst.dir.Read("SRV1/cad/Net/data.cfg");
  std::vector<HostEntry> new_hosts = old_hosts;
  new_hosts.push_back({"LAPTOP", "\\Daten\\Cad"});
  const std::string new_text = FormatHostList(new_hosts);
  using platform::FaultPoint;
  for (FaultPoint point : {FaultPoint::kOpen, FaultPoint::kWrite, FaultPoint::kSync, FaultPoint::kClose,
                           FaultPoint::kRename}) {
    for (int n = 1;; ++n) {
      inst.dir.Write("SRV1/cad/Net/data.cfg", old_text);
      platform::FaultInjectionEnv faulty;
      faulty.Arm(point, n, ENOSPC);
      platform::Env* previous = platform::SetCurrentEnv(&faulty);
      int rc = WriteHostList(DefaultContext(), new_hosts);
      platform::SetCurrentEnv(previous);
      const std::string now = inst.dir.Read("SRV1/cad/Net/data.cfg");
      if (!faulty.Fired()) {
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(now, new_text);
        break;
      }
      EXPECT_TRUE(rc != 0 ? now == old_text : now == new_text) << static_cast<int>(point) << " #" << n;
    }
  }
}

}  // namespace
}  // namespace dovrane::extlib
