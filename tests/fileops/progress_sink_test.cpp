#include "fileops/progress_sink.h"

#include "fileops_test_support.h"

namespace dovrane::fileops {
namespace {

TEST(ProgressSinkTest, MeterShowsOnlyRisingTruncatedPercentages) {
  struct Step {
    double amount;
    bool shown;
    unsigned percent;
  };
  ProgressMeter meter;
  meter.Start(200);
  const Step steps[] = {{1, false, 0},   {1.9, true, 1},  {-1, false, 0},  {99, true, 50},
                        {0.5, false, 0}, {150, true, 125}, {-200, false, 0}, {1, false, 0}};
  for (const Step& s : steps) {
    unsigned percent = 0;
    EXPECT_EQ(meter.Advance(s.amount, &percent), s.shown) << s.amount;
    if (s.shown) {
      EXPECT_EQ(percent, s.percent);
    }
  }
  EXPECT_EQ(meter.Shown(), 125u);  // past 100 when the amounts exceed the total
  meter.Start(0);
  unsigned percent = 0;
  EXPECT_FALSE(meter.Advance(10, &percent));  // no total: nothing to divide by
}

TEST(ProgressSinkTest, TerminalSinkWritesTitleTextAndTenths) {
  testing::RecordingMessenger box;
  TerminalProgressSink sink;
  sink.SetTitle("\\\\SRV\\cad\\Net\\*.*");
  sink.StartCounted(1000);
  for (int i = 0; i < 10; ++i) sink.Advance(35);  // 3.5 % a step
  EXPECT_EQ(box.lines, (std::vector<std::string>{"\\\\SRV\\cad\\Net\\*.*\n", "  10 %\n", "  20 %\n", "  30 %\n"}));
}

}  // namespace
}  // namespace dovrane::fileops
