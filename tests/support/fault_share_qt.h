// Waiting on the test share from the window's thread: the share's own wait
// runs on a helper thread while the event loop keeps turning, so that the
// window under test (its boxes, its workers' results) goes on meanwhile.
#pragma once

#include <QTest>
#include <chrono>
#include <future>

#include "support/fault_share.h"

namespace dovrane::testing {

// Until at least n calls hang in share (at most timeout_ms).
inline bool WaitForHungWhileTurning(FaultShare& share, long n, int timeout_ms) {
  std::future<bool> hung = std::async(std::launch::async, [&share, n, timeout_ms] { return share.WaitForHung(n, timeout_ms); });
  // The share answers by timeout_ms; its answer decides, not this wait.
  (void)QTest::qWaitFor([&hung] { return hung.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                  timeout_ms + 2000);
  return hung.get();
}

}  // namespace dovrane::testing
