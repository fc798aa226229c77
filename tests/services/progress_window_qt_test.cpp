#include "services/progress_window_dlg.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "platform/manual_clock_env.h"
#include "services/ui_text_test_env.h"

namespace dovrane::services {
namespace {

class ProgressWindowTest : public ::testing::Test {
 protected:
  template <typename T>
  T* Child(const char* name) {
    return window_.findChild<T*>(QString::fromLatin1(name));
  }
  QProgressBar* bar() { return Child<QProgressBar>("bar"); }

  services::testing::UiTextEnv texts_;
  platform::ManualClockEnv clock_;
  WindowProgress progress_{&clock_};
  CProgressWindow window_{&progress_};
};

TEST_F(ProgressWindowTest, BarShowsTheCountedPercentagesAndStaysFullPastTheTotal) {
  progress_.Title("Kopie nach D\xe4nemark");
  progress_.StartCounted(200);
  const std::pair<double, int> steps[] = {{1, 0}, {1.9, 1}, {-1, 1}, {97, 49}, {150, 100}};
  for (const auto& [amount, value] : steps) {
    progress_.Advance(amount);
    window_.Refresh();
    EXPECT_EQ(bar()->value(), value) << amount;
  }
  EXPECT_EQ(window_.windowTitle(), QStringLiteral("Kopie nach Dänemark"));
  progress_.StartCounted(10);  // a new run starts from an empty bar
  window_.Refresh();
  EXPECT_EQ(bar()->value(), 0);
}

TEST_F(ProgressWindowTest, WorkerUpdatesReachTheWindowByItsOwnTimer) {
  progress_.StartCounted(4);
  progress_.Line("C:\\prj\\n0000012.prj\\<plan>.dwg\n");
  progress_.Advance(2);
  EXPECT_TRUE(QTest::qWaitFor([&] { return bar()->value() == 50; }, 2000));
  EXPECT_EQ(Child<QLabel>("line")->text(), QStringLiteral("C:\\prj\\n0000012.prj\\<plan>.dwg"));
  EXPECT_EQ(Child<QLabel>("line")->textFormat(), Qt::PlainText);
}

TEST_F(ProgressWindowTest, EndlessBarStepsByTenAndStartsOverWhenFull) {
  progress_.StartEndless();
  window_.Refresh();
  EXPECT_FALSE(bar()->isTextVisible());
  EXPECT_TRUE(QTest::qWaitFor([&] { return bar()->value() == 10; }, 3000));
  bar()->setValue(100);
  EXPECT_TRUE(QTest::qWaitFor([&] { return bar()->value() == 0; }, 3000));
}

TEST_F(ProgressWindowTest, TimeLeftShownOnlyOnRunsOverAFewSeconds) {
  progress_.StartCounted(100);
  progress_.Advance(25);
  clock_.Advance(2000);
  window_.Refresh();
  EXPECT_TRUE(Child<QLabel>("time_left")->text().isEmpty());
  clock_.Advance(2000);
  window_.Refresh();
  EXPECT_EQ(Child<QLabel>("time_left")->text(), QStringLiteral("About 0:12 left"));
  progress_.Finish();
  window_.Refresh();
  EXPECT_TRUE(Child<QLabel>("time_left")->text().isEmpty());
  EXPECT_EQ(bar()->value(), 100);
}

TEST_F(ProgressWindowTest, CancelOnlyWhereOfferedAndTheWindowStaysUntilTheEnd) {
  QSignalSpy spy(&window_, &CProgressWindow::cancelRequested);
  window_.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  QTest::keyClick(&window_, Qt::Key_Escape);
  window_.close();
  EXPECT_TRUE(window_.isVisible());
  EXPECT_FALSE(progress_.CancelRequested());
  EXPECT_FALSE(Child<QPushButton>("cancel")->isVisible());
  window_.SetCancellable(true);
  QTest::mouseClick(Child<QPushButton>("cancel"), Qt::LeftButton);
  EXPECT_TRUE(progress_.CancelRequested());
  EXPECT_EQ(spy.count(), 1);
  EXPECT_TRUE(window_.isVisible());  // until the operation has stopped
  window_.CloseFinished();
  EXPECT_FALSE(window_.isVisible());
}

}  // namespace
}  // namespace dovrane::services
