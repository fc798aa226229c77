#include "ui/stall_meter_qt.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>
#include <chrono>
#include <thread>

namespace dovrane::ui {
namespace {

TEST(StallMeterTest, WorkHoldingTheWindowThreadShowsAsTheLongestGap) {
  StallMeter meter;
  meter.Start();
  bool blocked = false;
  // The stall being measured: the window thread is held for 150 ms.
  QTimer::singleShot(20, [&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    blocked = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return blocked; }, 5000));
  QTest::qWait(20);
  meter.Stop();
  EXPECT_GE(meter.LongestMs(), 150);
  meter.Start();  // starts over
  EXPECT_LT(meter.LongestMs(), 150);
}

}  // namespace
}  // namespace dovrane::ui
