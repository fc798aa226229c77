#include "services/window_progress.h"

#include <gtest/gtest.h>

#include "platform/manual_clock_env.h"

namespace dovrane::services {
namespace {

TEST(WindowProgressTest, EstimateAppearsAfterAFewSecondsAndFollowsTheRate) {
  struct Case {
    int64_t elapsed_ms;
    double fraction;
    int64_t seconds;
  };
  const Case cases[] = {{2999, 0.5, -1}, {3000, 0.5, 3},  {4000, 0.25, 12},   {3000, 0.0, -1},
                        {3000, 1.0, -1}, {10000, 0.9, 2}, {3000, 1e-12, 1000000000}};
  for (const Case& c : cases)
    EXPECT_EQ(EstimateSecondsLeft(c.elapsed_ms, c.fraction), c.seconds) << c.elapsed_ms << " " << c.fraction;
  const std::pair<int64_t, const char*> texts[] = {{-1, ""}, {0, "0:00"}, {59, "0:59"}, {61, "1:01"}, {3725, "1:02:05"}};
  for (const auto& [seconds, text] : texts) EXPECT_EQ(FormatTimeLeft(seconds), text);
}

TEST(WindowProgressTest, CountedRunShowsRisingPercentagesAndTheTimeLeft) {
  platform::ManualClockEnv clock;
  WindowProgress progress(&clock);
  progress.StartCounted(200);
  const std::pair<double, unsigned> steps[] = {{1, 0}, {1.9, 1}, {-1, 1}, {97, 49}, {150, 124}};
  for (const auto& [amount, percent] : steps) {
    uint64_t before = progress.Take().generation;
    progress.Advance(amount);
    EXPECT_EQ(progress.Take().percent, percent) << amount;
    EXPECT_EQ(progress.Take().generation != before, amount != 1 && amount != -1) << amount;
  }
  progress.StartCounted(100);
  progress.Advance(25);
  EXPECT_EQ(progress.Take().seconds_left, -1);
  clock.Advance(4000);
  EXPECT_EQ(progress.Take().seconds_left, 12);
  progress.Finish();
  EXPECT_EQ(progress.Take().percent, 100u);
  EXPECT_EQ(progress.Take().seconds_left, -1);
}

TEST(WindowProgressTest, LineShowsTheLastLineAndCancelIsAsked) {
  WindowProgress progress;
  progress.Title("Kopie");
  progress.Line("first\nsecond\r\n");
  EXPECT_EQ(progress.Take().line, "second");
  progress.Line("\n");  // an empty line keeps the text shown
  EXPECT_EQ(progress.Take().line, "second");
  EXPECT_EQ(progress.Take().title, "Kopie");
  EXPECT_FALSE(progress.CancelRequested());
  progress.RequestCancel();
  EXPECT_TRUE(progress.CancelRequested());
}

}  // namespace
}  // namespace dovrane::services
