#include "extlib/installation/progress.h"

#include <gtest/gtest.h>

#include <thread>

#include "extlib/installation/installation.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "services/console.h"
#include "support/recording_messenger.h"
#include "support/stopping_progress.h"

namespace dovrane::extlib {
namespace {

TEST(ProgressTest, MeterShowsOnlyRisingTruncatedPercentages) {
  struct Step {
    double amount;
    bool shown;
    unsigned percent;
  };
  ProgressMeter meter;
  meter.Start(200);
  const Step steps[] = {{1, false, 0},   {1.9, true, 1},   {-1, false, 0},   {99, true, 50},
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

// Failed copies add -1, amounts overshoot, a run may have no total: the bar
// never goes back, never passes its end, and stands at its end when finished.
TEST(ProgressTest, FractionNeverDecreasesAndEndsAtOne) {
  const std::vector<std::vector<double>> runs = {{100, 10, -1, 30, -50, 200, 5}, {0, 1, 2}, {3, -1, -1}};
  for (const auto& run : runs) {
    testing::StoppingProgress bar;
    bar.StartCounted(run[0]);
    for (size_t i = 1; i < run.size(); ++i) bar.Advance(run[i]);
    bar.Finish();
    for (size_t i = 1; i < bar.fractions.size(); ++i) {
      EXPECT_GE(bar.fractions[i], bar.fractions[i - 1]) << i;
      EXPECT_LE(bar.fractions[i], 1.0) << i;
    }
    EXPECT_EQ(bar.fractions.back(), 1.0);
  }
}

// The command line's progress writes exactly what its console wrote: the
// title headed, each line as given, nothing for counted runs.
TEST(ProgressTest, ConsoleWritesTitleAndLinesOnly) {
  testing::RecordingMessenger terminal;
  services::ConsoleProgress console;
  OperationContext ctx(extlib::ProcessInstallation(), nullptr, &console);
  ctx.Title("prjAdmUpdate");
  console.StartCounted(10);
  console.Advance(5);
  ctx.Print("%d projects found\n", 3);
  ctx.Print("Compress Project Attributes ...");
  EXPECT_EQ(terminal.lines, (std::vector<std::string>{"== prjAdmUpdate ==\n", "3 projects found\n",
                                                      "Compress Project Attributes ..."}));
  EXPECT_FALSE(ctx.Cancelled());
}

// The library's messages are switched off for one operation on one thread:
// another operation's messages still show.
TEST(ProgressTest, MessageSwitchStaysWithItsOperation) {
  testing::RecordingMessenger terminal;
  OperationContext lookup{extlib::ProcessInstallation()};
  const int previous = Msg2usr_Switch(lookup, 1);
  EXPECT_EQ(previous, 0);
  EXPECT_FALSE(lookup.library_messages);
  std::thread other([] { LibraryMessage(DefaultContext(), 0, "shown elsewhere"); });
  other.join();
  LibraryMessage(lookup, 0, "not shown");
  Msg2usr_Switch(lookup, previous);
  LibraryMessage(lookup, 0, "shown again");
  EXPECT_EQ(terminal.texts, (std::vector<std::string>{"shown elsewhere", "shown again"}));
  EXPECT_TRUE(DefaultContext().library_messages);
}

}  // namespace
}  // namespace dovrane::extlib
